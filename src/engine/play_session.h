#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/clock_schedule.h"
#include "engine/count_in.h"
#include "engine/device_hold.h"
#include "engine/key_state.h"
#include "engine/passage.h"
#include "engine/play_mode.h"
#include "engine/player_input.h"
#include "engine/practice_choice.h"
#include "engine/practice_log.h"
#include "engine/prepared_song.h"
#include "engine/publish_notice.h"
#include "engine/song_clock.h"
#include "engine/take.h"
#include "engine/track_activity.h"
#include "midi/midi_port.h"
#include "platform/checked_mutex.h"

class Performance;
namespace smf {
class Song;
}

// A start: how, how fast and which parts of which song. While a song plays, a start only
// switches the mode.
struct StartCommand {
    PlayMode mode = PlayMode::ModelPerformance;
    int speedPercent = 100;
    PracticeChoice parts;
    std::shared_ptr<const smf::Song> song;  // none: nothing to start
    // The song prepared already (none: prepared at the start, with the default split key).
    std::shared_ptr<const PreparedSong> prepared;
    std::string path;  // the song's file, as the practice history knows it
};

// A replay: the song in the model performance from where a run began, with the parts the run
// practised replaced by what the learner played in it, at the learner's own pace.
struct ReplayCommand {
    StartCommand start;  // the song, the speed and the run's own parts; its mode is not used
    std::shared_ptr<const Take> take;
    uint32_t fromSongMs = 0;
};

// The devices as opened: their names as resolved, and what the opening has to tell the learner,
// in order.
struct DeviceOpening {
    std::string inName;
    std::string outName;
    std::vector<std::string> messages;
};

// What a look at the devices found gone since the last look.
enum class DeviceLoss { None, Output, InputStoppedPlay, Input };
// What the learner is told of a loss; none for DeviceLoss::None.
const char* DeviceLossText(DeviceLoss loss);

// Playing a song: the devices, the clock thread and its tick, the input callback, the passage
// and the snapshots the screen follows. It knows no window, song list or file of settings:
// commands carry their values, and what the learner must be told comes back as a value that
// the caller shows once the lock is free.
//
// The lock contract, checked by clang's thread-safety analysis: m_playLock guards the current
// performance and everything in it, the device handles, the play start time, the channel rows,
// the play mode and the screen keys. The public commands take it themselves (EXCLUDES); the
// private *Locked steps they share need it held (REQUIRES), so that no path takes it twice.
// m_playState is atomic: anyone may read it, it is written under the lock. The input callback
// takes only m_inputLock, never the play lock.
//
// The clock thread waits for the play lock at every tick, so nothing that can wait is done
// under it: devices are opened and closed outside it, and no message is shown from here.
class PlaySession {
  public:
    explicit PlaySession(MidiService& service);
    // Ends the clock thread, closes the devices and discards the performance.
    ~PlaySession();

    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    // --- Devices ------------------------------------------------------------------------------
    // Closes both devices and opens them by these names; with discardPerformance, first stops
    // play and discards the performance that holds the old output.
    DeviceOpening OpenDevices(std::string inName, std::string outName,
                              bool discardPerformance = false) EXCLUDES(m_playLock);
    void CloseDevices() EXCLUDES(m_playLock);
    // An open device that has gone since it was opened.
    bool DeviceGone() const EXCLUDES(m_playLock);
    // The clock thread stops play itself on the tick that finds the output gone. This closes an
    // input found gone and stops a lesson or accompaniment that listens to it. Never waits on
    // the clock: while the clock holds the lock, the input is looked at next time.
    DeviceLoss CheckDevices() EXCLUDES(m_playLock);

    // --- Clock --------------------------------------------------------------------------------
    void StartClockThread();
    void EndClockThread();
    void OnClockTick() EXCLUDES(m_playLock);
    // Every command that changes what is due, or when, calls this after its change: the clock
    // thread sleeps until the next moment it planned and would otherwise miss it. Any thread.
    void WakeClockThread();
    static void ClockThreadProc(PlaySession* session);
    static void MidiInProc(MidiIn* handle, uint32_t messageCode, void* instance, uintptr_t param1,
                           uintptr_t param2);
    // Observer registered with every new performance; the context is the session.
    static void OnPerformanceNoteOn(void* context, int channel, int note, int velocity, bool muted);

    // --- Commands -----------------------------------------------------------------------------
    // False when nothing was started: no song to start.
    bool Start(const StartCommand& command) EXCLUDES(m_playLock);
    // Stops what plays and replays a take; it records no run and no take. False when nothing
    // was started: no song or no take. A start of any mode ends it.
    bool StartReplay(const ReplayCommand& command) EXCLUDES(m_playLock);
    // True from a replay's start until the next start: what plays (or stood last) is a replay.
    bool Replaying() const { return m_replaying.load(); }
    void Stop() EXCLUDES(m_playLock);
    void SilenceAllChannels() EXCLUDES(m_playLock);
    void SetSpeed(int percent) EXCLUDES(m_playLock);
    void SetPracticeChoice(PracticeChoice parts) EXCLUDES(m_playLock);
    // While playing, jumps there; while stopped, the next start begins there.
    void SeekTo(uint32_t songMs) EXCLUDES(m_playLock);
    // A loop that does not hold the place moves it to A (a jump while playing).
    void SetLoop(std::optional<LoopSpan> loop, int passes = 0) EXCLUDES(m_playLock);
    std::optional<LoopSpan> Loop() EXCLUDES(m_playLock);
    // Where each channel's notes light up in the track list: row by channel, -1 for none.
    void SetChannelRows(const std::array<int, 16>& rows) EXCLUDES(m_playLock);
    // A key pressed (or released) on the screen: reaches the lesson as a Note On on MIDI
    // channel 1 from the input would, and sounds on the output device. A press not scored still
    // plays the lesson but is left out of the run's figures.
    void PlayScreenKey(int key, bool down, bool scored = true) EXCLUDES(m_playLock);
    // The metronome's clicks, now and in every performance prepared from here on.
    void SetMetronome(bool on) EXCLUDES(m_playLock);
    bool Metronome() const { return m_metronome.load(); }
    // Bars counted in before each start, 0 to kMaxCountInBars; false (nothing changed) outside.
    bool SetCountInBars(int bars);
    int CountInBars() const { return m_countInBars.load(); }
    // Counts in again before each further pass of a loop, as before a start; from the next pass.
    void SetLoopCountIn(bool on) { m_loopCountIn.store(on); }
    bool LoopCountIn() const { return m_loopCountIn.load(); }
    // True while a start counts in: the song stands until the count-in is over.
    bool CountingIn() const EXCLUDES(m_playLock) {
        CheckedLock lock(m_playLock);
        return m_countIn.Active();
    }
    // Blocks until nothing plays, at most for timeout; true when nothing plays.
    bool WaitUntilStopped(std::chrono::milliseconds timeout);

    // --- What the window, tools and tests read ------------------------------------------------
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
    // The channel a screen key sounds on now, -1 for none.
    int ScreenKeyChannel() const REQUIRES(m_playLock);
    // Passes of the loop played since the start.
    int LoopPassesPlayed() const EXCLUDES(m_playLock) {
        CheckedLock lock(m_playLock);
        return m_passage.PassesPlayed();
    }

    // Any thread, no lock: the play state, and the snapshots the clock thread publishes.
    PlayState CurrentPlayState() const { return m_playState.load(); }
    KeyState::Snapshot ReadKeyState() const { return m_keyState.Read(); }
    SongClock::Reading ReadSongClock() const { return m_songClock.Read(); }
    // Told of every change to the song clock and the key state, for a screen to sleep on.
    PublishNotice& Published() { return m_published; }
    PublishNotice& KeysPlayed() { return m_keysPlayed; }
    // Where the next start begins.
    uint32_t PassageStart() const { return m_passage.Start(); }
    // The song time to show: where play is, or where the next start begins. Never waits on the
    // clock thread.
    uint32_t ShownSongTime() const;
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

  private:
    MidiService& m_service;
    mutable CheckedMutex m_playLock;
    std::shared_ptr<MidiIn> m_hMidiIn GUARDED_BY(m_playLock);
    std::shared_ptr<MidiOut> m_hMidiOut GUARDED_BY(m_playLock);
    std::atomic<bool> m_clockExit{false};
    // The clock thread's own: the last tick, the milliseconds to the next (PlannedTickMs), and
    // whether only key lights can change in that one.
    uint32_t m_lastTickTime = 0;
    uint32_t m_plannedTickMs = 1;
    bool m_plannedLightsOnly = false;
    std::atomic<uint64_t> m_clockWakeups{0};
    uint32_t m_playStartTime GUARDED_BY(m_playLock) = 0;
    std::atomic<PlayState> m_playState{Stopped};  // written under m_playLock
    std::unique_ptr<Performance> m_pPerformance GUARDED_BY(m_playLock) PT_GUARDED_BY(m_playLock);
    std::array<int, 16> m_channelRow GUARDED_BY(m_playLock){-1, -1, -1, -1, -1, -1, -1, -1,
                                                            -1, -1, -1, -1, -1, -1, -1, -1};
    TrackActivity m_activity;
    PublishNotice m_published;  // before the snapshots that tell it
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
    // Only the keys the learner holds or lets go, which the screen shows at once even where it
    // follows the rest at its own pace.
    PublishNotice m_keysPlayed;
    // What the screen keyboard shows: held keys from MidiInProc, key lights from the clock tick.
    KeyState m_keyState{&m_published, &m_keysPlayed};

    // A replay's: nothing of it is handed over to the practice log.
    std::atomic<bool> m_replaying{false};
    std::shared_ptr<const Take> m_replayTake GUARDED_BY(m_playLock);

    std::atomic<bool> m_metronome{false};
    std::atomic<int> m_countInBars{0};
    std::atomic<bool> m_loopCountIn{false};
    CountIn m_countIn GUARDED_BY(m_playLock);
    // A start's count-in, at the tick of a start: true while it goes on and the song must not.
    bool CountInTick(Performance* p, uint32_t now) REQUIRES(m_playLock);
    // At a loop's jump back to A: the pass just played ends its run, and a count-in begins when
    // one is asked for before each pass. True when it did; the song then stands at A.
    bool BeginPassCountIn(Performance* p, uint32_t now, uint32_t reachedMs) REQUIRES(m_playLock);
    // While a pass counts in: true while it goes on. At its end the song goes on from A as
    // after a jump, and the next pass's run begins.
    bool PassCountInTick(Performance* p, uint32_t now) REQUIRES(m_playLock);
    // While it counts, the song stands: only its clicks and the pre-lit keys are due.
    clock_schedule::NextTick PlanCountInTick(const Performance* p, uint32_t now) const
        REQUIRES(m_playLock);

    // The steps the commands share, for callers that hold the play lock already.
    void StopPlayLocked() REQUIRES(m_playLock);
    bool StartPlayLocked(const StartCommand& command) REQUIRES(m_playLock);
    bool PreparePerformanceLocked(const StartCommand& command) REQUIRES(m_playLock);
    void SilenceAllChannelsLocked() REQUIRES(m_playLock);
    void SeekToLocked(uint32_t songMs) REQUIRES(m_playLock);

    // A key or the pedal of the player's, from the input or the screen: keys into the held keys
    // and the lesson, and while a song plays everything into the player's input stream at its
    // song time. Input or user-interface thread; takes no play lock.
    void TakePlayerAction(PlayerAction action) EXCLUDES(m_playLock);
    void HandOverRunStart(uint32_t clockMs) REQUIRES(m_playLock);
    void HandOverRunEnd(uint32_t clockMs) REQUIRES(m_playLock);
    std::thread m_hClockThread;
    std::atomic<bool> m_clockEnded{false};  // set by the clock thread as its last act
    enum LostDevice : int { kNoLoss, kOutputLost };
    std::atomic<int> m_deviceLoss{kNoLoss};  // set by the clock thread, taken by CheckDevices
    // What the input device holds down, let go when it is found gone.
    DeviceHold m_deviceHold;
    // While nothing plays and no key light can change, the clock thread sleeps until a start or
    // the end wakes it, instead of waking every millisecond.
    std::mutex m_clockWakeLock;
    std::condition_variable m_clockWake;
    std::atomic<bool> m_clockIdle{false};   // decided by each tick
    std::atomic<bool> m_clockWoken{false};  // WakeClockThread since the thread last looked
    // Whoever waits for play to end (WaitUntilStopped) is told here whenever it does.
    std::mutex m_stoppedLock;
    std::condition_variable m_stopped;
    void TellStopped();
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
