#include "play_passage.h"

std::optional<PassagePlan> PlanPassage(const PlayOptions& options, const smf::MeterMap& meter,
                                       std::string& error) {
    PassagePlan plan;
    const uint32_t bars = meter.BarCount();
    auto tooFar = [&](uint32_t bar) {
        error = "bar " + std::to_string(bar) + " is past the song's end (it has " +
                std::to_string(bars) + (bars == 1 ? " bar)" : " bars)");
    };
    if (options.loopBars) {
        const auto [first, last] = *options.loopBars;
        if (first > bars) {
            tooFar(first);
            return std::nullopt;
        }
        if (last > bars) {
            tooFar(last);
            return std::nullopt;
        }
        plan.loop = LoopSpan{meter.BarStartMs(first), meter.BarStartMs(last + 1)};
        plan.passes = options.repeat;
        plan.startMs = plan.loop->a;
    }
    if (options.fromBar) {
        if (*options.fromBar > bars) {
            tooFar(*options.fromBar);
            return std::nullopt;
        }
        plan.startMs = meter.BarStartMs(*options.fromBar);
    }
    return plan;
}
