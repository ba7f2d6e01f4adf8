// The playback clock's plan: how long nothing can change, and the quiet ticks made up for.

#include "engine/clock_schedule.h"

#include <algorithm>
#include <limits>

#include "engine/key_state.h"
#include "engine/performance.h"

namespace clock_schedule {

namespace {

constexpr uint32_t kNever = std::numeric_limits<uint32_t>::max();

// Milliseconds until UpdateKeyLights would send something by itself, or kNever.
uint32_t UntilLightsChange(const Performance& p, uint32_t now) {
    if (!p.HasOutput()) {
        return kNever;
    }
    const bool phaseOn = FlashPhaseOn(now);
    bool flashing = false;
    for (const KeyLight& light : p.GetKeyLights().Keys()) {
        const bool flashes = light.preLit && !light.lit;
        const uint8_t show = flashes ? (phaseOn ? 1 : 0) : light.lit;
        if (show != light.shown) {
            return 1;  // not yet sent: a command changed it since the tick, or the tick skipped it
        }
        flashing = flashing || flashes;
    }
    if (!flashing) {
        return kNever;
    }
    // Lit for the first 10 ms of every 32.
    const uint32_t phase = now & 31u;
    return phase < 10 ? 10 - phase : 32 - phase;
}

// Milliseconds until an advance brings the song time to `target` at the current speed.
uint32_t UntilSongTime(const Performance& p, uint32_t target) {
    const Player& player = p.GetPlayer();
    if (player.SpeedChanged() || player.SpeedPercent() <= 0) {
        return 1;  // the next advance re-bases; plan from there
    }
    if (target <= player.SpeedBaseSongTime()) {
        return 1;
    }
    const uint64_t speed = static_cast<uint64_t>(player.SpeedPercent());
    const uint64_t played = player.PlayedTime() - player.SpeedBasePlayed();
    const uint64_t need = target - player.SpeedBaseSongTime();
    // The fewest played milliseconds since the re-base whose song time reaches the target.
    const uint64_t reach = (need * 100 + speed - 1) / speed;
    if (reach * speed > std::numeric_limits<uint32_t>::max() ||
        played * speed > std::numeric_limits<uint32_t>::max()) {
        return 1;  // the song time's product wraps; only ticking every millisecond is exact
    }
    if (reach <= played) {
        return 1;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(reach - played, kNever));
}

bool ChordFullyPreLit(const Performance& p) {
    const Chord& chord = p.GetLesson().PendingChord();
    for (int s = 0; s < chord.count; ++s) {
        if (!p.GetKeyLights().Key(p.GetTimeline()[chord.index[s]].data1).preLit) {
            return false;
        }
    }
    return true;
}

// Milliseconds until the song itself changes what is sent: the next event or chord due, or the
// next chord's pre-light.
uint32_t UntilSongChanges(const Performance& p) {
    const Timeline& timeline = p.GetTimeline();
    const Player& player = p.GetPlayer();
    const Chord& pending = p.GetLesson().PendingChord();
    const bool chord = pending.count > 0;
    const uint32_t chordTime = chord ? timeline[pending.index[0]].time : 0;
    const uint32_t preLightFrom =
        chordTime < Performance::kPreLightLead ? 0 : chordTime - Performance::kPreLightLead;
    const bool preLightPending = chord && p.GetLesson().PreLight() && !ChordFullyPreLit(p);
    if (p.Waiting()) {
        // The song time stands; each advance only pre-lights the next chord again.
        const bool inWindow = player.SongTime() < chordTime && preLightFrom <= player.SongTime();
        return preLightPending && inWindow ? 1 : kNever;
    }
    // A loop's end: song time stops short of it and the loop goes back to its start there.
    const bool limited = player.SongTimeLimit() != kNever;
    if (player.Cursor() >= timeline.Size()) {
        return limited ? UntilSongTime(p, player.SongTimeLimit()) : 1;
    }
    uint32_t target = std::min(timeline[player.Cursor()].time, player.SongTimeLimit());
    if (chord) {
        target = std::min(target, chordTime);
        if (preLightPending) {
            target = std::min(target, preLightFrom);
        }
    }
    return UntilSongTime(p, target);
}

}  // namespace

NextTick PlanNextTick(const Performance* p, PlayState state, uint32_t now) {
    NextTick next;
    if (state == Starting) {
        return next;
    }
    uint32_t lights = kNever;
    uint32_t song = kNever;
    if (p) {
        lights = UntilLightsChange(*p, now);
        if (state == Playing) {
            song = UntilSongChanges(*p);
        }
    }
    next.ms = std::clamp<uint32_t>(std::min(lights, song), 1, kMaxSleepMs);
    next.lightsOnly = lights < song;
    return next;
}

void CatchUpQuietTicks(Performance& p, uint32_t quietMs, int32_t speedOfLastAdvance) {
    if (quietMs == 0 || p.Waiting()) {
        return;
    }
    const Player::Speed speed = p.ExchangeSpeed({speedOfLastAdvance, 0});
    const uint32_t to = p.GetPlayer().LastElapsed() + quietMs;
    while (to - p.GetPlayer().LastElapsed() > Performance::kMaxClockStep) {
        p.Advance(p.GetPlayer().LastElapsed() + Performance::kMaxClockStep);
    }
    p.Advance(to);
    p.ExchangeSpeed(speed);
}

}  // namespace clock_schedule
