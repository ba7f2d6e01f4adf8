#pragma once

#include <cstdint>
#include <vector>

// What the learner played in one run, each thing at the song time it was played at (ms at
// normal speed): a lesson's waits hold it at the awaited chord, a loop's pass at its own part.
struct TakeEvent {
    enum Kind : uint8_t { NoteOn, NoteOff, Pedal };
    uint32_t songMs = 0;
    Kind kind = NoteOn;
    uint8_t key = 0;    // NoteOn, NoteOff
    uint8_t value = 0;  // NoteOn: velocity (1-127); Pedal: its position (0-127)
    // How long the song had stood still in the run before this (a lesson's waits), in ms at
    // normal speed: played at the learner's own pace, it comes this much after its song time.
    // Never less than the event's before it.
    uint32_t waitedMs = 0;
    friend bool operator==(const TakeEvent&, const TakeEvent&) = default;
};

// In the order played; every note that starts in it also ends in it.
using Take = std::vector<TakeEvent>;
