#include "dense_song.h"

#include <algorithm>
#include <random>

namespace {

struct Item {
    uint32_t ms;
    uint8_t bytes[3];
};

void PutVarLen(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1) {
        out.push_back(groups[--n] | 0x80);
    }
    out.push_back(groups[0]);
}

void PutTrack(std::vector<uint8_t>& file, std::vector<Item>& items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.ms < b.ms; });
    std::vector<uint8_t> body;
    uint32_t last = 0;
    for (const Item& item : items) {
        PutVarLen(body, item.ms - last);  // 500 ticks a quarter at 120 bpm: a tick is 1 ms
        last = item.ms;
        body.insert(body.end(), item.bytes, item.bytes + 3);
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    const uint32_t size = static_cast<uint32_t>(body.size());
    file.insert(file.end(), {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                             static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
    file.insert(file.end(), body.begin(), body.end());
}

}  // namespace

std::vector<uint8_t> GenerateDenseSong(uint32_t seconds, bool lessonChords) {
    const int channels = lessonChords ? 15 : 16;
    std::vector<std::vector<Item>> tracks(static_cast<size_t>(channels));
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
    std::vector<uint8_t> file = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(channels), 0x01, 0xF4};
    for (auto& track : tracks) {
        PutTrack(file, track);
    }
    return file;
}
