#include "play_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::optional<PlayOptions> Parse(const std::vector<const char*>& args,
                                 std::string* error = nullptr) {
    std::vector<char*> argv = {const_cast<char*>("pelorvane-play")};
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    std::string ignored;
    return ParsePlayOptions(static_cast<int>(argv.size()), argv.data(), error ? *error : ignored);
}

TEST(PlayOptionsTest, ReadsEveryOption) {
    auto options = Parse({"--in", "Keys:In 1", "--out", "内蔵シンセサイザー", "--mode", "lesson",
                          "--speed", "80", "--practice", "1,16,3", "song.mid"});
    ASSERT_TRUE(options);
    EXPECT_EQ("Keys:In 1", options->inName.value());
    EXPECT_EQ("内蔵シンセサイザー", options->outName.value());
    EXPECT_EQ(PlayMode::MyPaceLesson, options->mode);
    EXPECT_EQ(1, options->speedPosition);
    EXPECT_TRUE(options->practice[0]);
    EXPECT_TRUE(options->practice[2]);
    EXPECT_TRUE(options->practice[15]);
    EXPECT_FALSE(options->practice[1]);
    EXPECT_EQ("song.mid", options->file);

    auto defaults = Parse({"song.mid"});
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->inName);
    EXPECT_FALSE(defaults->outName);
    EXPECT_EQ(PlayMode::ModelPerformance, defaults->mode);
    EXPECT_EQ(3, defaults->speedPosition);
    EXPECT_TRUE(Parse({"--list"}));
    EXPECT_EQ("-odd.mid", Parse({"--", "-odd.mid"})->file);
}

TEST(PlayOptionsTest, RejectsMistakesWithAReason) {
    for (const auto& args : std::vector<std::vector<const char*>>{
             {},
             {"--speed", "73", "a.mid"},
             {"--practice", "0", "a.mid"},
             {"--practice", "17", "a.mid"},
             {"--practice", "1,,2", "a.mid"},
             {"--mode", "karaoke", "a.mid"},
             {"--in"},
             {"--volume", "3", "a.mid"},
             {"a.mid", "b.mid"},
         }) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace

TEST(PlayOptionsTest, HandAndSplitKeyAreReadAndBadOnesRefused) {
    auto options = Parse({"--hand", "left", "--split", "55", "song.mid"});
    ASSERT_TRUE(options);
    EXPECT_EQ(Hand::Left, options->hand);
    EXPECT_EQ(55, options->splitKey);
    EXPECT_EQ(Hand::Both, Parse({"song.mid"})->hand);
    EXPECT_EQ(60, Parse({"song.mid"})->splitKey);
    EXPECT_EQ(Hand::Right, Parse({"--hand", "right", "--split", "0", "song.mid"})->hand);
    std::string error;
    EXPECT_FALSE(Parse({"--hand", "Right", "song.mid"}, &error));
    EXPECT_EQ("hand must be both, right or left: Right", error);
    for (const char* bad : {"128", "-1", "", "6O", "1000"}) {
        error.clear();
        EXPECT_FALSE(Parse({"--split", bad, "song.mid"}, &error)) << bad;
        EXPECT_EQ(std::string("split key must be 0-127: ") + bad, error);
    }
}

namespace {

TEST(PlayOptionsTest, ReadsTheTimeKeepingOptionsAndRefusesTheirMistakes) {
    auto options = Parse({"--speed", "65", "--metronome", "--count-in", "2", "--mode",
                          "accompaniment", "--loop", "2-3", "--trainer", "60:5:100", "a.mid"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->exactSpeed, 65);
    EXPECT_EQ(options->speedPosition, 0);
    EXPECT_TRUE(options->metronome);
    EXPECT_EQ(options->countInBars, 2);
    ASSERT_TRUE(options->trainer);
    EXPECT_EQ(options->trainer->start, 60);
    EXPECT_EQ(options->trainer->step, 5);
    EXPECT_EQ(options->trainer->goal, 100);
    // The old five speeds are the slider's positions, as before.
    options = Parse({"--speed", "120", "a.mid"});
    EXPECT_EQ(options->speedPosition, 4);
    EXPECT_FALSE(options->exactSpeed);
    EXPECT_FALSE(options->metronome);
    EXPECT_EQ(options->countInBars, 0);
    EXPECT_EQ(Parse({"--speed", "30", "a.mid"})->exactSpeed, 30);

    for (const auto& args : std::vector<std::vector<const char*>>{
             {"--speed", "25", "a.mid"},
             {"--speed", "155", "a.mid"},
             {"--speed", "-50", "a.mid"},
             {"--speed", "0100", "a.mid"},
             {"--count-in", "3", "a.mid"},
             {"--count-in", "-1", "a.mid"},
             {"--mode", "lesson", "--loop", "1-2", "--trainer", "60:0:100", "a.mid"},
             {"--mode", "lesson", "--loop", "1-2", "--trainer", "60:5:155", "a.mid"},
             {"--mode", "lesson", "--loop", "1-2", "--trainer", "100:5:60", "a.mid"},
             {"--mode", "lesson", "--loop", "1-2", "--trainer", "60:5", "a.mid"},
             {"--mode", "lesson", "--trainer", "60:5:100", "a.mid"},
             {"--loop", "1-2", "--trainer", "60:5:100", "a.mid"},
             {"--mode", "lesson", "--loop", "1-2", "--repeat", "3", "--trainer", "60:5:100",
              "a.mid"},
         }) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[1];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
