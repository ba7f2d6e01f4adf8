// The main window's commands as the play session takes them: the selected song, the slider's
// speed and the ticked parts; song selection, and shutting down.

#include "engine/window_core.h"

#include "engine/speed_percent.h"
#include "song/song_entry.h"

PracticeChoice CPelorvaneCore::ChoiceOf(const SongEntry& entry) const {
    PracticeChoice parts;
    for (int ch = 0; ch < 16; ++ch) {
        parts.SetChannel(ch, entry.m_channels[ch].m_practice != 0);
    }
    parts.hand = m_practiceHand;
    return parts;
}

CPelorvaneCore::CPelorvaneCore(MidiService& service, CoreHost& host, std::string dataDir)
    : m_service(service), m_host(host), m_dataDir(std::move(dataDir)), m_session(service) {
    m_inMidiDeviceName = "Digital Keyboard-1";
    m_outMidiDeviceName = "Digital Keyboard-1";
    m_prepared.TellWhenReady(&m_session.Published());
    LoadSettings();
    ReadSongList(m_songList, DataPath(kSongListFileName));
}

CPelorvaneCore::~CPelorvaneCore() {
    // A window that is destroyed without having been closed still stops its thread and devices
    // before anything they use goes away.
    ShutDown();
    SaveSettings();
    FreeSongList(m_songList);
}

void CPelorvaneCore::ShutDown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    if (m_session.CurrentPlayState() != Stopped) {
        m_session.Stop();
    }
    m_session.EndClockThread();
    m_session.CloseDevices();
    const std::string songListPath = DataPath(kSongListFileName);
    if (!SaveSongList(m_songList, songListPath)) {
        SaveFailed(songListPath);
    }
    // setting.txt is written again by the destructor; written here too so that a failure is
    // told while the window can still show it.
    SaveSettings();
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

SongEntry* CPelorvaneCore::SelectedLoadedSong() {
    const int row = m_host.SelectedSongRow();
    if (row < 0 || static_cast<size_t>(row) >= m_songList.m_entries.size()) {
        return nullptr;
    }
    SongEntry& entry = m_songList.m_entries[static_cast<size_t>(row)];
    return entry.m_midiData ? &entry : nullptr;
}

void CPelorvaneCore::StartPlay(PlayMode mode) {
    StartCommand start;
    start.mode = mode;
    start.speedPercent = ChosenSpeedPercent(m_host.SpeedSliderPosition());
    if (const SongEntry* entry = SelectedLoadedSong()) {
        start.song = entry->m_midiData;
        start.path = entry->m_path;
        start.parts = ChoiceOf(*entry);
        start.prepared = PreparedSongOf(*entry);
    }
    if (m_session.Start(start)) {
        m_host.LightModeLed(static_cast<int>(mode));
    }
}

bool CPelorvaneCore::OnSongSelChangeCore() {
    if (m_session.CurrentPlayState() != Stopped) {
        m_session.Stop();
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
    ReadyPreparedSongOf(entry);
    return true;
}

void CPelorvaneCore::OnTrackCheckChangeCore(const std::vector<std::pair<int, bool>>& rows) {
    // Rows belong to a loaded song; any others are left over from another one and must not
    // become this song's practice channels.
    SongEntry* entry = SelectedLoadedSong();
    if (!entry) {
        return;
    }
    for (const auto& [channel, ticked] : rows) {
        if (channel < 0 || channel > 15) {
            continue;
        }
        entry->m_channels[channel].m_practice = ticked ? 1 : 0;
    }
    m_session.SetPracticeChoice(ChoiceOf(*entry));
}

void CPelorvaneCore::ApplySpeedFromSlider() {
    m_exactSpeed.store(0);
    m_session.SetSpeed(SpeedPercentTable[ClampSpeedPosition(m_host.SpeedSliderPosition())]);
}

bool CPelorvaneCore::SetSpeedPercent(int percent) {
    if (!ValidSpeedPercent(percent)) {
        return false;
    }
    m_exactSpeed.store(percent);
    m_session.SetSpeed(percent);
    return true;
}

int CPelorvaneCore::ChosenSpeedPercent(int sliderPosition) const {
    const int exact = m_exactSpeed.load();
    return exact != 0 ? exact : SpeedPercentTable[ClampSpeedPosition(sliderPosition)];
}
