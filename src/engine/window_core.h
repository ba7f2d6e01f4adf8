#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core_host.h"
#include "engine/key_state.h"
#include "engine/passage.h"
#include "engine/play_mode.h"
#include "engine/practice_log.h"
#include "engine/publish_notice.h"
#include "engine/save_notice.h"
#include "engine/song_clock.h"
#include "engine/track_activity.h"
#include "midi/midi_port.h"
#include "platform/checked_mutex.h"
#include "song/song_list.h"

class Performance;

// Everything of the main window that needs no widget. The Qt window owns one and is its host: it
// answers the few questions the core asks (selected row, slider position, LEDs, messages). Tests
// give it a fake host, the in-memory MIDI service and the manual clock.
//
// The lock contract, checked by clang's thread-safety analysis: m_playLock guards the current
// performance and everything in it, the device handles, the play start time, the channel rows,
// the play mode and the screen keys. The public commands take it themselves (EXCLUDES); the
// private *Locked steps they share need it held (REQUIRES), so that no path of the core takes it
// twice. m_playState is atomic: anyone may read it, it is written under the lock. The input
// callback takes only m_inputLock, never the play lock.
//
// The clock thread waits for the play lock at every tick, so nothing that can wait is done
// under it: the host is asked before it is taken and told after it is released (a message box
// waits for the learner), and devices are opened and closed outside it.
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
    void OpenMidiDevices() EXCLUDES(m_playLock);
    void CloseMidiDevices() EXCLUDES(m_playLock);
    void StartClockThread();
    // Stops playback, ends the clock thread, closes the devices and writes songlist.txt.
    // Safe to call more than once.
    void ShutDown() EXCLUDES(m_playLock);

    // --- Commands ------------------------------------------------------------------------------
    void StartPlay(PlayMode mode) EXCLUDES(m_playLock);
    bool PreparePerformance() EXCLUDES(m_playLock);
    void StopPlay() EXCLUDES(m_playLock);
    void SilenceAllChannels() EXCLUDES(m_playLock);

    // Engine half of the song selection: stops playback, loads the selected song. Returns true
    // when the track list should be refilled; on a load failure the message has been shown.
    bool OnSongSelChangeCore() EXCLUDES(m_playLock);
    // Engine half of a tick in the track list: the checked state of every row, in row order,
    // as (channel, ticked) pairs.
    void OnTrackCheckChangeCore(const std::vector<std::pair<int, bool>>& rows) EXCLUDES(m_playLock);
    // Engine half of the speed slider: applies the speed of the slider's position.
    void ApplySpeedFromSlider() EXCLUDES(m_playLock);
    // Engine half of the settings command once the dialog returned OK with these names: true
    // when a name changed, or a device had gone, and the devices were reopened (the performance
    // is then discarded).
    bool ApplyDeviceNames(const std::string& inName, const std::string& outName)
        EXCLUDES(m_playLock);

    // --- Clock and input ------------------------------------------------------------------------
    void OnClockTick() EXCLUDES(m_playLock);
    // Every command that changes what is due, or when, calls this after its change: the clock
    // thread sleeps until the next moment it planned and would otherwise miss it. Any thread.
    void WakeClockThread();
    static void ClockThreadProc(CPelorvaneCore* core);
    static void MidiInProc(MidiIn* handle, uint32_t messageCode, void* instance, uintptr_t param1,
                           uintptr_t param2);
    // Observer registered with every new performance; the context is the core.
    static void OnPerformanceNoteOn(void* context, int channel, int note, int velocity, bool muted);

    // --- A device that disappears ----------------------------------------------------------
    // The clock thread stops play itself on the tick that finds the output gone. This, called
    // by the window's idle routine (user-interface thread), closes an input found gone, stops a
    // lesson or accompaniment it was listening for, and tells the learner once.
    void CheckDevices() EXCLUDES(m_playLock);

    // --- Settings
    // ---------------------------------------------------------------------------------
    void LoadSettings();
    // Writes setting.txt; the first failure of the run is told to the host's ShowSaveFailure. True
    // when written.
    bool SaveSettings();
    std::string DataPath(const char* fileName) const;

    // --- What the window, tools and tests read ------------------------------------------------
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

    // Whoever reads what the play lock guards holds it through this, with CheckedLock.
    CheckedMutex& PlayLock() const RETURN_CAPABILITY(m_playLock) { return m_playLock; }
    // The current performance, none before a start; it and everything in it are the lock's.
    Performance* CurrentPerformance() REQUIRES(m_playLock) { return m_pPerformance.get(); }
    const Performance* CurrentPerformance() const REQUIRES(m_playLock) {
        return m_pPerformance.get();
    }
    const std::shared_ptr<MidiIn>& InputDevice() const REQUIRES(m_playLock) { return m_hMidiIn; }
    const std::shared_ptr<MidiOut>& OutputDevice() const REQUIRES(m_playLock) { return m_hMidiOut; }
    uint32_t PlayStartTime() const REQUIRES(m_playLock) { return m_playStartTime; }
    const std::array<int, 16>& ChannelRows() const REQUIRES(m_playLock) { return m_channelRow; }
    // Passes of the loop played since the start.
    int LoopPassesPlayed() const EXCLUDES(m_playLock) {
        CheckedLock lock(m_playLock);
        return m_passage.PassesPlayed();
    }

    // Any thread, no lock: the play state, and the snapshots the clock thread publishes.
    PlayState CurrentPlayState() const { return m_playState.load(); }
    KeyState::Snapshot ReadKeyState() const { return m_keyState.Read(); }
    SongClock::Reading ReadSongClock() const { return m_songClock.Read(); }
    PublishNotice& Published() { return m_published; }
    // Where the next start begins.
    uint32_t PassageStart() const { return m_passage.Start(); }
    // The note flashes of the track rows (atomic).
    TrackActivity& Activity() { return m_activity; }
    const TrackActivity& Activity() const { return m_activity; }
    // The clock thread and the input callback hand over what happened here; the window (or
    // pelorvane-play) collects the scored runs from it.
    PracticeLog& Practice() { return m_practice; }
    // The clock thread's wake-ups so far, for measurements.
    uint64_t ClockWakeups() const { return m_clockWakeups.load(std::memory_order_relaxed); }
    // Clock milliseconds from the last tick to the next that can change what is sent, as that
    // tick planned them. Clock thread, or a test driving the ticks.
    uint32_t PlannedTickMs() const { return m_plannedTickMs; }
    // True when the last tick found nothing playing and nothing to light: the clock thread
    // then rests until a command wakes it.
    bool ClockRests() const { return m_clockIdle.load(std::memory_order_acquire); }

    // Written by the user-interface thread, read by the clock thread's note observer.
    void SetChannelRows(const std::array<int, 16>& rows) EXCLUDES(m_playLock);

    // --- Start anywhere, A-B loop -------------------------------------------------------------
    // While playing, jumps there; while stopped, the next start begins there.
    void SeekTo(uint32_t songMs) EXCLUDES(m_playLock);
    // A loop that does not hold the place moves it to A (a jump while playing).
    void SetLoop(std::optional<LoopSpan> loop, int passes = 0) EXCLUDES(m_playLock);
    std::optional<LoopSpan> Loop() EXCLUDES(m_playLock);
    // The song time to show: where play is, or where the next start begins. Never waits on the
    // clock thread.
    uint32_t ShownSongTime() const;

    // --- On-screen keyboard ---------------------------------------------------------------------
    // A key pressed (or released) on the screen: reaches the lesson as a Note On on MIDI
    // channel 1 from the input would, and sounds on the output device. A press not scored still
    // plays the lesson but is left out of the run's figures. User-interface thread.
    void PlayScreenKey(int key, bool down, bool scored = true) EXCLUDES(m_playLock);
    // The channel a screen key sounds on now, -1 for none.
    int ScreenKeyChannel() const REQUIRES(m_playLock);

  private:
    MidiService& m_service;
    CoreHost& m_host;
    std::string m_dataDir;
    mutable CheckedMutex m_playLock;
    std::shared_ptr<MidiIn> m_hMidiIn GUARDED_BY(m_playLock);
    std::shared_ptr<MidiOut> m_hMidiOut GUARDED_BY(m_playLock);
    std::string m_inMidiDeviceName;  // user-interface thread
    std::string m_outMidiDeviceName;
    std::atomic<bool> m_clockExit{false};
    // The clock thread's own: the last tick, the milliseconds to the next (PlannedTickMs), and
    // whether only key lights can change in that one.
    uint32_t m_lastTickTime = 0;
    uint32_t m_plannedTickMs = 1;
    bool m_plannedLightsOnly = false;
    std::atomic<uint64_t> m_clockWakeups{0};
    uint32_t m_playStartTime GUARDED_BY(m_playLock) = 0;
    std::atomic<PlayState> m_playState{Stopped};  // written under m_playLock
    SongList m_songList;                          // user-interface thread
    std::unique_ptr<Performance> m_pPerformance GUARDED_BY(m_playLock) PT_GUARDED_BY(m_playLock);
    std::array<int, 16> m_channelRow GUARDED_BY(m_playLock){-1, -1, -1, -1, -1, -1, -1, -1,
                                                            -1, -1, -1, -1, -1, -1, -1, -1};
    TrackActivity m_activity;
    // Told of every change to the song clock and the key state below, for the window to sleep on.
    PublishNotice m_published;
    // Every call but Start() and SongTime() comes under the play lock.
    Passage m_passage;
    // The song time and how it moves, published at every tick and every start, jump and stop
    // for the screen to follow without waiting on the clock.
    SongClock m_songClock{&m_published};
    // Publishes where the performance stands at clock value nowMs.
    void PublishSongClock(uint32_t nowMs) REQUIRES(m_playLock);
    PracticeLog m_practice;
    PlayMode m_playMode GUARDED_BY(m_playLock) = PlayMode::ModelPerformance;
    // The prepared song's number in m_practice.
    uint32_t m_practiceSong GUARDED_BY(m_playLock) = 0;
    // What the screen keyboard shows: held keys from MidiInProc, key lights from the clock tick.
    KeyState m_keyState{&m_published};

    // What the window has chosen for the next performance, asked before the play lock is taken.
    struct SongChoice {
        int row;            // the selected song row, -1 for none
        int speedPosition;  // the speed slider's position
    };
    SongChoice AskSongChoice() EXCLUDES(m_playLock);

    // The steps the commands share, for callers that hold the play lock already.
    void StopPlayLocked() REQUIRES(m_playLock);
    // False when nothing was started: no song, or none loaded, is chosen.
    bool StartPlayLocked(PlayMode mode, const SongChoice& choice) REQUIRES(m_playLock);
    bool PreparePerformanceLocked(const SongChoice& choice) REQUIRES(m_playLock);
    void SilenceAllChannelsLocked() REQUIRES(m_playLock);
    void SeekToLocked(uint32_t songMs) REQUIRES(m_playLock);
    // Closes both devices and opens them by name again; with discardPerformance, first stops
    // play and discards the performance that holds the old output. The failures are told once
    // the new devices are in place.
    void ReopenMidiDevices(bool discardPerformance) EXCLUDES(m_playLock);

    // A key of the player's, from the input or the screen: into the held keys, the lesson and,
    // when scored, the practice record. Input or user-interface thread; takes no play lock.
    void TakePlayerKey(int key, bool down, bool scored, uint32_t playedMs) EXCLUDES(m_playLock);
    void HandOverRunStart(uint32_t clockMs) REQUIRES(m_playLock);
    void HandOverRunEnd(uint32_t clockMs) REQUIRES(m_playLock);
    std::thread m_hClockThread;
    std::atomic<bool> m_clockEnded{false};  // set by the clock thread as its last act
    bool m_shutDown = false;
    // The input was found gone and closed; the next settings OK opens it again even under the
    // same name. User-interface thread.
    bool m_inputLost = false;
    // The learner has been told the output is gone, and has not chosen devices since.
    bool m_outputLostTold = false;
    enum DeviceLoss : int { kNoLoss, kOutputLost };
    std::atomic<int> m_deviceLoss{kNoLoss};  // set by the clock thread, taken by CheckDevices
    SaveNotice m_saveNotice;
    void SaveFailed(const std::string& path);
    void EndClockThread();
    // While nothing plays and no key light can change, the clock thread sleeps until a start or
    // the end wakes it, instead of waking every millisecond.
    std::mutex m_clockWakeLock;
    std::condition_variable m_clockWake;
    std::atomic<bool> m_clockIdle{false};   // decided by each tick
    std::atomic<bool> m_clockWoken{false};  // WakeClockThread since the thread last looked
    // The speed of the last tick's advance: the song ran at it through the milliseconds the
    // clock then slept, even if the speed has been changed since. Clock thread.
    int32_t m_lastAdvanceSpeed GUARDED_BY(m_playLock) = 100;
    // Guards the performance that MidiInProc writes keys into, so that it never writes into one
    // being replaced or destroyed. Held only for a few instructions.
    CheckedMutex m_inputLock;
    Performance* m_inputTarget GUARDED_BY(m_inputLock) = nullptr;
    void SetPerformance(std::unique_ptr<Performance> performance) REQUIRES(m_playLock)
        EXCLUDES(m_inputLock);
    // The channel each sounding screen key went out on (-1: none), so that its note-off follows
    // it there whatever has changed since. Under m_playLock.
    std::array<int8_t, 128> m_screenKeyChannel GUARDED_BY(m_playLock) = MakeNoScreenKeys();
    static std::array<int8_t, 128> MakeNoScreenKeys() {
        std::array<int8_t, 128> keys;
        keys.fill(-1);
        return keys;
    }
};
