// Keys played on the screen keyboard: into the lesson as the input device's keys, and out to the
// output device as a keyboard's own keys sound under the player's hands.

#include "engine/performance.h"
#include "engine/play_session.h"
#include "platform/clock.h"

namespace {

// Before any song has been prepared nothing plays; channel 2 stays clear of the key lights.
constexpr int kNoSongChannel = 1;
constexpr uint8_t kScreenVelocity = 100;

}  // namespace

int PlaySession::ScreenKeyChannel() const {
    const Performance* p = m_pPerformance.get();
    if (!p) {
        return kNoSongChannel;
    }
    // The part being practised, with its own instrument, mapped as the engine maps the song's
    // events: channel 1 goes out on the spare channel, away from the key lights.
    for (int ch = 0; ch < 16; ++ch) {
        if (!p->GetPlayer().Choice().HasChannel(ch)) {
            continue;
        }
        if (p->IsSilenced(ch)) {
            break;  // the accompaniment silences the practice part: take a free channel
        }
        return ch == 0 ? p->SpareChannel() : ch;
    }
    // A channel of no part of the song, not silenced by the mode; never the lighting channel,
    // the spare channel (which carries the song's channel 1) or the drums.
    for (int ch = 15; ch >= 1; --ch) {
        if (ch == 9 || ch == p->SpareChannel() || p->GetTimeline().ChannelUsed(ch) ||
            p->IsSilenced(ch)) {
            continue;
        }
        return ch;
    }
    return -1;
}

void PlaySession::PlayScreenKey(int key, bool down, bool scored) {
    if (key < 0 || key > 127) {
        return;
    }
    const uint8_t k = static_cast<uint8_t>(key);
    TakePlayerKey(key, down, scored, NowMs());

    CheckedLock lock(m_playLock);
    int8_t& sounding = m_screenKeyChannel[k];
    if (down) {
        if (sounding >= 0 || !m_hMidiOut) {
            return;
        }
        const int channel = ScreenKeyChannel();
        if (channel < 0) {
            return;
        }
        if (m_hMidiOut->SendShort(
                PackShortMessage(static_cast<uint8_t>(0x90 | channel), k, kScreenVelocity)) == 0) {
            sounding = static_cast<int8_t>(channel);
        }
        return;
    }
    if (sounding < 0) {
        return;
    }
    // The device may have been reopened since; a note-off to the new one is harmless.
    if (m_hMidiOut) {
        m_hMidiOut->SendShort(PackShortMessage(static_cast<uint8_t>(0x80 | sounding), k, 0));
    }
    sounding = -1;
}
