#pragma once

#include <string>

inline constexpr const char* kSettingsFileName = "setting.txt";

// Reads the device names from the settings file; names without a line in the file keep their
// value. Nothing happens when the file cannot be opened.
void LoadSettingsFile(const std::string& path, std::string& inName, std::string& outName);

// Applies one line of the settings file.
void ParseSettingsLine(const std::string& line, std::string& inName, std::string& outName);

// Writes the header and both names. False when the file could not be written (the old file is
// then left whole).
bool SaveSettingsFile(const std::string& path, const std::string& inName,
                      const std::string& outName);
