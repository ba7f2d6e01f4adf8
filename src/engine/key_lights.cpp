#include "engine/key_lights.h"

void KeyLights::LightNote(int channel, int key) {
    key &= 0x7F;
    m_keyLights[key].lit = 1;
    m_keyLights[key].preLit = 0;
    ++m_brightNotes[(channel & 0x0F) * 128 + key];
    ++m_brightKeys[key];
    ++m_brightNoteCount;
}

void KeyLights::ReleaseNote(int channel, int key) {
    if (m_brightNoteCount == 0) {
        return;
    }
    key &= 0x7F;
    uint32_t& notes = m_brightNotes[(channel & 0x0F) * 128 + key];
    if (notes == 0) {
        return;
    }
    --notes;
    --m_brightNoteCount;
    // A repeated note often starts on the tick where the one before it ends, and the new note
    // is lit before that tick's note-offs are played: its key must stay lit.
    if (--m_brightKeys[key] == 0) {
        m_keyLights[key].lit = 0;
        m_keyLights[key].preLit = 0;
    }
}

void KeyLights::ClearLights() {
    for (KeyLight& light : m_keyLights) {
        light.lit = 0;
        light.preLit = 0;
    }
}

void KeyLights::ClearPreLights() {
    for (KeyLight& light : m_keyLights) {
        light.preLit = 0;
    }
}

void KeyLights::ClearBrightNotes() {
    m_brightNotes.fill(0);
    m_brightKeys.fill(0);
    m_brightNoteCount = 0;
}

void KeyLights::ShownAllDark() {
    for (KeyLight& light : m_keyLights) {
        light.shown = 0;
    }
    m_lastLightTime = 0;
}

bool KeyLights::Settled() const {
    for (const KeyLight& light : m_keyLights) {
        if (light.preLit || light.lit != light.shown) {
            return false;
        }
    }
    return true;
}

uint32_t KeyLights::NextDueMs(const TickMoment& tick) const {
    const bool flashOn = FlashPhaseOn(tick.nowMs);
    bool flashing = false;
    for (const KeyLight& light : m_keyLights) {
        if (light.ShowIn(flashOn) != light.shown) {
            return 1;  // not yet sent: a command changed it since the tick, or the tick skipped it
        }
        flashing = flashing || (light.preLit && !light.lit);
    }
    return flashing ? MsToFlashTurn(tick.nowMs) : kNever;
}
