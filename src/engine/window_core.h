#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/core_host.h"
#include "engine/play_session.h"
#include "engine/prepared_song.h"
#include "engine/save_notice.h"
#include "song/song_list.h"

struct SongEntry;

// Everything of the main window that needs no widget and is not playing itself: the song list,
// setting.txt and songlist.txt, and the window's commands turned into the play session's. The Qt
// window owns one and is its host: it answers the few questions the core asks (selected row,
// slider position, LEDs, messages), always with no lock held. Tests give it a fake host, the
// in-memory MIDI service and the manual clock.
class CPelorvaneCore {
  public:
    // Reads setting.txt and songlist.txt from dataDir (empty: the working directory). Both device
    // names start as "Digital Keyboard-1". The host must outlive the core.
    CPelorvaneCore(MidiService& service, CoreHost& host, std::string dataDir = {});
    // Shuts down if that has not been done, writes setting.txt, frees the song list and the
    // performance.
    ~CPelorvaneCore();

    CPelorvaneCore(const CPelorvaneCore&) = delete;
    CPelorvaneCore& operator=(const CPelorvaneCore&) = delete;

    // --- Start-up and shut-down -------------------------------------------------------------
    // Opens the devices (messages shown through ShowMessage), then starts the clock thread.
    void OpenMidiDevices();
    void CloseMidiDevices() { m_session.CloseDevices(); }
    void StartClockThread() { m_session.StartClockThread(); }
    // Stops playback, ends the clock thread, closes the devices and writes songlist.txt.
    // Safe to call more than once.
    void ShutDown();

    // --- Commands ------------------------------------------------------------------------------
    // Starts the selected song at the slider's speed with its ticked parts; while one plays,
    // switches the mode.
    void StartPlay(PlayMode mode);
    void StopPlay() { m_session.Stop(); }
    // Replays a take of the selected song from where its run began, at the slider's speed: the
    // parts the run practised (unknown: the ticked ones) sound as the learner played them, with
    // the song's hands divided at the run's split key (unknown, or -1: the current one). False
    // when no song is selected or there is no take.
    bool StartReplay(std::shared_ptr<const Take> take, std::optional<PracticeChoice> parts,
                     int splitKey, uint32_t fromSongMs);

    // Engine half of the song selection: stops playback, loads the selected song. Returns true
    // when the track list should be refilled; on a load failure the message has been shown.
    bool OnSongSelChangeCore();
    // Engine half of a tick in the track list: the checked state of every row, in row order,
    // as (channel, ticked) pairs.
    void OnTrackCheckChangeCore(const std::vector<std::pair<int, bool>>& rows);
    // Engine half of the speed slider: applies the speed of the slider's position.
    void ApplySpeedFromSlider();
    // Engine half of the settings command once the dialog returned OK with these names: true
    // when a name changed, or a device had gone, and the devices were reopened (the performance
    // is then discarded).
    bool ApplyDeviceNames(const std::string& inName, const std::string& outName);
    // Called by the window's idle routine: tells the learner once of a device found gone.
    void CheckDevices();

    // --- Start anywhere, A-B loop -------------------------------------------------------------
    void SeekTo(uint32_t songMs) { m_session.SeekTo(songMs); }
    void SetLoop(std::optional<LoopSpan> loop, int passes = 0) { m_session.SetLoop(loop, passes); }
    std::optional<LoopSpan> Loop() { return m_session.Loop(); }
    int LoopPassesPlayed() const { return m_session.LoopPassesPlayed(); }
    uint32_t ShownSongTime() const { return m_session.ShownSongTime(); }
    uint32_t PassageStart() const { return m_session.PassageStart(); }

    // --- Keeping time -------------------------------------------------------------------------
    // The metronome's clicks and the bars counted in before each start (0 to kMaxCountInBars;
    // false and nothing changed outside), as the session keeps them.
    void SetMetronome(bool on) { m_session.SetMetronome(on); }
    bool Metronome() const { return m_session.Metronome(); }
    bool SetCountInBars(int bars) { return m_session.SetCountInBars(bars); }
    int CountInBars() const { return m_session.CountInBars(); }
    bool CountingIn() const { return m_session.CountingIn(); }
    void SetLoopCountIn(bool on) { m_session.SetLoopCountIn(on); }
    bool LoopCountIn() const { return m_session.LoopCountIn(); }
    // An exact speed, any ValidSpeedPercent, applied now and kept until the slider is moved;
    // false (nothing changed) for any other value.
    bool SetSpeedPercent(int percent);
    // The speed a start gets: the exact one, else the slider position's.
    int ChosenSpeedPercent(int sliderPosition) const;

    // --- On-screen keyboard ---------------------------------------------------------------------
    void PlayScreenKey(int key, bool down, bool scored = true) {
        m_session.PlayScreenKey(key, down, scored);
    }

    // --- Settings
    // ---------------------------------------------------------------------------------
    void LoadSettings();
    // Writes setting.txt; the first failure of the run is told to the host's ShowSaveFailure. True
    // when written.
    bool SaveSettings();
    std::string DataPath(const char* fileName) const;

    // --- What the window, tools and tests read ------------------------------------------------
    // The play session: the clock, the devices and what the screen follows of a playing song.
    PlaySession& Session() { return m_session; }
    const PlaySession& Session() const { return m_session; }
    MidiService& Service() const { return m_service; }
    const std::string& DataDir() const { return m_dataDir; }
    // The names of the devices the core opens and setting.txt keeps. User-interface thread.
    const std::string& InDeviceName() const { return m_inMidiDeviceName; }
    const std::string& OutDeviceName() const { return m_outMidiDeviceName; }
    // Sets the names without opening anything: the next OpenMidiDevices opens them.
    void SetDeviceNames(const std::string& inName, const std::string& outName);
    // The song list. User-interface thread.
    SongList& Songs() { return m_songList; }
    const SongList& Songs() const { return m_songList; }

    // The loaded song of an entry made ready to play, show and score, with the split key as it
    // is; the song selected last is kept prepared, so asking again costs nothing.
    std::shared_ptr<const PreparedSong> PreparedSongOf(const SongEntry& entry) {
        return m_prepared.Get(entry.m_midiData, m_splitKey);
    }
    // The same once it is ready; until then null, while a worker makes it. A start waits for
    // it.
    std::shared_ptr<const PreparedSong> ReadyPreparedSongOf(const SongEntry& entry) {
        return m_prepared.Request(entry.m_midiData, m_splitKey);
    }
    // Songs of at least this many events are prepared on a worker.
    void PrepareAsideFrom(std::size_t events) { m_prepared.SetAtOnceBelowEvents(events); }
    // The hand practised on the channels two hands share, at once; and the key that divides a
    // channel played by one track, from the next start (a playing song keeps its division).
    // False for a split key outside 0-127, which changes nothing.
    bool SetHands(Hand hand, int splitKey);
    Hand PracticeHand() const { return m_practiceHand; }
    int SplitKey() const { return m_splitKey; }

    // Any thread, no lock: the play state, and the snapshots the clock thread publishes.
    PlayState CurrentPlayState() const { return m_session.CurrentPlayState(); }
    KeyState::Snapshot ReadKeyState() const { return m_session.ReadKeyState(); }
    SongClock::Reading ReadSongClock() const { return m_session.ReadSongClock(); }
    PublishNotice& Published() { return m_session.Published(); }
    PublishNotice& KeysPlayed() { return m_session.KeysPlayed(); }
    TrackActivity& Activity() { return m_session.Activity(); }
    PracticeLog& Practice() { return m_session.Practice(); }

  private:
    MidiService& m_service;
    CoreHost& m_host;
    std::string m_dataDir;
    std::string m_inMidiDeviceName;  // user-interface thread
    std::string m_outMidiDeviceName;
    SongList m_songList;  // user-interface thread
    PlaySession m_session;
    std::atomic<int> m_exactSpeed{0};  // 0: the slider's
    PreparedSongCache m_prepared;
    Hand m_practiceHand = Hand::Both;
    int m_splitKey = PartMap::kDefaultSplitKey;
    // The entry's ticked channels and the hand chosen.
    PracticeChoice ChoiceOf(const SongEntry& entry) const;

    // The selected row's song when it is loaded, else none.
    SongEntry* SelectedLoadedSong();
    // Opens the devices by the names kept, then shows what the opening had to tell.
    void ReopenMidiDevices(bool discardPerformance);
    bool m_shutDown = false;
    // The input was found gone and closed; the next settings OK opens it again even under the
    // same name. User-interface thread.
    bool m_inputLost = false;
    // The learner has been told the output is gone, and has not chosen devices since.
    bool m_outputLostTold = false;
    SaveNotice m_saveNotice;
    void SaveFailed(const std::string& path);
};
