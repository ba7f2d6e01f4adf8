// The player: song time from clock time at the chosen speed, sending what has come due, and the
// settings of the play modes.

#include <algorithm>

#include "engine/performance.h"

void Performance::Rewind() {
    m_player.Rewind();
    std::fill(m_droppedNotes.begin(), m_droppedNotes.end(), 0);
    m_lesson.Rewind();
    m_lights.ClearBrightNotes();
    m_handOver.DropAwaited();

    ClearKeyLights();
    SendAllKeysDark();
    m_lights.ShownAllDark();

    if (m_hOutput && SpareChannel() != 0) {
        SendShortRaw(0xB0, 0x07, 0x00);
    }
    m_clicks.MoveTo(0);
    if (m_replay) {
        ReleaseReplay();
        m_replay->MoveTo(0);
    }
    FindNextChord();
}

void Performance::Advance(uint32_t elapsedMs) {
    uint32_t newTime = 0;
    const uint32_t lastElapsed = m_player.LastElapsed();
    const bool held = m_replay && m_replay->Holding(m_player.SongTime());
    if (!m_player.Step(elapsedMs, m_lesson.Waiting() || held, newTime)) {
        return;
    }
    if (m_replay) {
        StepReplay(std::min(elapsedMs - lastElapsed, kMaxClockStep), held, newTime);
    }
    if (m_lesson.WaitForPlayer()) {
        m_lesson.TakePresses(newTime);
    }

    // Every chord whose time has come becomes due, in order, also when one step passes several
    // of them. In the lesson a chord is not made due while the one before it is still awaited;
    // it comes due in the advance in which the player finishes the earlier one.
    while (m_lesson.PendingChord().count > 0) {
        if (m_lesson.WaitForPlayer() && UpdateWaiting()) {
            if (m_lesson.PreLight()) {
                PreLightChord(newTime);
            }
            break;
        }
        if (!CheckChordDue(newTime)) {
            break;
        }
        FindNextChord();
    }
    if (UpdateWaiting()) {
        SendClicks(m_clicks.ClickUpTo(newTime));
        m_player.HoldAt(newTime);
        return;
    }

    const Timeline& timeline = *m_timeline;
    uint32_t i = m_player.Cursor();
    const uint32_t end = timeline.Size();
    for (; i < end && timeline[i].time <= newTime; ++i) {
        const PerformanceEvent& e = timeline[i];
        const bool dropped = !m_droppedNotes.empty() && DropSilencedHandNote(e, i);
        if (m_noteOnObserver && e.IsNoteOn()) {
            m_noteOnObserver(m_observerData, e.channel, e.data1, e.data2,
                             m_player.Muted(e.channel) || dropped);
        }
        if (m_handOver.Active() && m_player.CurrentMuteMode() == MutePractice &&
            IsPracticeNoteOn(i)) {
            HandOverPracticeNote(e, newTime);
        }
        if (m_lesson.TakeSent(i)) {
            continue;
        }
        PerformanceEvent copy = e;
        m_player.PlayVolume(copy);
        if (!dropped && !(copy.IsNoteOn() && m_player.SilencedByNotes(copy.channel)) &&
            !(m_replay && ReplacedByTake(copy))) {
            SendEvent(copy);
        }
        ReleaseBrightEvent(copy);
    }
    m_player.Reach(i, newTime);
    if (m_replay) {
        m_replay->PlayUpTo(newTime, [this](const TakeReplay::Message& m) { SendReplayed(m); });
    }
    SendClicks(m_clicks.ClickUpTo(newTime));
}

bool Performance::DropSilencedHandNote(const PerformanceEvent& e, uint32_t index) {
    if (e.IsNoteOn()) {
        if (!m_player.IsHandSilenced(m_song->Parts().PartOf(e, index))) {
            return false;
        }
        m_droppedNotes[index >> 6] |= uint64_t{1} << (index & 63);
        return true;
    }
    if (!e.IsNoteOff()) {
        return false;
    }
    const uint32_t on = m_song->Parts().NoteOnOf(index);
    if (on == PartMap::kNoNote) {
        return false;
    }
    uint64_t& word = m_droppedNotes[on >> 6];
    const uint64_t bit = uint64_t{1} << (on & 63);
    if (!(word & bit)) {
        return false;
    }
    word &= ~bit;
    return true;
}

void Performance::AdvanceQuietly(uint32_t quietMs, int32_t speedOfLastAdvance) {
    if (quietMs == 0 || Waiting()) {
        return;
    }
    const Player::Speed speed = m_player.ExchangeSpeed({speedOfLastAdvance, 0});
    const uint32_t to = m_player.LastElapsed() + quietMs;
    while (to - m_player.LastElapsed() > kMaxClockStep) {
        Advance(m_player.LastElapsed() + kMaxClockStep);
    }
    Advance(to);
    m_player.ExchangeSpeed(speed);
}

void Performance::MoveTo(uint32_t position, uint32_t songMs) {
    // What the lesson sent ahead of its turn lies between the cursor and the chord searched last.
    m_lesson.ForgetSentFrom(m_player.Cursor());
    m_player.JumpTo(position, songMs);
    m_lesson.RestartAt(position);
    m_clicks.MoveTo(songMs);
    if (m_replay) {
        ReleaseReplay();
        m_replay->MoveTo(songMs);
    }
    m_handOver.DropAwaited();
    std::fill(m_droppedNotes.begin(), m_droppedNotes.end(), 0);
    // Keys shown lit go dark with the next key-light update, unless the new place lights them.
    ClearKeyLights();
    m_lights.ClearBrightNotes();
}

void Performance::SetMuteMode(MuteMode mode) {
    m_player.SetMuteMode(mode);
    if (!m_hOutput) {
        return;
    }
    const int32_t spare = SpareChannel();
    for (int ch = 0; ch < 16; ++ch) {
        if (spare != 0 && ch == spare) {
            continue;
        }
        PerformanceEvent volume;
        volume.status = 0xB0;
        volume.channel = static_cast<uint8_t>(ch);
        volume.data1 = 7;
        volume.data2 = m_player.ApplyMute(ch);
        SendEvent(volume);
    }
}

void Performance::SetPracticeChannel(int channel, bool on) {
    if (!m_player.SetPracticeChannel(channel, on)) {
        return;
    }
    if (m_player.CurrentMuteMode() != MuteNone) {
        SetMuteMode(m_player.CurrentMuteMode());
    }
}

void Performance::SetPracticeChoice(PracticeChoice choice) {
    if (!m_player.SetPracticeChoice(choice)) {
        return;
    }
    if (m_player.CurrentMuteMode() != MuteNone) {
        SetMuteMode(m_player.CurrentMuteMode());
    }
}

void Performance::SetWaitForPlayer(bool on) {
    m_lesson.SetWaitForPlayer(on);
    if (!on) {
        m_handOver.DropAwaited();
    }
}

void Performance::SetPreLight(bool on) {
    m_lesson.SetPreLight(on);
    if (!on) {
        m_lights.ClearPreLights();
    }
}

void Performance::SetNoteOnObserver(NoteOnObserver observer, void* data) {
    m_noteOnObserver = observer;
    m_observerData = data;
}

void Performance::SetMetronome(bool on) {
    SendClicks(m_clicks.SetOn(on));
    // The clicks share the drums' channel: a mode that silences the drums leaves out their
    // notes instead of turning the channel down, or the clicks would be silenced with them.
    m_player.SetSilenceByNotes(ClickTrack::kChannel, on);
    if (m_player.IsSilenced(ClickTrack::kChannel)) {
        SetMuteMode(m_player.CurrentMuteMode());
    }
}

void Performance::SendClicks(const std::vector<ClickTrack::Message>& clicks) {
    for (const ClickTrack::Message& m : clicks) {
        SendShortRaw(m.status, m.key, m.velocity);
    }
}
