// Sending to the MIDI output, and the key lights: Note On messages on MIDI channel 1, which the
// song gives up by playing its own channel-1 events on the spare channel.

#include "engine/key_state.h"
#include "engine/performance.h"
#include "platform/debug_output.h"

bool Performance::SendShortRaw(uint8_t status, uint8_t data1, uint8_t data2) {
    // A device found gone takes nothing more: the clock stops play on the tick that finds it.
    if (!m_hOutput || m_hOutput->Gone()) {
        return false;
    }
    return m_hOutput->SendShort(PackShortMessage(status, data1, data2)) == 0;
}

bool Performance::SendEvent(const PerformanceEvent& event) {
    if (!m_hOutput) {
        return false;
    }
    if (event.status >= 0x80 && event.status <= 0xE0) {
        const uint8_t channel =
            event.channel == 0 ? static_cast<uint8_t>(m_spareChannel) : event.channel;
        const uint8_t status = static_cast<uint8_t>(event.status | (channel & 0x0F));
        if (!SendShortRaw(status, event.data1, event.data2)) {
            if (!m_hOutput->Gone()) {
                DebugOutput(">midiOutShortMsg() was fail.\n");
            }
            return false;
        }
        return true;
    }
    if (event.IsSysex()) {
        return SendSysexEvent(event);
    }
    return true;
}

bool Performance::SendSysexEvent(const PerformanceEvent& event) {
    if (m_hOutput->Gone()) {
        return false;
    }
    auto buffer = std::make_shared<SysexBuffer>();
    const uint8_t* bytes = SysexBytes(event);
    buffer->bytes.assign(bytes, bytes + SysexLength(event));
    // What follows goes out only once the device has finished the message, and not at all when
    // it fails: the output does the waiting, on its own sender where it has one.
    // A system exclusive message may reset the synthesizer, lighting channel included.
    if (m_spareChannel != 0) {
        buffer->then.push_back(PackShortMessage(0xB0, 0x07, 0x00));
    }
    // A GM, GS or XG reset also brings the silenced channels back to full volume, and the
    // practice part would sound in accompaniment (or the others in solo): silence them again.
    if (m_muteMode != MuteNone) {
        for (int ch = 0; ch < 16; ++ch) {
            if (m_muted[ch] && !(m_spareChannel != 0 && ch == m_spareChannel)) {
                const int out = ch == 0 ? m_spareChannel : ch;
                buffer->then.push_back(
                    PackShortMessage(static_cast<uint8_t>(0xB0 | (out & 0x0F)), 0x07, 0x00));
            }
        }
    }
    return m_hOutput->WriteSysex(std::move(buffer));
}

void Performance::LightChord(const Chord& chord) {
    for (int s = 0; s < chord.count; ++s) {
        const PerformanceEvent& on = m_events[chord.index[s]];
        const uint8_t key = on.data1 & 0x7F;
        m_keyLights[key].lit = 1;
        m_keyLights[key].preLit = 0;
        ++m_brightNotes[on.channel * 128 + key];
        ++m_brightKeys[key];
        ++m_brightNoteCount;
    }
}

void Performance::ReleaseBrightEvent(const PerformanceEvent& event) {
    if (!event.IsNoteOff() || m_brightNoteCount == 0) {
        return;
    }
    const uint8_t key = event.data1 & 0x7F;
    uint32_t& notes = m_brightNotes[event.channel * 128 + key];
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

void Performance::ClearBrightNotes() {
    m_brightNotes.fill(0);
    m_brightKeys.fill(0);
    m_brightNoteCount = 0;
}

void Performance::UpdateKeyLights(uint32_t nowMs) {
    // Compared for inequality, not order, so that lighting goes on when the clock wraps.
    if (!m_hOutput || nowMs == m_lastLightTime) {
        return;
    }
    m_lastLightTime = nowMs;
    const bool flashOn = FlashPhaseOn(nowMs);
    for (int k = 0; k < 128; ++k) {
        KeyLight& light = m_keyLights[k];
        const uint8_t show = (light.lit || (light.preLit && flashOn)) ? 1 : 0;
        if (show == light.shown) {
            continue;
        }
        light.shown = show;
        if (m_spareChannel != 0) {
            SendShortRaw(0x90, static_cast<uint8_t>(k), show ? 0x7F : 0x00);
        }
    }
}

bool Performance::KeyLightsSettled() const {
    for (const KeyLight& light : m_keyLights) {
        if (light.preLit || light.lit != light.shown) {
            return false;
        }
    }
    return true;
}

void Performance::ClearKeyLights() {
    for (KeyLight& light : m_keyLights) {
        light.lit = 0;
        light.preLit = 0;
    }
}

void Performance::SendAllKeysDark() {
    if (!m_hOutput) {
        return;
    }
    for (int k = 0; k < 128; ++k) {
        SendShortRaw(0x90, static_cast<uint8_t>(k), 0x00);
    }
}
