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
            event.channel == 0 ? static_cast<uint8_t>(SpareChannel()) : event.channel;
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
    const int32_t spare = SpareChannel();
    if (spare != 0) {
        buffer->then.push_back(PackShortMessage(0xB0, 0x07, 0x00));
    }
    // A GM, GS or XG reset also brings the silenced channels back to full volume, and the
    // practice part would sound in accompaniment (or the others in solo): silence them again.
    if (m_player.CurrentMuteMode() != MuteNone) {
        for (int ch = 0; ch < 16; ++ch) {
            if (m_player.Muted(ch) && !m_player.SilencedByNotes(ch) &&
                !(spare != 0 && ch == spare)) {
                const int out = ch == 0 ? spare : ch;
                buffer->then.push_back(
                    PackShortMessage(static_cast<uint8_t>(0xB0 | (out & 0x0F)), 0x07, 0x00));
            }
        }
    }
    return m_hOutput->WriteSysex(std::move(buffer));
}

void Performance::SendState(PerformanceEvent event) {
    m_player.PlayVolume(event);
    SendEvent(event);
}

void Performance::LightChord(const Chord& chord) {
    for (int s = 0; s < chord.count; ++s) {
        const PerformanceEvent& on = (*m_timeline)[chord.index[s]];
        m_lights.LightNote(on.channel, on.data1);
    }
}

void Performance::ReleaseBrightEvent(const PerformanceEvent& event) {
    if (event.IsNoteOff()) {
        m_lights.ReleaseNote(event.channel, event.data1);
    }
}

void Performance::UpdateKeyLights(uint32_t nowMs) {
    if (!m_hOutput) {
        return;
    }
    const bool lighting = SpareChannel() != 0;
    m_lights.Show(nowMs, [this, lighting](int key, bool on) {
        if (lighting) {
            SendShortRaw(0x90, static_cast<uint8_t>(key), on ? 0x7F : 0x00);
        }
    });
}

void Performance::SendAllKeysDark() {
    if (!m_hOutput) {
        return;
    }
    for (int k = 0; k < 128; ++k) {
        SendShortRaw(0x90, static_cast<uint8_t>(k), 0x00);
    }
}
