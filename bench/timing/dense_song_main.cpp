// Writes the generated dense song to a file, for measuring the window while it plays:
//   pelorvane-dense-song OUT.mid [SECONDS]

#include <cstdio>
#include <cstdlib>

#include "dense_song.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.mid [SECONDS]\n", argv[0]);
        return 2;
    }
    const long seconds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 120;
    const std::vector<uint8_t> bytes =
        GenerateDenseSong(static_cast<uint32_t>(seconds > 0 ? seconds : 120), false);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        std::perror(argv[1]);
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
