#include "engine/player.h"

#include <algorithm>
#include <limits>

void Player::Rewind() {
    m_songTime = 0;
    m_lastElapsed = 0;
    m_playedTime = 0;
    m_cursor = 0;
    m_speedChanged = 0;
    m_speedBasePlayed = 0;
    m_speedBaseSongTime = 0;
}

bool Player::Step(uint32_t elapsedMs, bool waiting, uint32_t& newTime) {
    if (elapsedMs <= m_lastElapsed) {
        return false;
    }
    const uint32_t step = std::min(elapsedMs - m_lastElapsed, kMaxClockStep);
    m_lastElapsed = elapsedMs;

    newTime = m_songTime;
    if (!waiting) {
        m_playedTime += step;
        if (m_speedChanged) {
            m_speedChanged = 0;
            m_speedBasePlayed = m_playedTime;
            m_speedBaseSongTime = m_songTime;
        }
        newTime =
            static_cast<uint32_t>(static_cast<uint32_t>((m_playedTime - m_speedBasePlayed) *
                                                        static_cast<uint32_t>(m_speedPercent)) /
                                      100u +
                                  m_speedBaseSongTime);
        newTime = std::min(newTime, m_songTimeLimit);
    }
    return true;
}

uint32_t Player::ClockMsUntil(uint32_t songMs) const {
    if (m_speedChanged || m_speedPercent <= 0 || songMs <= m_speedBaseSongTime) {
        return 1;
    }
    const uint64_t speed = static_cast<uint64_t>(m_speedPercent);
    const uint64_t played = m_playedTime - m_speedBasePlayed;
    const uint64_t need = songMs - m_speedBaseSongTime;
    // The fewest played milliseconds since the re-base whose song time reaches songMs, as Step
    // computes it.
    const uint64_t reach = (need * 100 + speed - 1) / speed;
    if (reach * speed > std::numeric_limits<uint32_t>::max() ||
        played * speed > std::numeric_limits<uint32_t>::max()) {
        return 1;  // Step's product wraps; only advancing every millisecond is exact
    }
    if (reach <= played) {
        return 1;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(reach - played, kNoLimit));
}

void Player::JumpTo(uint32_t position, uint32_t songMs) {
    m_cursor = position;
    m_songTime = songMs;
    m_speedBasePlayed = m_playedTime;
    m_speedBaseSongTime = songMs;
    m_speedChanged = 0;
}

void Player::CatchUpElapsed(uint32_t elapsedMs) {
    if (elapsedMs > m_lastElapsed) {
        m_lastElapsed = elapsedMs;
    }
}

void Player::SetSpeedPercent(int percent) {
    m_speedPercent = percent;
    m_speedChanged = 1;
}

Player::Speed Player::ExchangeSpeed(Speed speed) {
    const Speed before{m_speedPercent, m_speedChanged};
    m_speedPercent = speed.percent;
    m_speedChanged = speed.changed;
    return before;
}

bool Player::SetPracticeChannel(int channel, bool on) {
    if (channel < 0 || channel > 15) {
        return false;
    }
    if (m_choice.HasChannel(channel) == on) {
        return false;
    }
    m_choice.SetChannel(channel, on);
    return true;
}

bool Player::SetPracticeChoice(PracticeChoice choice) {
    if (choice == m_choice) {
        return false;
    }
    m_choice = choice;
    return true;
}

bool Player::IsSilenced(int channel) const {
    const bool practice = m_choice.HasChannel(channel);
    // One hand of a divided channel plays while the other is silenced: not the whole channel.
    if (practice && m_choice.hand != Hand::Both && (m_divided >> channel & 1u)) {
        return false;
    }
    return (m_muteMode == MutePractice && practice) || (m_muteMode == MuteNonPractice && !practice);
}

void Player::SetSilenceByNotes(int channel, bool on) {
    const auto bit = static_cast<uint16_t>(1u << (channel & 0x0F));
    m_silenceByNotes = on ? static_cast<uint16_t>(m_silenceByNotes | bit)
                          : static_cast<uint16_t>(m_silenceByNotes & ~bit);
}

uint8_t Player::ApplyMute(int channel) {
    const bool silenced = IsSilenced(channel);
    m_muted[channel] = silenced ? 1 : 0;
    return silenced && !SilencedByNotes(channel) ? 0
                                                 : static_cast<uint8_t>(m_volume[channel] & 0xFF);
}

void Player::PlayVolume(PerformanceEvent& e) {
    if (e.status != 0xB0 || e.data1 != 7) {
        return;
    }
    m_volume[e.channel] = e.data2;
    if (IsSilenced(e.channel)) {
        if (!SilencedByNotes(e.channel)) {
            e.data2 = 0;
        }
        m_muted[e.channel] = 1;
    }
}
