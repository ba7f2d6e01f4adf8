#pragma once

#include <cstddef>
#include <string>

#include "platform/text_file.h"
#include "smf/smf.h"

// What every song the reader returns must hold, whatever file it came from. Returns an empty
// string when all is well, else what is wrong. Reads every data byte, so that a sanitizer sees
// any that lies outside the song.
inline std::string CheckSongInvariants(const smf::Song& song, std::size_t fileSize) {
    if (!IsValidUtf8(song.Title())) {
        return "title is not UTF-8";
    }
    std::size_t stored = 0;
    unsigned checksum = 0;
    for (const smf::Track& track : song.Tracks()) {
        uint32_t previousTick = 0;
        uint32_t previousMs = 0;
        for (const smf::Event& e : track.events) {
            const uint32_t ms = song.TickToMs(e.tick);
            if (e.tick < previousTick || ms < previousMs) {
                return "time goes back within a track";
            }
            previousTick = e.tick;
            previousMs = ms;
            const uint8_t* bytes = song.Data(e);
            for (uint32_t i = 0; i < e.length; ++i) {
                checksum += bytes[i];
            }
            stored += e.length;
            if (e.kind >= 0x80 && e.kind <= 0xEF) {
                const uint32_t expected = (e.kind & 0xE0) == 0xC0 ? 2 : 3;
                if (e.length != expected || bytes[0] != e.kind || (bytes[1] & 0x80) != 0 ||
                    (expected == 3 && (bytes[2] & 0x80) != 0)) {
                    return "malformed channel message";
                }
            } else if (e.kind == 0xF0) {
                if (e.length == 0 || bytes[0] != 0xF0) {
                    return "system exclusive message without its F0";
                }
            } else if (e.kind != 0xF7 &&
                       (e.kind < smf::kMetaBase || e.kind > smf::kMetaBase + 0xFF)) {
                return "unknown event kind";
            }
        }
    }
    // Every data byte comes from the file: a song never holds more than its file had.
    if (stored > fileSize) {
        return "more data bytes than the file had";
    }
    volatile unsigned sink = checksum;
    (void)sink;
    return {};
}
