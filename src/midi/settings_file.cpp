#include "midi/settings_file.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "midi/device_enum.h"
#include "platform/text_file.h"

namespace {

constexpr std::string_view kSeparators = ":\r\n";
constexpr std::string_view kLineEnds = "\r\n";

// A name is one line of the file, so a line end inside it would split it.
std::string OneLine(const std::string& name) {
    std::string line = name;
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

}  // namespace

void ParseSettingsLine(const std::string& line, std::string& inName, std::string& outName) {
    std::string_view rest(line);
    std::size_t keyStart = rest.find_first_not_of(kSeparators);
    if (keyStart == std::string_view::npos) {
        return;
    }
    rest.remove_prefix(keyStart);
    std::size_t keyEnd = std::min(rest.find_first_of(kSeparators), rest.size());
    std::string key(rest.substr(0, keyEnd));
    rest.remove_prefix(keyEnd);

    std::string* target = nullptr;
    if (DeviceNamesEqual(key, "InMidiDeviceName")) {
        target = &inName;
    } else if (DeviceNamesEqual(key, "OutMidiDeviceName")) {
        target = &outName;
    } else {
        return;
    }
    // The value is everything after the separators that follow the key, so that names holding
    // colons (as ALSA and JACK names do) come back whole. It still ends at a line end.
    std::size_t valueStart = rest.find_first_not_of(kSeparators);
    if (valueStart == std::string_view::npos) {
        target->clear();
        return;
    }
    rest.remove_prefix(valueStart);
    *target = std::string(rest.substr(0, std::min(rest.find_first_of(kLineEnds), rest.size())));
}

void LoadSettingsFile(const std::string& path, std::string& inName, std::string& outName) {
    ReadTextLines(path, [&](const std::string& line) { ParseSettingsLine(line, inName, outName); });
}

bool SaveSettingsFile(const std::string& path, const std::string& inName,
                      const std::string& outName) {
    std::vector<std::string> lines = {
        "Pelorvane:1.0",
        "InMidiDeviceName:" + OneLine(inName),
        "OutMidiDeviceName:" + OneLine(outName),
    };
    return WriteTextFileAtomically(path, lines);
}
