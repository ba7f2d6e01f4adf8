// Writes a dense song for measuring the window while it plays: 16 channels, each starting a
// note every 50 ms (320 notes a second) of 40 to 400 ms, keys spread over C2-C7.
//   pelorvane-dense-song OUT.mid [SECONDS]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/note_spans.h"
#include "midi_file_writer/midi_file_bytes.h"
#include "smf/smf.h"

namespace {

std::vector<uint8_t> DenseSong(uint32_t seconds) {
    std::mt19937 random(13);
    std::vector<midi_file::TimedBytes> events;
    for (uint8_t ch = 0; ch < 16; ++ch) {
        for (uint32_t t = ch * 3; t < seconds * 1000; t += 50) {
            const uint8_t key = static_cast<uint8_t>(36 + random() % 61);
            const uint32_t length = 40 + random() % 361;
            events.push_back({t, {static_cast<uint8_t>(0x90 | ch), key, 90}});
            events.push_back({t + length, {static_cast<uint8_t>(0x80 | ch), key, 0}});
        }
    }
    // 500 ticks a quarter at 120 a minute: a tick is 1 ms.
    std::vector<uint8_t> file = midi_file::HeaderChunk(0, 1, 500);
    const std::vector<uint8_t> track = midi_file::TrackChunk(std::move(events));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.mid [SECONDS]\n", argv[0]);
        return 2;
    }
    const long given = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 120;
    const uint32_t seconds = static_cast<uint32_t>(given > 0 && given < 3600 ? given : 120);
    const std::vector<uint8_t> bytes = DenseSong(seconds);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    // How dense it is, as the falling-notes view sees it.
    if (const auto song = smf::LoadFromMemory(bytes.data(), bytes.size())) {
        const size_t notes = NoteSpans::FromSong(*song)->Count();
        std::printf("%zu notes in %u s: %.0f notes a second\n", notes, seconds,
                    double(notes) / seconds);
    }
    return 0;
}
