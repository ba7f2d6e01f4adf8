#include "big_song.h"

#include <cstdio>

#include "midi_file_writer/midi_file_bytes.h"

namespace {

using midi_file::PutChunk;
using midi_file::PutVarLen;

// Small, fast, reproducible.
uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

std::vector<uint8_t> MakeBigSong(uint32_t notes) {
    constexpr int kChannels = 16;
    constexpr uint16_t kDivision = 480;
    std::vector<uint8_t> file;
    PutChunk(file, "MThd", {0, 1, 0, kChannels + 1, kDivision >> 8, kDivision & 0xFF});

    const uint32_t notesPerTrack = notes / kChannels;
    // Each note takes 120 ticks on average; a tempo change every 4 beats on average.
    const uint32_t songTicks = notesPerTrack * 120;
    std::vector<uint8_t> tempo;
    const char title[] = "Pelorvane benchmark";
    tempo.insert(tempo.end(), {0x00, 0xFF, 0x03, sizeof title - 1});
    tempo.insert(tempo.end(), title, title + sizeof title - 1);
    uint32_t state = 12345;
    for (uint32_t tick = 0, last = 0; tick < songTicks; tick += 1920) {
        PutVarLen(tempo, tick - last);
        last = tick;
        const uint32_t micros = 400000 + NextRandom(state) % 400000;
        tempo.insert(tempo.end(), {0xFF, 0x51, 0x03, uint8_t(micros >> 16), uint8_t(micros >> 8),
                                   uint8_t(micros)});
    }
    tempo.insert(tempo.end(), {0x00, 0xFF, 0x2F, 0x00});
    PutChunk(file, "MTrk", tempo);

    for (int ch = 0; ch < kChannels; ++ch) {
        std::vector<uint8_t> track;
        track.reserve(notesPerTrack * 7 + 64);
        const char name[] = "Channel";
        track.insert(track.end(), {0x00, 0xFF, 0x03, sizeof name - 1});
        track.insert(track.end(), name, name + sizeof name - 1);
        track.insert(track.end(), {0x00, uint8_t(0xC0 | ch), uint8_t(ch * 7 % 128)});
        // Two voices a third apart; note-offs are note-ons with velocity 0 so that running
        // status carries through the whole track, as most sequencers write it.
        bool first = true;
        for (uint32_t i = 0; i < notesPerTrack; i += 2) {
            const uint32_t gap = NextRandom(state) % 120;
            const uint8_t key = static_cast<uint8_t>(36 + NextRandom(state) % 48);
            const uint8_t velocity = static_cast<uint8_t>(1 + NextRandom(state) % 127);
            PutVarLen(track, gap);
            if (first) {
                track.push_back(uint8_t(0x90 | ch));
                first = false;
            }
            track.insert(track.end(), {key, velocity, 0x00, uint8_t(key + 4), velocity});
            PutVarLen(track, 120 - gap + 120);
            track.insert(track.end(), {key, 0x00, 0x00, uint8_t(key + 4), 0x00});
        }
        track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
        PutChunk(file, "MTrk", track);
    }
    return file;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
