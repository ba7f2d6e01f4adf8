// Feeds arbitrary bytes to the MIDI file reader and reads back everything a caller may read.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "smf_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto song = smf::LoadFromMemory(data, size);
    if (song) {
        const std::string problem = CheckSongInvariants(*song, size);
        if (!problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::abort();
        }
    }
    return 0;
}
