#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace resgen {

struct DemoSong {
    std::string fileName;
    std::string title;  // UTF-8, also the file's title (first track name)
    std::vector<uint8_t> bytes;
};

// Three public-domain melodies, each with the melody on MIDI channel 1 and an accompaniment on
// other channels.
std::vector<DemoSong> MakeDemoSongs();

}  // namespace resgen
