#include "ui/beat_mark.h"

#include "smf/meter_map.h"

BeatMark BeatMarkAt(const SongClock::Reading& clock, const smf::MeterMap& meter, uint32_t nowMs) {
    BeatMark mark;
    if (clock.countInBeat > 0) {
        mark.countIn = true;
        mark.beat = clock.countInBeat;
        mark.beats = clock.countInBeats;
        mark.accent = clock.countInAccent;
        mark.lit = nowMs - clock.countInClickMs < kBeatFlashMs;
        return mark;
    }
    const uint32_t songMs = clock.At(nowMs);
    const smf::BarBeat at = meter.AtMs(songMs);
    mark.beat = at.beat;
    mark.beats = meter.BeatsInBar(at.bar);
    mark.accent = at.beat == 1;
    if (clock.playing && !clock.waiting && clock.speedPercent > 0) {
        // The flash is clock time, so that it looks the same at every speed.
        const uint64_t sinceBeat = songMs - meter.BeatMs(at.bar, at.beat);
        mark.lit = sinceBeat * 100 / clock.speedPercent < kBeatFlashMs;
    }
    return mark;
}
