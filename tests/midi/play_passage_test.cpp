// --from, --loop and --repeat of pelorvane-play: read from the command line, then turned into
// song time with the song's bars.

#include <gtest/gtest.h>

#include <vector>

#include "play_options.h"
#include "play_passage.h"
#include "smf/smf.h"
#include "smf_bytes.h"

namespace {

std::optional<PlayOptions> Parse(std::vector<const char*> args, std::string* error = nullptr) {
    args.insert(args.begin(), "pelorvane-play");
    std::string ignored;
    return ParsePlayOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()),
                            error ? *error : ignored);
}

TEST(PlayPassageTest, ReadsBarsAndPassesAndRefusesWhatCannotBe) {
    auto options = Parse({"--from", "3", "--loop", "2-5", "--repeat", "4", "song.mid"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->fromBar, 3u);
    EXPECT_EQ(options->loopBars, (std::pair<uint32_t, uint32_t>{2, 5}));
    EXPECT_EQ(options->repeat, 4);

    options = Parse({"--loop", "7-7", "song.mid"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->repeat, 1) << "one pass unless told";

    for (std::vector<const char*> bad : {std::vector<const char*>{"--from", "0", "s.mid"},
                                         {"--from", "x", "s.mid"},
                                         {"--loop", "5-2", "s.mid"},
                                         {"--loop", "3", "s.mid"},
                                         {"--loop", "-3", "s.mid"},
                                         {"--loop", "1-2", "--repeat", "0", "s.mid"},
                                         {"--repeat", "2", "s.mid"},
                                         {"--from"}}) {
        std::string error;
        EXPECT_FALSE(Parse(bad, &error)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_FALSE(error.empty());
    }
}

// 3/4 at 120 a minute, 480 ticks a quarter: a bar is 1500 ms; the song has 4 bars.
smf::MeterMap WaltzOfFourBars() {
    using namespace smf_bytes;
    const Bytes file =
        File({Header(0, 1, 480), Track({Meta(0, 0x58, {3, 2, 24, 8}), Ev(0, {0x90, 60, 100}),
                                        Ev(5760, {0x80, 60, 0}), EndOfTrack()})});
    auto song = smf::LoadFromMemory(file.data(), file.size());
    return smf::MeterMap(*song);
}

TEST(PlayPassageTest, BarsBecomeSongTimeFromTheStartOfAToTheEndOfB) {
    const smf::MeterMap meter = WaltzOfFourBars();
    ASSERT_EQ(meter.BarCount(), 4u);
    std::string error;

    auto plan = PlanPassage(*Parse({"--loop", "2-3", "--repeat", "2", "s.mid"}), meter, error);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->loop, (LoopSpan{1500, 4500}));
    EXPECT_EQ(plan->passes, 2);
    EXPECT_EQ(plan->startMs, 1500u) << "a loop alone starts at A";

    plan = PlanPassage(*Parse({"--from", "4", "s.mid"}), meter, error);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->startMs, 4500u);
    EXPECT_FALSE(plan->loop);

    plan = PlanPassage(*Parse({"--from", "1", "--loop", "4-4", "s.mid"}), meter, error);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->startMs, 0u);
    EXPECT_EQ(plan->loop, (LoopSpan{4500, 6000}));

    plan = PlanPassage(*Parse({"s.mid"}), meter, error);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->startMs, 0u);
    EXPECT_FALSE(plan->loop);

    EXPECT_FALSE(PlanPassage(*Parse({"--from", "5", "s.mid"}), meter, error));
    EXPECT_EQ(error, "bar 5 is past the song's end (it has 4 bars)");
    EXPECT_FALSE(PlanPassage(*Parse({"--loop", "3-9", "s.mid"}), meter, error));
}

}  // namespace
