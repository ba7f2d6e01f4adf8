#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/chord.h"
#include "engine/click_track.h"
#include "engine/key_lights.h"
#include "engine/lesson.h"
#include "engine/performance_event.h"
#include "engine/play_mode.h"
#include "engine/player.h"
#include "engine/practice_hand_over.h"
#include "engine/prepared_song.h"
#include "engine/take_replay.h"
#include "engine/time_source.h"
#include "engine/timeline.h"
#include "midi/midi_port.h"

namespace smf {
class Song;
class MeterMap;
}  // namespace smf

class PracticeQueue;

using NoteOnObserver = void (*)(void* data, int channel, int note, int velocity, bool muted);

// One song made ready to play: its timeline, shared read-only, and the parts that play it (the
// player, the lesson, the key lights and the hand-over for scoring), which this class ties
// together and sends through the output. Everything is guarded by the window's play lock,
// except the held keys, which the MIDI input thread writes without it. As a time source it is
// the song: due when its next event or chord comes due, or a chord's pre-light begins.
class Performance : public TimeSource {
  public:
    static constexpr uint32_t kMaxClockStep = Player::kMaxClockStep;
    static constexpr uint32_t kChordWindow = Lesson::kChordWindow;
    static constexpr uint32_t kPreLightLead = 1000;  // ms of song time before a chord

    // A null output sends nothing.
    explicit Performance(std::shared_ptr<MidiOut> output);
    ~Performance() override;
    Performance(const Performance&) = delete;
    Performance& operator=(const Performance&) = delete;

    // --- Timeline ------------------------------------------------------------------------------
    // Prepares the song on the spot; a caller that has it prepared already uses Use.
    void Build(const smf::Song& song);
    void Use(std::shared_ptr<const PreparedSong> song);
    const uint8_t* SysexBytes(const PerformanceEvent& e) const { return m_timeline->SysexBytes(e); }
    uint32_t SysexLength(const PerformanceEvent& e) const { return m_timeline->SysexLength(e); }

    // --- Player --------------------------------------------------------------------------------
    void Rewind();
    void Advance(uint32_t elapsedMs);
    // Advances a playing performance through `quietMs` milliseconds of clock that the clock
    // slept through, as ticks every millisecond would have: in steps the player allows, at the
    // speed of the last advance (`speedOfLastAdvance`) even when the speed has been changed
    // since, which then takes effect from the next advance, as it would have. Nothing becomes
    // due in a quiet millisecond, so nothing is sent. A lesson that waits is left alone: its
    // clock steps count for nothing, and the keys it waits for are read by the next advance.
    void AdvanceQuietly(uint32_t quietMs, int32_t speedOfLastAdvance);
    void SetSpeedPercent(int percent) { m_player.SetSpeedPercent(percent); }
    void SetMuteMode(MuteMode mode);
    void SetPracticeChannel(int channel, bool on);
    void SetPracticeChoice(PracticeChoice choice);
    // Mode settings of StartPlay: switching a flag off drops what it left behind.
    void SetWaitForPlayer(bool on);
    void SetPreLight(bool on);
    void SetNoteOnObserver(NoteOnObserver observer, void* data);
    void SetSongTimeLimit(uint32_t limit) { m_player.SetSongTimeLimit(limit); }
    // Clock time a jump already spent: the next advance does not play it again.
    void CatchUpElapsed(uint32_t elapsedMs) { m_player.CatchUpElapsed(elapsedMs); }
    // Moves the place to the event at position and song time songMs, dropping what the place
    // left behind: notes sent ahead, chords, the awaited chord and the key lights.
    void MoveTo(uint32_t position, uint32_t songMs);
    bool AtEnd() const { return m_player.Cursor() >= m_timeline->Size(); }
    bool IsSilenced(int channel) const { return m_player.IsSilenced(channel); }

    // --- Replay ----------------------------------------------------------------------------------
    // Plays the take in place of the practised parts: their notes and pedal are left out (their
    // channels stay at their volume for the take), and the take's keys and pedal sound on the
    // first of their channels, at the learner's own pace. Before the mode is set.
    void SetReplay(std::shared_ptr<const Take> take, PracticeChoice parts);
    bool Replaying() const { return m_replay != nullptr; }
    // Song time does not pass this before the replay's next wait is over (TakeReplay::kNoStop).
    uint32_t ReplayStopMs() const { return m_replay ? m_replay->StopAt() : TakeReplay::kNoStop; }
    // Lets go of whatever the take holds down (a stop).
    void ReleaseReplay();

    // --- Practice hand-over --------------------------------------------------------------------
    void SetPracticeQueue(PracticeQueue* queue) { m_handOver.SetQueue(queue); }
    void SetPracticeClockBase(uint32_t clockMs) { m_handOver.SetClockBase(clockMs); }

    // --- Output and key lights ---------------------------------------------------------------
    bool HasOutput() const { return m_hOutput != nullptr; }
    const std::shared_ptr<MidiOut>& Output() const { return m_hOutput; }
    bool SendEvent(const PerformanceEvent& event);
    // Sends a channel's state as the song left it: a volume goes through the mode's silencing.
    void SendState(PerformanceEvent event);
    void LightChord(const Chord& chord);
    void ReleaseBrightEvent(const PerformanceEvent& event);
    void UpdateKeyLights(uint32_t nowMs);
    // Clears lit and preLit of every key; the next key-light update sends what changes.
    void ClearKeyLights() { m_lights.ClearLights(); }
    // True when no key flashes and every key shows what it should: further key-light updates
    // would send nothing until something else changes.
    bool KeyLightsSettled() const { return m_lights.Settled(); }
    void SendAllKeysDark();

    // --- Chords, lesson and input ---------------------------------------------------------------
    void FindNextChord();
    // Pre-lights the pending chord when the lesson asks for it; true when it has come due at
    // newTime, which also lights it (and in the lesson sounds it and makes it awaited).
    bool CheckChordDue(uint32_t newTime);
    void PreLightChord(uint32_t newTime);
    // While the song stands before its start: the next chord shows however far away it is,
    // until ClearPreLights.
    void PreLightPendingChord();
    void ClearPreLights() { m_lights.ClearPreLights(); }
    // The song time from which a chord at song time chordMs flashes its keys, until it is due.
    static uint32_t PreLightFrom(uint32_t chordMs) {
        return chordMs < kPreLightLead ? 0 : chordMs - kPreLightLead;
    }
    static bool InPreLightWindow(uint32_t chordMs, uint32_t songMs) {
        return PreLightFrom(chordMs) <= songMs && songMs < chordMs;
    }
    void HoldChord();
    bool UpdateWaiting();
    void RestartChordSearch();
    // Called from the MIDI input thread.
    void SetKeyDown(int key, bool down) { m_lesson.SetKeyDown(key, down); }
    // Any thread.
    bool KeyDown(int key) const { return m_lesson.KeyDown(key); }
    // Whether the event at index of the timeline is a note of the part being practised.
    bool IsPracticeNoteOn(uint32_t index) const {
        return m_song->IsPracticeNoteOn(index, m_player.Choice());
    }

    // --- Time sources ---------------------------------------------------------------------------
    uint32_t NextDueMs(const TickMoment& tick) const override;
    // This performance's time sources for the clock: the song, the key lights when there is
    // an output to show them on (null otherwise), and the clicks.
    using Sources = std::array<const TimeSource*, 3>;
    Sources TimeSources() const { return {this, m_hOutput ? &m_lights : nullptr, &m_clicks}; }

    // --- Metronome -------------------------------------------------------------------------------
    void SetMetronome(bool on);
    bool MetronomeOn() const { return m_clicks.On(); }
    const ClickTrack& GetClicks() const { return m_clicks; }
    // Bars and beats of the song built last; shared read-only, like the timeline.
    const std::shared_ptr<const smf::MeterMap>& Meter() const { return m_meter; }

    // --- The parts, for reading -----------------------------------------------------------------
    // The timeline never changes once built: a holder of the shared pointer may read it on any
    // thread without a lock. The references below are read with the play lock held.
    const Timeline& GetTimeline() const { return *m_timeline; }
    const PreparedSong& Prepared() const { return *m_song; }
    const std::shared_ptr<const PreparedSong>& SharedPrepared() const { return m_song; }
    std::shared_ptr<const Timeline> SharedTimeline() const { return m_timeline; }
    const Player& GetPlayer() const { return m_player; }
    const Lesson& GetLesson() const { return m_lesson; }
    const KeyLights& GetKeyLights() const { return m_lights; }
    // Play lock.
    uint32_t SongTime() const { return m_player.SongTime(); }
    // Play lock.
    bool Waiting() const { return m_lesson.Waiting(); }
    int32_t SpareChannel() const { return m_timeline->SpareChannel(); }

  private:
    std::shared_ptr<MidiOut> m_hOutput;
    std::shared_ptr<const PreparedSong> m_song;
    std::shared_ptr<const Timeline> m_timeline;  // the prepared song's
    Player m_player;
    Lesson m_lesson;
    KeyLights m_lights;
    PracticeHandOver m_handOver;
    ClickTrack m_clicks{m_player, m_lesson};
    std::shared_ptr<const smf::MeterMap> m_meter;
    NoteOnObserver m_noteOnObserver = nullptr;
    void* m_observerData = nullptr;

    bool ChordFullyPreLit() const;
    void HandOverChordDue();
    void HandOverPracticeNote(const PerformanceEvent& e, uint32_t newTime);
    bool SendShortRaw(uint8_t status, uint8_t data1, uint8_t data2);
    bool SendSysexEvent(const PerformanceEvent& event);
    void SendNoteOffsAhead(uint32_t noteOnIndex);
    void SendClicks(const std::vector<ClickTrack::Message>& clicks);
    // True when the mode silences the note's hand: a note-on is then not sent, and the note-off
    // of a note-on not sent is not either; every other note-off goes out, so none sticks.
    bool DropSilencedHandNote(const PerformanceEvent& e, uint32_t index);
    // One bit per event of the timeline: the note-ons of a silenced hand that were not sent.
    std::vector<uint64_t> m_droppedNotes;
    std::unique_ptr<TakeReplay> m_replay;
    // The song time at which the replay may stand, or may play something, as a step reaches
    // newTime: the song stops at a wait, and the take sounds what has come due.
    void StepReplay(uint32_t step, bool held, uint32_t& newTime);
    void SendReplayed(const TakeReplay::Message& m);
    // The song's own sustain pedal on a channel the take plays, where the take's pedal rules,
    // and the note-offs of the part it replaces.
    bool ReplacedByTake(const PerformanceEvent& e) const;
};
