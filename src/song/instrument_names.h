#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* kInstrumentNameFileName = "inst_name_gm.txt";

// Name of a General MIDI program from inst_name_gm.txt (read once, on the first call). No name
// when the file could not be opened or the program is 128 or more.
std::optional<std::string> GetInstrumentName(unsigned program);

// Tests: forget what was read so that the next call reads the file again.
void ResetInstrumentNamesForTest();

// Tests: forget what was read and read the given file instead on the next call.
void SetInstrumentNameFileForTest(const std::string& path);
