#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/time_source.h"

namespace smf {
class MeterMap;
}

class Player;
class Lesson;

// A click on every beat of the song, the first beat of each bar accented, sounded as General
// MIDI percussion. The clicks are tied to song time, not to the clock: they follow the speed,
// jumps and loops as the song's own events do, and stand still while the lesson waits. Guarded
// by the play lock, like the performance that owns it.
class ClickTrack : public TimeSource {
  public:
    static constexpr uint8_t kChannel = 9;     // MIDI channel 10: percussion on every GM set
    static constexpr uint8_t kAccentKey = 76;  // high wood block
    static constexpr uint8_t kBeatKey = 77;    // low wood block
    static constexpr uint8_t kAccentVelocity = 120;
    static constexpr uint8_t kBeatVelocity = 90;

    struct Beat {
        uint32_t ms = 0;  // song time at normal speed
        bool accent = false;
    };
    // A message to send: status with its channel, key, velocity.
    struct Message {
        uint8_t status = 0;
        uint8_t key = 0;
        uint8_t velocity = 0;
    };

    ClickTrack(const Player& player, const Lesson& lesson) : m_player(player), m_lesson(lesson) {}

    // Every beat of every bar up to the song's last one.
    void Build(const smf::MeterMap& meter);
    const std::vector<Beat>& Beats() const { return m_beats; }

    bool On() const { return m_on; }
    // Off: the click that sounds is ended (its note-off is returned).
    std::vector<Message> SetOn(bool on);
    // The place moved to song time songMs: the next click is the first beat at or after it.
    void MoveTo(uint32_t songMs);
    // The clicks of the beats that song time has reached by songMs, each ending the one before.
    std::vector<Message> ClickUpTo(uint32_t songMs);

    uint32_t NextDueMs(const TickMoment& tick) const override;

  private:
    const Player& m_player;
    const Lesson& m_lesson;
    std::vector<Beat> m_beats;
    size_t m_next = 0;
    bool m_on = false;
    int m_sounding = -1;  // the key of the last click, until its note-off
};
