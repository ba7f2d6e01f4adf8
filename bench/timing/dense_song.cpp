#include "dense_song.h"

#include <random>

#include "midi_file_writer/midi_file_bytes.h"

namespace {

using Track = std::vector<midi_file::TimedBytes>;  // 500 ticks a quarter at 120 bpm: 1 tick, 1 ms

}  // namespace

std::vector<uint8_t> GenerateDenseSong(uint32_t seconds, bool lessonChords) {
    const int channels = lessonChords ? 15 : 16;
    std::vector<Track> tracks(static_cast<size_t>(channels));
    std::mt19937 rng(12345);
    const uint32_t end = seconds * 1000;
    // Note-on and note-off pairs: 150 notes a second over all channels is 300 messages.
    for (uint32_t t = 0; t < end; t += 20) {
        for (int n = 0; n < 3; ++n) {
            const int ch = 1 + static_cast<int>(rng() % static_cast<unsigned>(channels - 1));
            const uint8_t key = static_cast<uint8_t>(36 + rng() % 48);
            const uint32_t at = t + rng() % 20;
            const uint32_t length = 30 + rng() % 400;
            tracks[static_cast<size_t>(ch)].push_back(
                {at, {static_cast<uint8_t>(0x90 | ch), key, 90}});
            tracks[static_cast<size_t>(ch)].push_back(
                {at + length, {static_cast<uint8_t>(0x80 | ch), key, 64}});
        }
    }
    if (lessonChords) {
        for (uint32_t t = 1000; t + 1000 < end; t += 400) {
            const int notes = 1 + static_cast<int>(rng() % 3);
            const uint8_t root = static_cast<uint8_t>(60 + rng() % 12);
            for (int i = 0; i < notes; ++i) {
                const uint8_t key = static_cast<uint8_t>(root + 4 * i);
                tracks[0].push_back({t, {0x90, key, 100}});
                tracks[0].push_back({t + 200, {0x80, key, 64}});
            }
            tracks[1].push_back({t, {0x91, 40, 100}});
            tracks[1].push_back({t + 100, {0x81, 40, 64}});
        }
    } else {
        for (uint32_t t = 0; t < end; t += 250) {
            tracks[0].push_back({t, {0x90, 72, 100}});
            tracks[0].push_back({t + 120, {0x80, 72, 64}});
        }
    }
    std::vector<uint8_t> file = midi_file::HeaderChunk(1, static_cast<uint16_t>(channels), 500);
    for (Track& track : tracks) {
        const std::vector<uint8_t> chunk = midi_file::TrackChunk(std::move(track));
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}
