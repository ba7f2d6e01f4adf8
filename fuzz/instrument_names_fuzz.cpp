// Feeds arbitrary bytes to the instrument-name reader as the contents of inst_name_gm.txt.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/text_file.h"
#include "song/instrument_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/pelorvane_fuzz_inst_" + std::to_string(getpid()) + ".txt";
    static const bool cleanup = std::atexit([] { unlink(path.c_str()); }) == 0;
    (void)cleanup;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::abort();
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    SetInstrumentNameFileForTest(path);
    for (unsigned program = 0; program < 130; ++program) {
        const auto name = GetInstrumentName(program);
        if (program >= 128 && name.has_value()) {
            std::abort();
        }
        if (name && (!IsValidUtf8(*name) || name->find_first_of("\r\n") != std::string::npos)) {
            std::fprintf(stderr, "bad name for %u: [%s]\n", program, name->c_str());
            std::abort();
        }
    }
    return 0;
}
