#pragma once

#include <cstdint>
#include "ui_test_support.h"

// The window on the manual clock, set to 1024 ms: its clock thread ticks only when the test moves
// the clock.
class ClockedWindowTest : public WindowTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Moves the clock by ms and waits for the clock thread's tick at the new value.
    void Tick(uint32_t ms);
    // The performance's song time, 0 without one.
    uint32_t SongTime();
    // True while the lesson waits for the player's chord.
    bool Waiting();
};
