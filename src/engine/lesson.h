#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/chord.h"
#include "engine/practice_choice.h"

class Timeline;
class PreparedSong;
class KeyLights;

// The chords of the practice channels and what the lesson does with them: the search for the
// next chord, the chord the song waits at until the player has held its keys, and the record
// of the events sent ahead of their turn (the timeline itself never changes). Guarded by the
// window's play lock, except the held keys, which the MIDI input thread writes without it.
class Lesson {
  public:
    static constexpr uint32_t kChordWindow = 10;  // ms from a chord's first note
    // A key pressed this many ms of song time before its note comes due counts for it even if
    // it is let go before: the second in which the chord's keys flash.
    static constexpr uint32_t kEarlyPressWindow = 1000;

    // A new timeline of eventCount events: nothing sent ahead, no chord.
    void Reset(uint32_t eventCount);
    // Back to the start of the timeline; the settings and the held keys stay.
    void Rewind();

    // Finds the chord at or after max(cursor, the end of the last chord due) of the practised
    // part, unless the pending chord is still the one to come for this choice.
    void FindNextChord(const PreparedSong& song, uint32_t cursor, PracticeChoice choice);
    // The pending chord has come due: the next search starts after it.
    void PassChord() { m_chordSearchFrom = m_chord.index[m_chord.count - 1] + 1; }
    // The pending chord becomes the awaited one.
    void AwaitChord() { m_awaited = m_chord; }
    // Crosses off the awaited notes whose keys are held, or were pressed in the early window
    // before their time, darkening their keys; true while some are still to be played.
    bool CrossOffHeld(const Timeline& timeline, KeyLights& lights);
    // Takes the presses the input thread marked since the last call, as made at songTime.
    void TakePresses(uint32_t songTime);
    // No chord and nothing awaited; the search starts again at position.
    void RestartAt(uint32_t position);

    void SetWaitForPlayer(bool on);
    void SetPreLight(bool on) { m_preLight = on ? 1 : 0; }

    // Events the lesson sent ahead of their turn, which the player skips when it reaches them.
    void MarkSent(uint32_t index) { m_sent[index >> 6] |= Bit(index); }
    // True (and forgotten) when the event was sent ahead.
    bool TakeSent(uint32_t index) {
        uint64_t& word = m_sent[index >> 6];
        if (!(word & Bit(index))) {
            return false;
        }
        word &= ~Bit(index);
        return true;
    }
    // Forgets what was sent ahead from position on (to the end of the last chord due).
    void ForgetSentFrom(uint32_t position);

    // Called from the MIDI input thread; any thread may read it.
    void SetKeyDown(int key, bool down) {
        m_keyDown[key & 0x7F].store(down ? 1 : 0, std::memory_order_relaxed);
        if (down) {
            m_pressed[key & 0x7F].store(1, std::memory_order_relaxed);
            m_pressCount.fetch_add(1, std::memory_order_release);
        }
    }
    bool KeyDown(int key) const { return m_keyDown[key & 0x7F].load(std::memory_order_relaxed); }

    // Readers hold the play lock.
    const Chord& PendingChord() const { return m_chord; }
    const Chord& AwaitedChord() const { return m_awaited; }
    uint32_t ChordSearchFrom() const { return m_chordSearchFrom; }
    bool Waiting() const { return m_waiting != 0; }
    bool WaitForPlayer() const { return m_waitForPlayer != 0; }
    bool PreLight() const { return m_preLight != 0; }
    bool SentAhead(uint32_t index) const { return (m_sent[index >> 6] & Bit(index)) != 0; }

  private:
    static uint64_t Bit(uint32_t index) { return uint64_t{1} << (index & 63); }
    Chord m_chord;
    PracticeChoice m_chordChoice;
    uint32_t m_chordSearchFrom = 0;
    uint8_t m_preLight = 0;
    uint8_t m_waitForPlayer = 0;
    Chord m_awaited;
    uint8_t m_waiting = 0;
    // One bit per event of the timeline.
    std::vector<uint64_t> m_sent;
    std::array<std::atomic<uint8_t>, 128> m_keyDown{};
    // Presses marked by the input thread, and the count of them, so that the clock thread
    // looks at the keys only after one came.
    std::array<std::atomic<uint8_t>, 128> m_pressed{};
    std::atomic<uint32_t> m_pressCount{0};
    uint32_t m_pressesTaken = 0;
    // Each key's last press not yet used for a note, at its song time. Under the play lock.
    static constexpr uint32_t kNoPress = UINT32_MAX;
    std::array<uint32_t, 128> m_pressSongTime = MakeNoPresses();
    static std::array<uint32_t, 128> MakeNoPresses() {
        std::array<uint32_t, 128> presses;
        presses.fill(kNoPress);
        return presses;
    }
};
