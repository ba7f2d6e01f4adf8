#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "engine_test_support.h"
#include "platform/clock.h"

// A window core over the in-memory keyboard ("Digital Keyboard-1" in and out), with its files in
// a fresh folder and its devices open, on the manual clock set to 1000 ms: nothing moves until
// the test ticks.
class CoreFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ManualClock::Install();
        ManualClock::Set(1000);
        core = std::make_unique<TestCore>(service, dir.Path());
        core->OpenMidiDevices();
    }
    void TearDown() override {
        core.reset();
        ManualClock::Uninstall();
    }
    // Moves the clock on by ms and ticks once, as the clock thread does after a sleep.
    void AdvanceAndTick(uint32_t ms) {
        ManualClock::Advance(ms);
        core->Session().OnClockTick();
    }
    // Ticks at every millisecond on the way.
    void TickEveryMs(uint32_t ms) {
        for (uint32_t i = 0; i < ms; ++i) {
            AdvanceAndTick(1);
        }
    }

    InMemoryMidiService service{{"Digital Keyboard-1"}, {"Digital Keyboard-1"}};
    TempDir dir;
    std::unique_ptr<TestCore> core;
};
