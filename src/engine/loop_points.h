#pragma once

#include <cstdint>
#include <optional>

#include "engine/passage.h"

// Setting one point of the A-B loop at a beat, by key or by menu alike. A point that would leave
// no passage to repeat is refused (the loop stays as it was), never taken as clearing the loop.
enum class LoopPointRefusal { None, AAtEnd, BNotAfterA };

struct LoopPointResult {
    std::optional<LoopSpan> loop;  // the new loop, when not refused
    LoopPointRefusal refusal = LoopPointRefusal::None;
};

// A at beat; B stays where it was when it lies after the beat, else goes to the song's end.
LoopPointResult LoopWithA(std::optional<LoopSpan> loop, uint32_t beat, uint32_t songEndMs);
// B at beat; A stays, or is the song's start when there is no loop.
LoopPointResult LoopWithB(std::optional<LoopSpan> loop, uint32_t beat);
