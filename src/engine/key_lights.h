#pragma once

#include <array>
#include <cstdint>

#include "engine/key_state.h"
#include "engine/time_source.h"

struct KeyLight {
    uint8_t lit = 0;     // lit steadily
    uint8_t preLit = 0;  // flashing before its chord is due
    uint8_t shown = 0;   // what was last decided for the keyboard

    // What the key shows in a flash phase: a pre-lit key flashes until its chord lights it.
    uint8_t ShowIn(bool flashOn) const { return (lit || (preLit && flashOn)) ? 1 : 0; }
};

// What each key of the keyboard should show, and the notes that keep a key lit. Guarded by the
// window's play lock, like the Performance that owns it: every reader holds it. As a time source
// it is due when a key shows what it should not, or a flashing key's phase turns.
class KeyLights : public TimeSource {
  public:
    // A note-on of a chord due: its key lights steadily until the last lit note on it ends.
    void LightNote(int channel, int key);
    // A note-off: its key goes dark when it ends the last lit note on the key.
    void ReleaseNote(int channel, int key);
    void PreLight(int key) { m_keyLights[key & 0x7F].preLit = 1; }
    // A key the player has pressed for the chord awaited.
    void Unlight(int key) { m_keyLights[key & 0x7F].lit = 0; }
    // Clears lit and preLit of every key.
    void ClearLights();
    void ClearPreLights();
    void ClearBrightNotes();
    // Every key has been sent dark: that is what the keyboard shows.
    void ShownAllDark();

    // At a new clock value nowMs, calls send(key, on) for each key whose light must change.
    template <typename Send>
    void Show(uint32_t nowMs, Send&& send) {
        // Compared for inequality, not order, so that lighting goes on when the clock wraps.
        if (nowMs == m_lastLightTime) {
            return;
        }
        m_lastLightTime = nowMs;
        const bool flashOn = FlashPhaseOn(nowMs);
        for (int k = 0; k < 128; ++k) {
            KeyLight& light = m_keyLights[k];
            const uint8_t show = light.ShowIn(flashOn);
            if (show == light.shown) {
                continue;
            }
            light.shown = show;
            send(k, show != 0);
        }
    }

    // Readers hold the play lock.
    const KeyLight& Key(int key) const { return m_keyLights[key & 0x7F]; }
    const std::array<KeyLight, 128>& Keys() const { return m_keyLights; }
    // True when no key flashes and every key shows what it should: further updates would send
    // nothing until something else changes.
    bool Settled() const;
    uint32_t BrightNoteCount() const { return m_brightNoteCount; }
    uint32_t LastLightTime() const { return m_lastLightTime; }

    uint32_t NextDueMs(const TickMoment& tick) const override;
    bool LightsOnly() const override { return true; }

  private:
    std::array<KeyLight, 128> m_keyLights{};
    // Note-ons whose keys LightNote lit and whose note-offs have not been played yet, counted
    // per channel and key, and per key over all channels. A key goes dark with the note-off of
    // the last of its lit notes. The counts are bounded by the number of note-ons in the
    // timeline, so they cannot overflow, however many notes sound at once or never end.
    std::array<uint32_t, 16 * 128> m_brightNotes{};
    std::array<uint32_t, 128> m_brightKeys{};
    uint32_t m_brightNoteCount = 0;
    uint32_t m_lastLightTime = 0;
};
