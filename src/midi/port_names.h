#pragma once

#include <string>
#include <vector>

// Turning the port names that the MIDI system reports into the names the user sees and stores:
// stable across replugging and restarts, unique, in a stable order, without our own ports.

enum class PortSystem { Alsa, Jack };

// Name of the program's own MIDI clients and ports.
inline constexpr const char* kOwnClientName = "Pelorvane";

struct SystemPort {
    std::string name;    // as the user sees it
    unsigned index = 0;  // position in the MIDI system's own list
};

// Drops the parts of a reported name that change when a device is replugged or a program
// restarts: ALSA's trailing "client:port" numbers, a2jmidid's "[client]".
std::string StablePortName(const std::string& reported, PortSystem system);

// True for ports that belong to this program (its clients are all called "Pelorvane", JACK
// numbers further clients "Pelorvane-01" and so on).
bool IsOwnPort(const std::string& reported, PortSystem system);

// From the reported names (in the system's order) to the user's list: own ports removed,
// hardware first, then software ports, then the system's helpers, each group by name; repeated
// names get " 2", " 3" in list order.
std::vector<SystemPort> MakePortList(const std::vector<std::string>& reported, PortSystem system);
