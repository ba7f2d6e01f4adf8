#include "platform/clock.h"
#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ClockTest, ManualClockMovesOnlyWhenTold) {
    ManualClock::Install();
    ManualClock::Set(0xFFFFFFF0u);
    EXPECT_EQ(NowMs(), 0xFFFFFFF0u);
    ManualClock::Advance(0x20);
    // Wraps; only differences count.
    EXPECT_EQ(NowMs(), 0x10u);
    EXPECT_EQ(uint32_t(NowMs() - 0xFFFFFFF0u), 0x20u);
    ManualClock::Uninstall();
    uint32_t a = NowMs();
    uint32_t b = NowMs();
    EXPECT_LT(uint32_t(b - a), 1000u);
}

namespace {
std::vector<std::string> g_lines;
void Record(std::string_view line) { g_lines.emplace_back(line); }
}  // namespace

TEST(DebugOutputTest, OneLinePerMessageWithoutLineEnd) {
    g_lines.clear();
    SetDebugSinkForTest(&Record);
    DebugOutput(">midiOutShortMsg() was fail.\n");
    DebugOutput("plain");
    SetDebugSinkForTest(nullptr);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], ">midiOutShortMsg() was fail.");
    EXPECT_EQ(g_lines[1], "plain");
}
