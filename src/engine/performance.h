#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/play_mode.h"
#include "engine/practice_queue.h"
#include "midi/midi_port.h"

namespace smf {
class Song;
}

// One timed message of the timeline. Kept small and fixed-size so that the player can step
// through millions of them by index; the bytes of a system exclusive message live in a side
// table of the Performance.
struct PerformanceEvent {
    uint32_t time = 0;    // ms from the start of the song at normal speed
    uint8_t status = 0;   // 0x80-0xE0 without channel bits, or 0xF0 / 0xF7
    uint8_t channel = 0;  // channel messages: 0-15
    uint8_t data1 = 0;    // channel messages
    uint8_t data2 = 0;    // channel messages; 0 for the one-data-byte kinds
    uint8_t sent = 0;     // 1: the lesson already sent this event ahead of its turn
    uint8_t sortKey = 0;  // see TimelineSortKey
    uint8_t reserved[2] = {};
    uint32_t sysex = 0;  // system exclusive: index into the Performance's sysex table

    bool IsSysex() const { return status >= 0xF0; }
    bool IsNoteOn() const { return status == 0x90 && data2 > 0; }
    bool IsNoteOff() const { return status == 0x80 || (status == 0x90 && data2 == 0); }
};
static_assert(sizeof(PerformanceEvent) <= 16, "the timeline must stay compact");

// Up to ten note-ons of the practice channels that start within 10 ms of each other.
struct Chord {
    static constexpr int kMaxNotes = 10;
    static constexpr uint32_t kPlayed = 0xFFFFFFFFu;  // slot of a note the player already held
    int32_t count = 0;
    std::array<uint32_t, kMaxNotes> index{};  // positions in the timeline
};

struct KeyLight {
    uint8_t lit = 0;     // lit steadily
    uint8_t preLit = 0;  // flashing before its chord is due
    uint8_t shown = 0;   // what was last decided for the keyboard
};

using NoteOnObserver = void (*)(void* data, int channel, int note, int velocity, bool muted);

// Bytes of one system exclusive message, stored in the Performance's byte pool.
struct SysexRef {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// One song made ready to play: the sorted timeline and everything that playing it needs. Every
// member is guarded by the window's play lock, except m_keyDown, which the MIDI input thread
// writes without it.
class Performance {
  public:
    static constexpr uint32_t kMaxClockStep = 100;   // ms of clock time per advance at most
    static constexpr uint32_t kChordWindow = 10;     // ms from a chord's first note
    static constexpr uint32_t kPreLightLead = 1000;  // ms of song time before a chord

    // A null output sends nothing.
    explicit Performance(std::shared_ptr<MidiOut> output);
    ~Performance();
    Performance(const Performance&) = delete;
    Performance& operator=(const Performance&) = delete;

    // --- Timeline ------------------------------------------------------------------------------
    void Build(const smf::Song& song);
    const uint8_t* SysexBytes(const PerformanceEvent& e) const;
    uint32_t SysexLength(const PerformanceEvent& e) const;

    // --- Player --------------------------------------------------------------------------------
    void Rewind();
    void Advance(uint32_t elapsedMs);
    void SetSpeedPercent(int percent);
    void SetMuteMode(MuteMode mode);
    void SetPracticeChannel(int channel, bool on);
    // Mode settings of StartPlay: switching a flag off drops what it left behind.
    void SetWaitForPlayer(bool on);
    void SetPreLight(bool on);
    void SetNoteOnObserver(NoteOnObserver observer, void* data);
    bool AtEnd() const { return m_cursor >= m_events.size(); }
    bool IsSilenced(int channel) const;

    // --- Output and key lights ---------------------------------------------------------------
    bool SendEvent(const PerformanceEvent& event);
    void LightChord(const Chord& chord);
    void ReleaseBrightEvent(const PerformanceEvent& event);
    void UpdateKeyLights(uint32_t nowMs);
    // Clears lit and preLit of every key, and sends every key dark on the lighting channel.
    void ClearKeyLights();
    // True when no key flashes and every key shows what it should: further key-light updates
    // would send nothing until something else changes.
    bool KeyLightsSettled() const;
    void SendAllKeysDark();

    // --- Chords, lesson and input ---------------------------------------------------------------
    void FindNextChord();
    // Pre-lights the pending chord when the lesson asks for it; true when it has come due at
    // newTime, which also lights it (and in the lesson sounds it and makes it awaited).
    bool CheckChordDue(uint32_t newTime);
    void PreLightChord(uint32_t newTime);
    void HoldChord();
    bool UpdateWaiting();
    void RestartChordSearch();
    // Called from the MIDI input thread.
    void SetKeyDown(int key, bool down) {
        m_keyDown[key & 0x7F].store(down ? 1 : 0, std::memory_order_relaxed);
    }
    bool KeyDown(int key) const { return m_keyDown[key & 0x7F].load(std::memory_order_relaxed); }
    bool IsPracticeNoteOn(const PerformanceEvent& e) const {
        return e.IsNoteOn() && (m_practiceMask >> e.channel & 1u);
    }

    // --- State ---------------------------------------------------------------------------------
    std::shared_ptr<MidiOut> m_hOutput;
    std::vector<PerformanceEvent> m_events;
    uint32_t m_songTime = 0;
    uint32_t m_lastElapsed = 0;
    uint32_t m_playedTime = 0;
    uint32_t m_cursor = 0;
    std::array<int32_t, 16> m_volume;
    std::array<uint8_t, 16> m_muted{};
    int32_t m_spareChannel = 0;
    int32_t m_speedPercent = 100;
    uint8_t m_speedChanged = 0;
    uint32_t m_speedBasePlayed = 0;
    uint32_t m_speedBaseSongTime = 0;
    uint32_t m_practiceMask = 1;
    MuteMode m_muteMode = MuteNone;
    Chord m_chord;
    uint32_t m_chordMask = 0;
    uint32_t m_chordSearchFrom = 0;
    uint8_t m_preLight = 0;
    // Note-ons whose keys LightChord lit and whose note-offs have not been played yet, counted
    // per channel and key, and per key over all channels. A key goes dark with the note-off of
    // the last of its lit notes. The counts are bounded by the number of note-ons in the
    // timeline, so they cannot overflow, however many notes sound at once or never end.
    std::array<uint32_t, 16 * 128> m_brightNotes{};
    std::array<uint32_t, 128> m_brightKeys{};
    uint32_t m_brightNoteCount = 0;
    uint8_t m_waitForPlayer = 0;
    Chord m_awaited;
    uint8_t m_waiting = 0;
    std::array<std::atomic<uint8_t>, 128> m_keyDown{};
    std::array<uint8_t, 16> m_channelUsed{};
    NoteOnObserver m_noteOnObserver = nullptr;
    void* m_observerData = nullptr;
    std::array<KeyLight, 128> m_keyLights{};
    uint32_t m_lastLightTime = 0;
    // Song time never passes this (a loop's end): what lies at or after it is not yet due.
    uint32_t m_songTimeLimit = 0xFFFFFFFFu;
    // Where awaited chords and silenced practice notes are handed over for scoring (null:
    // nowhere), and the clock reading at which the elapsed time of the advances was 0.
    PracticeQueue* m_practiceQueue = nullptr;
    uint32_t m_practiceClockBase = 0;
    uint8_t m_awaitedOpen = 0;  // an awaited chord was handed over and not yet completed

    // System exclusive side table.
    std::vector<SysexRef> m_sysex;
    std::vector<uint8_t> m_sysexBytes;

  private:
    friend class PerformanceSeek;
    void HandOverChordDue();
    void HandOverPracticeNote(const PerformanceEvent& e, uint32_t newTime);
    bool SendShortRaw(uint8_t status, uint8_t data1, uint8_t data2);
    bool SendSysexEvent(const PerformanceEvent& event);
    void ComputeSpareChannel();
    void ClearBrightNotes();
    void SendNoteOffsAhead(uint32_t noteOnIndex);
};

// Within one millisecond, system exclusive messages go first: a reset at the start of a song
// must not undo the program changes and volumes that share its time, and a message continued in
// several packets must keep its packets in order. Channel messages follow by channel.
inline uint8_t TimelineSortKey(const PerformanceEvent& e) {
    return e.IsSysex() ? 0 : static_cast<uint8_t>(e.channel + 1);
}

inline uint64_t SortKeyOf(const PerformanceEvent& e) {
    return (uint64_t{e.time} << 8) | e.sortKey;
}

// The ascending runs of a timeline in the making: where each begins. Counting stops once there
// are too many to merge.
struct TimelineRuns {
    static constexpr size_t kMaxMergeRuns = 64;  // beyond this many, a radix sort is faster
    std::vector<size_t> starts{0};
    uint64_t last = 0;
    void Add(size_t index, uint64_t key) {
        if (key < last && starts.size() <= kMaxMergeRuns) {
            starts.push_back(index);
        }
        last = key;
    }
};

// Sorts events whose sortKey is set, given their runs (see SortPerformanceEvents).
void SortKeyedEvents(std::vector<PerformanceEvent>& events, const TimelineRuns& runs);

// Sorts events by time, then system exclusive messages before channel messages and channel
// messages by channel, keeping the original order of events equal in both. Exposed for tests
// and benchmarks.
void SortPerformanceEvents(std::vector<PerformanceEvent>& events);
