#pragma once

#include <array>
#include <cstdint>

#include "engine/part_map.h"
#include "engine/performance_event.h"
#include "engine/play_mode.h"
#include "engine/practice_choice.h"

// Where a performance stands in its timeline and how it gets there: the cursor, song time from
// clock time at the chosen speed, the loop's limit, and the volumes the play mode silences.
// Guarded by the window's play lock, like the Performance that owns it: every reader holds it.
class Player {
  public:
    static constexpr uint32_t kMaxClockStep = 100;  // ms of clock time per advance at most
    static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

    // The speed and whether it changed since the last advance.
    struct Speed {
        int32_t percent = 100;
        uint8_t changed = 0;
    };

    Player() { m_volume.fill(100); }

    // Back to the start; the speed, the volumes and the mode stay.
    void Rewind();
    // Takes the clock to elapsedMs (at most kMaxClockStep further) and gives the song time it
    // brings, which a waiting lesson holds. False when the clock has not moved on.
    bool Step(uint32_t elapsedMs, bool waiting, uint32_t& newTime);
    // Clock milliseconds of advances, at the speed as it is, until song time reaches songMs; 1
    // when only the next advance can tell (a speed to re-base on, a product that wraps).
    uint32_t ClockMsUntil(uint32_t songMs) const;
    // Everything before cursor has been played and song time stands at songTime.
    void Reach(uint32_t cursor, uint32_t songTime) {
        m_cursor = cursor;
        m_songTime = songTime;
    }
    void HoldAt(uint32_t songTime) { m_songTime = songTime; }
    // Song time goes on from songMs, at the event at position, at the speed as it is.
    void JumpTo(uint32_t position, uint32_t songMs);
    // Clock time already spent elsewhere (a jump's own moment): not played again.
    void CatchUpElapsed(uint32_t elapsedMs);
    void SetSongTimeLimit(uint32_t limit) { m_songTimeLimit = limit; }

    void SetSpeedPercent(int percent);
    // Sets the speed exactly as given and returns the one it replaces.
    Speed ExchangeSpeed(Speed speed);

    void SetMuteMode(MuteMode mode) { m_muteMode = mode; }
    // False when the channel already was (or was not) a practice channel.
    bool SetPracticeChannel(int channel, bool on);
    // False when the choice is the one already made.
    bool SetPracticeChoice(PracticeChoice choice);
    // The channels the song's part map divides into hands.
    void SetDividedChannels(uint16_t channels) { m_divided = channels; }
    // Silenced by the channel's volume.
    bool IsSilenced(int channel) const;
    // A channel that must stay audible for something else sent on it (the metronome's clicks):
    // the mode silences it by leaving out the song's notes on it, not by its volume.
    void SetSilenceByNotes(int channel, bool on);
    bool SilencedByNotes(int channel) const {
        return (m_silenceByNotes >> (channel & 0x0F) & 1u) != 0 && IsSilenced(channel);
    }
    // A note of a channel the choice divides, silenced by the mode note by note instead.
    bool IsHandSilenced(Part part) const {
        return m_muteMode != MuteNone &&
               ::IsHandSilenced(part, m_choice, m_muteMode == MutePractice);
    }
    // The volume a channel is sent now that the mode is set: 0 when silenced.
    uint8_t ApplyMute(int channel);
    // A volume change as the song plays it: remembered for the channel, and sent as 0 on a
    // channel the mode silences.
    void PlayVolume(PerformanceEvent& e);

    // Readers hold the play lock.
    uint32_t SongTime() const { return m_songTime; }
    uint32_t Cursor() const { return m_cursor; }
    uint32_t LastElapsed() const { return m_lastElapsed; }
    uint32_t PlayedTime() const { return m_playedTime; }
    int32_t SpeedPercent() const { return m_speedPercent; }
    bool SpeedChanged() const { return m_speedChanged != 0; }
    uint32_t SpeedBasePlayed() const { return m_speedBasePlayed; }
    uint32_t SpeedBaseSongTime() const { return m_speedBaseSongTime; }
    // Song time never passes this (a loop's end): what lies at or after it is not yet due.
    uint32_t SongTimeLimit() const { return m_songTimeLimit; }
    uint32_t PracticeMask() const { return m_choice.channels; }
    PracticeChoice Choice() const { return m_choice; }
    MuteMode CurrentMuteMode() const { return m_muteMode; }
    int32_t Volume(int channel) const { return m_volume[channel & 0x0F]; }
    bool Muted(int channel) const { return m_muted[channel & 0x0F] != 0; }

  private:
    uint32_t m_songTime = 0;
    uint32_t m_lastElapsed = 0;
    uint32_t m_playedTime = 0;
    uint32_t m_cursor = 0;
    std::array<int32_t, 16> m_volume;
    std::array<uint8_t, 16> m_muted{};
    int32_t m_speedPercent = 100;
    uint8_t m_speedChanged = 0;
    uint32_t m_speedBasePlayed = 0;
    uint32_t m_speedBaseSongTime = 0;
    PracticeChoice m_choice{1};
    uint16_t m_divided = 0;
    MuteMode m_muteMode = MuteNone;
    uint32_t m_songTimeLimit = kNoLimit;
    uint16_t m_silenceByNotes = 0;
};
