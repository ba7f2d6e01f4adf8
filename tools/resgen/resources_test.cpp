#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "demo_songs.h"
#include "smf/smf.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Pixel (x, y) counted from the top of a bottom-up 24-bit BMP, as R, G, B.
std::array<int, 3> BmpPixel(const std::vector<uint8_t>& b, int x, int y) {
    const uint32_t width = Le32(b, 18), height = Le32(b, 22);
    const std::size_t row = (width * 3 + 3) & ~3u;
    const std::size_t at = Le32(b, 10) + (height - 1 - y) * row + x * 3;
    return {b[at + 2], b[at + 1], b[at]};
}

TEST(LedImages, AreTenByThirtyTwoTwentyFourBitWithTheirBodyColourAndTopLeftGlint) {
    struct Case {
        const char* file;
        std::array<int, 3> body;
    };
    for (const Case& c : {Case{"led_on.bmp", {120, 255, 0}}, Case{"led_off.bmp", {41, 87, 0}}}) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> b = ReadAll(std::string(PELORVANE_RES_DIR) + "/" + c.file);
        ASSERT_GE(b.size(), 54u + 32 * 32);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(Le32(b, 18), 10u);
        EXPECT_EQ(Le32(b, 22), 32u);  // positive: bottom-up, as bitmap loaders expect
        EXPECT_EQ(b[28], 24);
        EXPECT_EQ(Le32(b, 30), 0u);  // uncompressed
        EXPECT_EQ(Le32(b, 2), b.size());

        EXPECT_EQ(BmpPixel(b, 5, 16), c.body);
        EXPECT_EQ(BmpPixel(b, 9, 31), c.body);
        // The glint is lighter than the body in every channel that can grow, on the top row
        // and the left column only.
        for (auto [x, y] : {std::pair{0, 20}, std::pair{6, 0}}) {
            const auto glint = BmpPixel(b, x, y);
            for (int i = 0; i < 3; ++i) {
                EXPECT_GE(glint[i], c.body[i]);
            }
            EXPECT_GT(glint[0] + glint[1] + glint[2], c.body[0] + c.body[1] + c.body[2] + 150);
        }
    }
}

struct Notes {
    std::set<int> channelsWithNotes;
    int unmatched = 0;  // note-ons without their note-off: a stuck note
    uint32_t lastTick = 0;
};

Notes Scan(const smf::Song& song) {
    Notes n;
    std::array<int, 16 * 128> held{};
    for (const smf::Track& t : song.Tracks()) {
        for (const smf::Event& e : t.events) {
            n.lastTick = std::max(n.lastTick, e.tick);
            if (e.kind < 0x80 || e.kind > 0xEF) {
                continue;
            }
            const uint8_t* d = song.Data(e);
            const int type = e.kind & 0xF0, ch = e.kind & 0x0F;
            if (type == 0x90 && d[2] > 0) {
                n.channelsWithNotes.insert(ch);
                ++held[ch * 128 + d[1]];
            } else if (type == 0x80 || type == 0x90) {
                --held[ch * 128 + d[1]];
            }
        }
    }
    for (int h : held) {
        n.unmatched += h != 0;
    }
    return n;
}

TEST(DemoSongs, ReadBackWithTitleMelodyOnChannelOneAccompanimentAndNoStuckNote) {
    const std::vector<resgen::DemoSong> songs = resgen::MakeDemoSongs();
    ASSERT_EQ(songs.size(), 3u);
    int withDrums = 0;
    for (const resgen::DemoSong& s : songs) {
        SCOPED_TRACE(s.fileName);
        const auto song = smf::LoadFromFile(std::string(PELORVANE_RES_DIR) + "/demo/" + s.fileName);
        ASSERT_NE(song, nullptr);
        EXPECT_EQ(song->Format(), 1);
        EXPECT_EQ(song->Title(), s.title);

        const Notes n = Scan(*song);
        EXPECT_EQ(n.unmatched, 0);
        EXPECT_TRUE(n.channelsWithNotes.count(0));
        EXPECT_GE(n.channelsWithNotes.size(), 3u);
        withDrums += n.channelsWithNotes.count(9) ? 1 : 0;

        const uint32_t ms = song->TickToMs(n.lastTick);
        EXPECT_GE(ms, 30000u);
        EXPECT_LE(ms, 60000u);
    }
    EXPECT_EQ(withDrums, 1);
}

}  // namespace
