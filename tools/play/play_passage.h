#pragma once

#include <optional>
#include <string>

#include "engine/passage.h"
#include "play_options.h"
#include "smf/meter_map.h"

// Where pelorvane-play starts and what it repeats, in song time.
struct PassagePlan {
    uint32_t startMs = 0;
    std::optional<LoopSpan> loop;
    int passes = 0;
};

// Bars of --from and --loop as the song's meter map counts them: --from starts at the beginning
// of its bar, --loop plays from the beginning of bar A to the end of bar B. A bar past the
// song's last one is a mistake, told in error.
std::optional<PassagePlan> PlanPassage(const PlayOptions& options, const smf::MeterMap& meter,
                                       std::string& error);
