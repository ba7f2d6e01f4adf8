#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/text_file.h"
#include "song/song_list.h"

// A line of the song list file:  "<path>", "<title>",0x<mask>
// Path and title are written as they are, without escaping. A line with exactly four quotes is
// read by its quotes; a line with more (a path or title that holds a quote) is read by its
// fixed frame instead, so that such a song comes back as it was saved.

namespace {

constexpr std::string_view kSeparator = "\", \"";
constexpr std::string_view kMaskPrefix = ",0x";
constexpr std::string_view kTitleEnd = "\",0x";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// ",0x" followed at once by at least one hex digit. Digits beyond 32 bits wrap, which only
// touches bits above the sixteen channels. rest receives what follows the digits.
bool ScanMask(std::string_view text, uint32_t& mask, std::string_view& rest) {
    if (text.substr(0, kMaskPrefix.size()) != kMaskPrefix) {
        return false;
    }
    std::size_t i = kMaskPrefix.size();
    uint32_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && HexValue(text[i]) >= 0; ++i, ++digits) {
        value = (value << 4) | static_cast<uint32_t>(HexValue(text[i]));
    }
    if (digits == 0) {
        return false;
    }
    mask = value;
    rest = text.substr(i);
    return true;
}

void SetPractice(SongEntry& entry, uint32_t mask) {
    for (int ch = 0; ch < 16; ++ch) {
        entry.m_channels[ch].m_practice = (mask >> ch) & 1u;
    }
}

// The frame that FormatSongListLine writes: a quote at the start, the first ", " separator
// after it, and the last "," 0x before a mask that ends the line (blanks may trail). The path
// must not hold the separator itself; the title may hold anything.
bool ParseFramedLine(std::string_view line, SongEntry& entry) {
    if (line.empty() || line.front() != '"') {
        return false;
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    std::size_t separator = line.find(kSeparator, 1);
    std::size_t titleEnd = line.rfind(kTitleEnd);
    if (separator == std::string_view::npos || titleEnd == std::string_view::npos ||
        titleEnd < separator + kSeparator.size()) {
        return false;
    }
    uint32_t mask = 0;
    std::string_view rest;
    if (!ScanMask(line.substr(titleEnd + 1), mask, rest) || !rest.empty()) {
        return false;
    }
    entry.m_path = std::string(line.substr(1, separator - 1));
    std::size_t titleStart = separator + kSeparator.size();
    entry.m_title = std::string(line.substr(titleStart, titleEnd - titleStart));
    SetPractice(entry, mask);
    return true;
}

}  // namespace

bool ParseSongListLine(const std::string& text, SongEntry& entry) {
    std::string_view line(text);
    std::size_t quotes[4];
    std::size_t found = 0;
    for (std::size_t i = 0; i < line.size() && found < 4; ++i) {
        if (line[i] == '"') {
            quotes[found++] = i;
        }
    }
    if (found < 4) {
        return false;
    }
    entry = SongEntry{};
    if (line.find('"', quotes[3] + 1) != std::string_view::npos && ParseFramedLine(line, entry)) {
        return true;
    }
    entry.m_path = std::string(line.substr(quotes[0] + 1, quotes[1] - quotes[0] - 1));
    entry.m_title = std::string(line.substr(quotes[2] + 1, quotes[3] - quotes[2] - 1));
    uint32_t mask = 0;
    std::string_view rest;
    if (ScanMask(line.substr(quotes[3] + 1), mask, rest)) {
        SetPractice(entry, mask);
    }
    return true;
}

bool SongListCanHold(const std::string& path) {
    if (path.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    // Both ways a line is read: by its four quotes, and by its frame when a title holds quotes.
    for (const char* title : {"t", "\""}) {
        SongEntry probe;
        probe.m_path = path;
        probe.m_title = title;
        SongEntry back;
        if (!ParseSongListLine(FormatSongListLine(probe), back) || back.m_path != path) {
            return false;
        }
    }
    return true;
}

std::string FormatSongListLine(const SongEntry& entry) {
    unsigned mask = 0;
    for (int ch = 0; ch < 16; ++ch) {
        if (entry.m_channels[ch].m_practice != 0) {
            mask |= 1u << ch;
        }
    }
    char maskText[16];
    std::snprintf(maskText, sizeof maskText, ",0x%04x", mask);
    std::string title = entry.m_title;
    // A line break would split the song's line in two and lose the song.
    for (char& c : title) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return "\"" + entry.m_path + std::string(kSeparator) + title + "\"" + maskText;
}

bool ReadSongList(SongList& list, const std::string& path) {
    // A path may be as long as the system allows, so lines are read whole, not in pieces.
    return ReadWholeTextLines(path, [&list](const std::string& line) {
        SongEntry entry;
        if (ParseSongListLine(line, entry)) {
            list.m_entries.push_back(std::move(entry));
        }
    });
}

bool SaveSongList(const SongList& list, const std::string& path) {
    std::vector<std::string> lines;
    lines.reserve(list.m_entries.size());
    for (const SongEntry& entry : list.m_entries) {
        lines.push_back(FormatSongListLine(entry));
    }
    return WriteTextFileAtomically(path, lines);
}
