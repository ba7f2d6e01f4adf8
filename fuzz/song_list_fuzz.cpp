// Feeds arbitrary bytes to the song list reader as a whole file, line by line as the program
// reads it, and checks that every song it accepts is written back so that it reads the same.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/text_file.h"
#include "song/song_list.h"

namespace {

void Fail(const char* what, const std::string& line) {
    std::fprintf(stderr, "%s: [%s]\n", what, line.c_str());
    std::abort();
}

bool SameSong(const SongEntry& a, const SongEntry& b) {
    if (a.m_path != b.m_path || a.m_title != b.m_title) {
        return false;
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (a.m_channels[ch].m_practice != b.m_channels[ch].m_practice) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadWholeTextLinesFromBuffer(
        reinterpret_cast<const char*>(data), size, [](const std::string& line) {
            if (line.find('\n') != std::string::npos) {
                Fail("line holds a line end", line);
            }
            if (!IsValidUtf8(line)) {
                Fail("piece is not UTF-8", line);
            }
            SongEntry entry;
            if (!ParseSongListLine(line, entry)) {
                return;
            }
            if (entry.m_midiData != nullptr) {
                Fail("a read song is loaded", line);
            }
            // What the writer cannot keep: line breaks in a title become blanks, and a path that
            // holds the separator between path and title cannot be told from it.
            if (entry.m_title.find_first_of("\r\n") != std::string::npos ||
                entry.m_path.find("\", \"") != std::string::npos) {
                return;
            }
            const std::string written = FormatSongListLine(entry);
            SongEntry again;
            if (!ParseSongListLine(written, again) || !SameSong(entry, again)) {
                Fail("does not read back as written", written);
            }
        });
    return 0;
}
