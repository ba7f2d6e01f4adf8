// The playback clock's plan: the earliest moment any time source has something due.

#include "engine/clock_schedule.h"

#include <algorithm>

namespace clock_schedule {

NextTick PlanNextTick(std::span<const TimeSource* const> sources, PlayState state, uint32_t now) {
    NextTick next;
    if (state == Starting) {
        return next;
    }
    const TickMoment tick{now, state == Playing};
    uint32_t lights = TimeSource::kNever;
    uint32_t song = TimeSource::kNever;
    for (const TimeSource* source : sources) {
        if (!source) {
            continue;
        }
        uint32_t& earliest = source->LightsOnly() ? lights : song;
        earliest = std::min(earliest, source->NextDueMs(tick));
    }
    next.ms = std::clamp<uint32_t>(std::min(lights, song), 1, kMaxSleepMs);
    next.lightsOnly = lights < song;
    return next;
}

}  // namespace clock_schedule
