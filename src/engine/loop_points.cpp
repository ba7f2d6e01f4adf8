#include "engine/loop_points.h"

LoopPointResult LoopWithA(std::optional<LoopSpan> loop, uint32_t beat, uint32_t songEndMs) {
    const uint32_t b = loop && loop->b > beat ? loop->b : songEndMs;
    if (beat >= b) {
        return {std::nullopt, LoopPointRefusal::AAtEnd};
    }
    return {LoopSpan{beat, b}, LoopPointRefusal::None};
}

LoopPointResult LoopWithB(std::optional<LoopSpan> loop, uint32_t beat) {
    const uint32_t a = loop ? loop->a : 0;
    if (beat <= a) {
        return {std::nullopt, LoopPointRefusal::BNotAfterA};
    }
    return {LoopSpan{a, beat}, LoopPointRefusal::None};
}
