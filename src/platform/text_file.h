#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The program's text files (song list, settings, instrument names) are UTF-8 on disk whatever
// the locale says, written with CR LF, read with CR LF or LF. A line that is not valid UTF-8 is
// decoded as CP932 so that files carried over from Windows still read.

// Longest piece of a line handed out at once; a longer line arrives as several pieces.
inline constexpr std::size_t kMaxLinePiece = 2047;

// Reads the file and calls onLine for each piece (without its line end), in order. Returns
// false when the file cannot be read, or is no regular file, or is larger than
// kMaxTextFileBytes; onLine is then never called.
bool ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine);

// Same, from bytes already in memory (used by the fuzz targets and tests).
void ReadTextLinesFromBuffer(const char* data, std::size_t size,
                             const std::function<void(const std::string&)>& onLine);

// Same as the two above, but each line arrives whole however long it is: for files whose lines
// hold paths, which a cut would make into a different path.
bool ReadWholeTextLines(const std::string& path,
                        const std::function<void(const std::string&)>& onLine);
void ReadWholeTextLinesFromBuffer(const char* data, std::size_t size,
                                  const std::function<void(const std::string&)>& onLine);

// Writes the lines, each followed by CR LF, to a temporary file beside path and renames it over
// path. On any failure the old file is left whole and false is returned. Only a regular file
// that could be read is replaced (see state_file.h).
bool WriteTextFileAtomically(const std::string& path, const std::vector<std::string>& lines);

// Decodes bytes as UTF-8 when valid, else as CP932, else as Latin-1; always returns UTF-8.
std::string DecodeLegacyText(const std::string& bytes);

// True when the bytes are valid UTF-8.
bool IsValidUtf8(const std::string& bytes);
