// The main window's engine-facing commands: starting, switching and stopping play, preparing a
// performance, song selection, practice ticks and the speed slider.

#include "engine/window_core.h"

#include "engine/performance.h"
#include "platform/clock.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"

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

CPelorvaneCore::CPelorvaneCore(MidiService& service, CoreHost& host, std::string dataDir)
    : m_service(service), m_host(host), m_dataDir(std::move(dataDir)) {
    m_inMidiDeviceName = "Digital Keyboard-1";
    m_outMidiDeviceName = "Digital Keyboard-1";
    LoadSettings();
    ReadSongList(m_songList, DataPath(kSongListFileName));
}

CPelorvaneCore::~CPelorvaneCore() {
    // A window that is destroyed without having been closed still stops its thread and devices
    // before anything they use goes away.
    ShutDown();
    SaveSettings();
    FreeSongList(m_songList);
    CheckedLock lock(m_playLock);
    SetPerformance(nullptr);
}

void CPelorvaneCore::SaveFailed(const std::string& path) {
    if (!m_saveNotice.FirstFailure(path)) {
        return;
    }
    m_host.ShowSaveFailure(SaveFailureText(path));
}

std::string CPelorvaneCore::DataPath(const char* fileName) const {
    if (m_dataDir.empty()) {
        return fileName;
    }
    return m_dataDir + "/" + fileName;
}

void CPelorvaneCore::SetPerformance(std::unique_ptr<Performance> performance) {
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

void CPelorvaneCore::SetChannelRows(const std::array<int, 16>& rows) {
    CheckedLock lock(m_playLock);
    m_channelRow = rows;
}

CPelorvaneCore::SongChoice CPelorvaneCore::AskSongChoice() {
    return {m_host.SelectedSongRow(), m_host.SpeedSliderPosition()};
}

void CPelorvaneCore::StartPlay(PlayMode mode) {
    const SongChoice choice = AskSongChoice();
    {
        CheckedLock lock(m_playLock);
        if (!StartPlayLocked(mode, choice)) {
            return;
        }
    }
    m_host.LightModeLed(static_cast<int>(mode));
}

bool CPelorvaneCore::StartPlayLocked(PlayMode mode, const SongChoice& choice) {
    if (m_playState != Stopped && !m_pPerformance) {
        m_playState = Stopped;
    }
    const bool fromStopped = m_playState == Stopped;
    if (fromStopped && !PreparePerformanceLocked(choice)) {
        return false;
    }

    const ModeSettings settings = SettingsOf(mode);
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
    } else if (m_playState == Playing && mode != m_playMode) {
        // A run is scored in one mode: the switch ends it and starts the next.
        const uint32_t now = NowMs();
        HandOverRunEnd(now);
        m_playMode = mode;
        HandOverRunStart(now);
    }
    m_playMode = mode;
    WakeClockThread();
    return true;
}

bool CPelorvaneCore::PreparePerformance() {
    const SongChoice choice = AskSongChoice();
    CheckedLock lock(m_playLock);
    return PreparePerformanceLocked(choice);
}

bool CPelorvaneCore::PreparePerformanceLocked(const SongChoice& choice) {
    const int row = choice.row;
    if (row < 0 || static_cast<size_t>(row) >= m_songList.m_entries.size()) {
        return false;
    }
    const SongEntry& entry = m_songList.m_entries[static_cast<size_t>(row)];
    if (!entry.m_midiData) {
        return false;
    }

    // The old performance goes first: a long song's timeline is large.
    SetPerformance(nullptr);
    auto performance = std::make_unique<Performance>(m_hMidiOut);
    performance->Build(*entry.m_midiData);
    for (int ch = 0; ch < 16; ++ch) {
        performance->SetPracticeChannel(ch, entry.m_channels[ch].m_practice != 0);
    }
    performance->SetSpeedPercent(ChosenSpeedPercent(choice.speedPosition));
    performance->SetMetronome(m_metronome.load());
    performance->SetNoteOnObserver(&CPelorvaneCore::OnPerformanceNoteOn, this);
    performance->SetPracticeQueue(&m_practice.Queue());
    m_practiceSong = m_practice.BeginSong(entry.m_path, performance->Meter());
    SetPerformance(std::move(performance));
    SilenceAllChannelsLocked();
    return true;
}

void CPelorvaneCore::StopPlay() {
    CheckedLock lock(m_playLock);
    StopPlayLocked();
}

void CPelorvaneCore::StopPlayLocked() {
    if (m_playState == Playing) {
        HandOverRunEnd(NowMs());
    }
    m_playState = Stopped;
    m_countIn.Reset();
    PublishSongClock(NowMs());
    if (m_pPerformance) {
        m_pPerformance->ClearKeyLights();
        m_pPerformance->SendAllKeysDark();
    }
    if (m_hMidiOut && !m_hMidiOut->Gone()) {
        for (int c = 0; c < 16; ++c) {
            m_hMidiOut->SendShort(PackShortMessage(static_cast<uint8_t>(0xB0 + c), 0x78, 0x00));
        }
    }
    WakeClockThread();
}

void CPelorvaneCore::HandOverRunStart(uint32_t clockMs) {
    const Performance* p = m_pPerformance.get();
    if (!p) {
        return;
    }
    PracticeEvent start;
    start.kind = PracticeEvent::RunStart;
    start.clockMs = clockMs;
    start.songMs = p->SongTime();
    start.mode = static_cast<uint8_t>(m_playMode);
    start.value = static_cast<uint32_t>(p->GetPlayer().SpeedPercent());
    start.song = m_practiceSong;
    m_practice.Queue().Push(start);
}

void CPelorvaneCore::HandOverRunEnd(uint32_t clockMs) {
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = clockMs;
    end.songMs = m_pPerformance ? m_pPerformance->SongTime() : 0;
    m_practice.Queue().Push(end);
}

void CPelorvaneCore::SilenceAllChannels() {
    CheckedLock lock(m_playLock);
    SilenceAllChannelsLocked();
}

void CPelorvaneCore::SilenceAllChannelsLocked() {
    if (!m_hMidiOut || m_hMidiOut->Gone()) {
        return;
    }
    for (int c = 0; c < 16; ++c) {
        const uint8_t status = static_cast<uint8_t>(0xB0 + c);
        m_hMidiOut->SendShort(PackShortMessage(status, 0x78, 0x00));
        m_hMidiOut->SendShort(PackShortMessage(status, 0x79, 0x00));
    }
}

bool CPelorvaneCore::OnSongSelChangeCore() {
    {
        CheckedLock lock(m_playLock);
        if (m_playState != Stopped) {
            StopPlayLocked();
        }
    }
    // The song list is the window thread's own, and the clock never reads it: the file is read,
    // and a failure told, with the clock free to run.
    const int row = m_host.SelectedSongRow();
    if (row < 0 || static_cast<size_t>(row) >= m_songList.m_entries.size()) {
        return false;
    }
    SongEntry& entry = m_songList.m_entries[static_cast<size_t>(row)];
    const int result = LoadSong(entry);
    if (result != SONG_OK) {
        ShowLoadError(m_host, entry.m_path, result);
        return false;
    }
    return true;
}

void CPelorvaneCore::OnTrackCheckChangeCore(const std::vector<std::pair<int, bool>>& rows) {
    const int row = m_host.SelectedSongRow();
    if (row < 0 || static_cast<size_t>(row) >= m_songList.m_entries.size()) {
        return;
    }
    CheckedLock lock(m_playLock);
    SongEntry& entry = m_songList.m_entries[static_cast<size_t>(row)];
    // Rows belong to a loaded song; any others are left over from another one and must not
    // become this song's practice channels.
    if (entry.m_midiData == nullptr) {
        return;
    }
    for (const auto& [channel, ticked] : rows) {
        if (channel < 0 || channel > 15) {
            continue;
        }
        entry.m_channels[channel].m_practice = ticked ? 1 : 0;
        if (m_pPerformance) {
            m_pPerformance->SetPracticeChannel(channel, ticked);
        }
    }
    if (m_playState != Stopped && m_pPerformance) {
        m_pPerformance->RestartChordSearch();
    }
    WakeClockThread();
}

void CPelorvaneCore::ApplySpeedFromSlider() {
    const int position = ClampSpeedPosition(m_host.SpeedSliderPosition());
    m_exactSpeed.store(0);
    CheckedLock lock(m_playLock);
    if (!m_pPerformance) {
        return;
    }
    m_pPerformance->SetSpeedPercent(SpeedPercentTable[position]);
    WakeClockThread();
}
