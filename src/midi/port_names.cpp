#include "midi/port_names.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>

namespace {

bool IsDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to) {
        return false;
    }
    for (std::size_t i = from; i < to; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// ALSA reports "Client:Port 20:0"; the numbers follow the last space.
int AlsaClientNumber(const std::string& reported) {
    std::size_t space = reported.rfind(' ');
    if (space == std::string::npos) {
        return -1;
    }
    std::size_t colon = reported.find(':', space);
    if (colon == std::string::npos || !IsDigits(reported, space + 1, colon) ||
        !IsDigits(reported, colon + 1, reported.size())) {
        return -1;
    }
    return std::stoi(reported.substr(space + 1, colon - space - 1));
}

std::string ClientPart(const std::string& reported) {
    std::size_t colon = reported.find(':');
    return colon == std::string::npos ? reported : reported.substr(0, colon);
}

// Hardware ports first: they are what a player connects, so a forgotten name falls back to the
// keyboard rather than to a helper port.
int Rank(const std::string& reported, PortSystem system) {
    if (system == PortSystem::Alsa) {
        int client = AlsaClientNumber(reported);
        if (client >= 16 && client < 128) {
            return 0;  // sound cards and USB devices
        }
        return client >= 128 ? 1 : 2;  // programs; the system's own (Midi Through)
    }
    std::string client = ClientPart(reported);
    return (client == "system" || client == "a2j") ? 0 : 1;
}

}  // namespace

std::string StablePortName(const std::string& reported, PortSystem system) {
    std::string name = reported;
    if (system == PortSystem::Alsa && AlsaClientNumber(name) >= 0) {
        name.erase(name.rfind(' '));
    }
    // a2jmidid puts the ALSA client number in brackets: "a2j:Keys [20] (capture): Keys MIDI 1".
    static const std::regex bracketNumber(R"( \[\d+\])");
    name = std::regex_replace(name, bracketNumber, "");
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    return name;
}

bool IsOwnPort(const std::string& reported, PortSystem system) {
    std::string client = ClientPart(reported);
    std::string own = kOwnClientName;
    if (client == own) {
        return true;
    }
    if (system == PortSystem::Jack && client.size() > own.size() + 1 &&
        client.compare(0, own.size() + 1, own + "-") == 0 &&
        IsDigits(client, own.size() + 1, client.size())) {
        return true;
    }
    return false;
}

std::vector<SystemPort> MakePortList(const std::vector<std::string>& reported, PortSystem system) {
    struct Entry {
        int rank;
        SystemPort port;
    };
    std::vector<Entry> entries;
    for (unsigned i = 0; i < reported.size(); ++i) {
        if (!IsOwnPort(reported[i], system)) {
            entries.push_back(
                {Rank(reported[i], system), {StablePortName(reported[i], system), i}});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.port.name < b.port.name;
    });
    // Names are matched ignoring case, so uniqueness is judged the same way.
    auto fold = [](std::string text) {
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text;
    };
    std::set<std::string> taken;
    for (const auto& entry : entries) {
        taken.insert(fold(entry.port.name));
    }
    std::vector<SystemPort> ports;
    std::set<std::string> used;
    for (auto& entry : entries) {
        std::string base = entry.port.name;
        for (int n = 2; used.count(fold(entry.port.name)) != 0; ++n) {
            entry.port.name = base + " " + std::to_string(n);
            if (taken.count(fold(entry.port.name)) != 0) {
                entry.port.name = base;  // another device already has that name
            }
        }
        used.insert(fold(entry.port.name));
        ports.push_back(std::move(entry.port));
    }
    return ports;
}
