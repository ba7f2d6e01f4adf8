// Feeds arbitrary bytes to the reader of the takes kept in the practice history, and checks
// that every take it accepts is kept and read back unchanged.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/take_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<Take> take = TakeFromSmf(data, size);
    if (!take) {
        return 0;
    }
    const std::vector<uint8_t> kept = TakeToSmf(*take);
    if (TakeFromSmf(kept.data(), kept.size()) != take) {
        std::fprintf(stderr, "a take of %zu events did not read back as it was kept\n",
                     take->size());
        std::abort();
    }
    return 0;
}
