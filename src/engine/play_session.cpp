// Starting, switching and stopping play, preparing a performance, and what a start carries: the
// speed and the parts to practise.

#include "engine/play_session.h"

#include "engine/performance.h"
#include "platform/clock.h"
#include "smf/meter_map.h"

namespace {

struct ModeSettings {
    MuteMode mute;
    bool waitForPlayer;
    bool preLight;
};

ModeSettings SettingsOf(PlayMode mode) {
    switch (mode) {
        case PlayMode::MyPaceLesson:
            return {MuteNone, true, true};
        case PlayMode::Accompaniment:
            return {MutePractice, false, false};
        case PlayMode::Solo:
            return {MuteNonPractice, false, false};
        case PlayMode::ModelPerformance:
        default:
            return {MuteNone, false, false};
    }
}

}  // namespace

PlaySession::PlaySession(MidiService& service) : m_service(service) {
    // A device found gone while nothing is playing is told through the notice too: the window
    // sleeps until something is published, and asks the devices only then.
    m_service.SetLossListener([this] { m_published.Published(); });
}

PlaySession::~PlaySession() {
    m_service.SetLossListener(nullptr);
    EndClockThread();
    CloseDevices();
    CheckedLock lock(m_playLock);
    SetPerformance(nullptr);
}

void PlaySession::SetPerformance(std::unique_ptr<Performance> performance) {
    // The input callback reaches the performance only through m_inputTarget; once it points
    // elsewhere, no callback can still be writing into the old one, and it may go.
    {
        CheckedLock input(m_inputLock);
        m_inputTarget = performance.get();
    }
    std::unique_ptr<Performance> old = std::move(m_pPerformance);
    m_pPerformance = std::move(performance);
    Performance* p = m_pPerformance.get();
    m_passage.Attach(p);
    old.reset();
}

void PlaySession::SetChannelRows(const std::array<int, 16>& rows) {
    CheckedLock lock(m_playLock);
    m_channelRow = rows;
}

bool PlaySession::Start(const StartCommand& command) {
    CheckedLock lock(m_playLock);
    if (m_replaying) {
        // The replay's performance plays the take: a start of the learner's own begins afresh.
        if (m_playState != Stopped) {
            StopPlayLocked();
        }
        m_replaying = false;
        m_replayTake.reset();
        SetPerformance(nullptr);
    }
    return StartPlayLocked(command);
}

bool PlaySession::StartReplay(const ReplayCommand& command) {
    CheckedLock lock(m_playLock);
    if (!command.take || !command.start.song) {
        return false;
    }
    if (m_playState != Stopped) {
        StopPlayLocked();
    }
    m_replaying = true;
    m_replayTake = command.take;
    m_passage.SetStart(command.fromSongMs);
    StartCommand start = command.start;
    start.mode = PlayMode::ModelPerformance;
    if (!StartPlayLocked(start)) {
        m_replaying = false;
        m_replayTake.reset();
        return false;
    }
    return true;
}

bool PlaySession::StartPlayLocked(const StartCommand& command) {
    const PlayMode mode = command.mode;
    if (m_playState != Stopped && !m_pPerformance) {
        m_playState = Stopped;
    }
    const bool fromStopped = m_playState == Stopped;
    if (fromStopped && !PreparePerformanceLocked(command)) {
        return false;
    }

    ModeSettings settings = SettingsOf(mode);
    if (m_replaying) {
        settings.mute = MutePractice;  // the practised parts' notes, which the take replaces
    }
    Performance& p = *m_pPerformance;
    p.SetMuteMode(settings.mute);
    p.SetWaitForPlayer(settings.waitForPlayer);
    p.SetPreLight(settings.preLight);
    if (fromStopped) {
        p.Rewind();
        m_passage.OnStart();
        m_countIn.Reset();
        m_playState = Starting;
        PublishSongClock(NowMs());
    } else if (m_playState == Playing && mode != m_playMode && !m_countIn.Active()) {
        // A run is scored in one mode: the switch ends it and starts the next. A pass counting
        // in has none open; its run begins in the new mode.
        const uint32_t now = NowMs();
        HandOverRunEnd(now);
        m_playMode = mode;
        HandOverRunStart(now);
    }
    m_playMode = mode;
    WakeClockThread();
    return true;
}

bool PlaySession::PreparePerformanceLocked(const StartCommand& command) {
    if (!command.song) {
        return false;
    }
    // The old performance goes first: a long song's timeline is large.
    SetPerformance(nullptr);
    auto performance = std::make_unique<Performance>(m_hMidiOut);
    const std::shared_ptr<const PreparedSong> prepared =
        command.prepared && command.prepared->Song() == command.song
            ? command.prepared
            : PreparedSong::Prepare(command.song);
    performance->Use(prepared);
    performance->SetPracticeChoice(command.parts);
    performance->SetSpeedPercent(command.speedPercent);
    performance->SetMetronome(m_metronome.load());
    performance->SetNoteOnObserver(&PlaySession::OnPerformanceNoteOn, this);
    if (m_replaying) {
        performance->SetReplay(m_replayTake, command.parts);
    } else {
        performance->SetPracticeQueue(&m_practice.Queue());
    }
    m_practiceSong = m_practice.BeginSong(command.path, prepared->Meter());
    SetPerformance(std::move(performance));
    SilenceAllChannelsLocked();
    return true;
}

void PlaySession::Stop() {
    CheckedLock lock(m_playLock);
    StopPlayLocked();
}

void PlaySession::StopPlayLocked() {
    if (m_playState == Playing) {
        HandOverRunEnd(NowMs());
    }
    m_playState = Stopped;
    m_countIn.Reset();
    PublishSongClock(NowMs());
    if (m_pPerformance) {
        m_pPerformance->ReleaseReplay();
        m_pPerformance->ClearKeyLights();
        m_pPerformance->SendAllKeysDark();
    }
    if (m_hMidiOut && !m_hMidiOut->Gone()) {
        for (int c = 0; c < 16; ++c) {
            m_hMidiOut->SendShort(PackShortMessage(static_cast<uint8_t>(0xB0 + c), 0x78, 0x00));
        }
    }
    WakeClockThread();
    TellStopped();
}

void PlaySession::TellStopped() {
    std::lock_guard<std::mutex> stopped(m_stoppedLock);
    m_stopped.notify_all();
}

bool PlaySession::WaitUntilStopped(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> stopped(m_stoppedLock);
    return m_stopped.wait_for(stopped, timeout, [this] { return m_playState.load() == Stopped; });
}

void PlaySession::HandOverRunStart(uint32_t clockMs) {
    const Performance* p = m_pPerformance.get();
    if (!p || m_replaying) {
        return;
    }
    PracticeEvent start;
    start.kind = PracticeEvent::RunStart;
    start.clockMs = clockMs;
    start.songMs = p->SongTime();
    start.mode = static_cast<uint8_t>(m_playMode);
    start.hand = static_cast<uint8_t>(p->GetPlayer().Choice().hand);
    start.channels = p->GetPlayer().Choice().channels;
    start.splitKey = static_cast<uint8_t>(p->Prepared().Parts().SplitKey());
    start.value = static_cast<uint32_t>(p->GetPlayer().SpeedPercent());
    start.song = m_practiceSong;
    m_practice.Queue().Push(start);
}

void PlaySession::HandOverRunEnd(uint32_t clockMs) {
    if (m_replaying) {
        return;
    }
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = clockMs;
    end.songMs = m_pPerformance ? m_pPerformance->SongTime() : 0;
    m_practice.Queue().Push(end);
}

void PlaySession::SilenceAllChannels() {
    CheckedLock lock(m_playLock);
    SilenceAllChannelsLocked();
}

void PlaySession::SilenceAllChannelsLocked() {
    if (!m_hMidiOut || m_hMidiOut->Gone()) {
        return;
    }
    for (int c = 0; c < 16; ++c) {
        const uint8_t status = static_cast<uint8_t>(0xB0 + c);
        m_hMidiOut->SendShort(PackShortMessage(status, 0x78, 0x00));
        m_hMidiOut->SendShort(PackShortMessage(status, 0x79, 0x00));
    }
}

void PlaySession::SetPracticeChoice(PracticeChoice parts) {
    CheckedLock lock(m_playLock);
    // A replay plays the parts of its run, whatever is ticked meanwhile.
    if (!m_pPerformance || m_replaying) {
        return;
    }
    // A run is scored with one hand: a change of hand ends it and starts the next.
    const bool newHand =
        m_playState == Playing && m_pPerformance->GetPlayer().Choice().hand != parts.hand;
    const uint32_t now = NowMs();
    if (newHand) {
        HandOverRunEnd(now);
    }
    for (int ch = 0; ch < 16; ++ch) {
        m_pPerformance->SetPracticeChannel(ch, parts.HasChannel(ch));
    }
    // The hand after the channels: a change of the hand alone is one pass of volumes.
    m_pPerformance->SetPracticeChoice(parts);
    if (newHand) {
        HandOverRunStart(now);
    }
    if (m_playState != Stopped) {
        m_pPerformance->RestartChordSearch();
    }
    WakeClockThread();
}

void PlaySession::SetSpeed(int percent) {
    CheckedLock lock(m_playLock);
    if (!m_pPerformance) {
        return;
    }
    m_pPerformance->SetSpeedPercent(percent);
    WakeClockThread();
}
