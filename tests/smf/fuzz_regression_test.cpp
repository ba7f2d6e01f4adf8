// Inputs the fuzzer once found a fault with; each must now load (or not) cleanly.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "smf_checks.h"

TEST(SmfFuzzRegressionTest, EveryKeptInputReadsCleanly) {
    const std::filesystem::path dir = PELORVANE_SMF_REGRESSION_DIR;
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        auto song = smf::LoadFromMemory(bytes.data(), bytes.size());
        if (song) {
            EXPECT_EQ(CheckSongInvariants(*song, bytes.size()), "") << entry.path();
        }
        ++count;
    }
    EXPECT_GT(count, 0u);
}
