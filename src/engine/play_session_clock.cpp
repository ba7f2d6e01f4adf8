// The playback clock thread, the MIDI input callback and the note observer.

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "engine/clock_schedule.h"
#include "engine/clock_thread_priority.h"
#include "engine/performance.h"
#include "engine/play_session.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/thread_name.h"

namespace {
constexpr uint32_t kSustainController = 64;
}  // namespace

void PlaySession::OnClockTick() {
    const uint32_t now = NowMs();
    if (now == m_lastTickTime) {
        return;
    }
    // Milliseconds since the last tick in which, as planned, nothing could become due.
    const uint32_t quietMs = std::min(now - m_lastTickTime, m_plannedTickMs) - 1;
    m_lastTickTime = now;

    CheckedLock lock(m_playLock);
    // The output's sender is woken once for all that this tick sends.
    const MidiOutBatch batch(m_hMidiOut);
    const bool wasPlaying = m_playState == Playing;
    bool ended = false;
    Performance* p = m_pPerformance.get();
    if (m_playState == Starting && !CountInTick(p, now)) {
        m_playStartTime = now;
        m_playState = Playing;
        if (p) {
            p->SetPracticeClockBase(now);
            HandOverRunStart(now);
        }
    }
    // A pass of a loop counting in stands at A; the tick that ends it goes on from there.
    const bool passCountIn = m_playState == Playing && p && m_countIn.Active();
    if (passCountIn) {
        PassCountInTick(p, now);
    }
    if (m_playState == Playing && p && !passCountIn) {
        if (!m_passage.TakeJump() && wasPlaying) {
            p->AdvanceQuietly(quietMs, m_lastAdvanceSpeed);
        }
        p->Advance(now - m_playStartTime);
        const int passes = m_passage.PassesPlayed();
        const uint32_t reached = p->SongTime();
        // The song's end, or the end of a loop's last pass.
        if (m_passage.AfterAdvance()) {
            p->ReleaseReplay();
            HandOverRunEnd(now);
            m_playState = Stopped;
            ended = true;
        } else if (m_passage.PassesPlayed() != passes && !BeginPassCountIn(p, now, reached)) {
            PracticeEvent pass;
            pass.kind = PracticeEvent::LoopPass;
            pass.clockMs = now;
            pass.songMs = reached;
            pass.value = p->SongTime();
            m_practice.Queue().Push(pass);
        }
        m_passage.Publish(p->SongTime());
    }
    if (p) {
        p->UpdateKeyLights(now);
        m_lastAdvanceSpeed = p->GetPlayer().SpeedPercent();
    }
    // An output that has gone takes nothing more: play ends here, cleanly, and whoever checks the
    // devices tells the learner once. The loss is noted first: the stop wakes whoever waits for
    // the end, and they look at once.
    if (m_playState != Stopped && m_hMidiOut && m_hMidiOut->Gone()) {
        m_deviceLoss.store(kOutputLost, std::memory_order_release);
        StopPlayLocked();
    }
    m_keyState.Publish(p, m_playState != Stopped);
    PublishSongClock(now);
    // The clock sleeps until the earliest thing any time source has due.
    const Performance::Sources sources = p ? p->TimeSources() : Performance::Sources{};
    const clock_schedule::NextTick next =
        m_countIn.Active() ? PlanCountInTick(p, now)
                           : clock_schedule::PlanNextTick(sources, m_playState, now);
    m_plannedTickMs = next.ms;
    m_plannedLightsOnly = next.lightsOnly;
    m_clockIdle.store(m_playState == Stopped && (!p || p->KeyLightsSettled()),
                      std::memory_order_release);
    // Told once the tick has published how the song ended.
    if (ended) {
        TellStopped();
    }
}

void PlaySession::ClockThreadProc(PlaySession* session) {
    using std::chrono::microseconds;
    NameThisThread("pv-clock");
    RaiseClockThreadPriority();
    while (!session->m_clockExit.load(std::memory_order_acquire)) {
        const bool woken = session->m_clockWoken.exchange(false, std::memory_order_acq_rel);
        const uint32_t lastTick = session->m_lastTickTime;
        session->OnClockTick();
        session->m_clockWakeups.fetch_add(1, std::memory_order_relaxed);
        std::unique_lock<std::mutex> wake(session->m_clockWakeLock);
        if (session->m_clockIdle.load(std::memory_order_acquire)) {
            // Nothing to do until a command: every one that may give the clock work wakes it,
            // under this lock, so the thread rests without a timeout and costs nothing meanwhile.
            session->m_clockWake.wait(wake, [session] {
                return session->m_clockExit.load(std::memory_order_acquire) ||
                       session->m_clockWoken.load(std::memory_order_acquire) ||
                       session->m_playState.load() != Stopped;
            });
            continue;
        }
        // Woken in the millisecond of the last tick: the tick did not look again, so the next
        // millisecond's does.
        const bool again = woken && session->m_lastTickTime == lastTick;
        const uint32_t ahead = again ? 1 : session->m_plannedTickMs;
        // A tick that sends a song event comes just after its millisecond begins. One that only
        // turns a flashing key comes late in its millisecond: a key the lesson waits for that
        // is played before then is answered by that tick, not the next millisecond's.
        const auto into =
            !again && session->m_plannedLightsOnly ? microseconds(750) : microseconds(20);
        session->m_clockWake.wait_until(
            wake, SteadyTimeWhenClockShows(session->m_lastTickTime + ahead, into), [session] {
                return session->m_clockExit.load(std::memory_order_acquire) ||
                       session->m_clockWoken.load(std::memory_order_acquire);
            });
    }
    session->m_clockEnded.store(true, std::memory_order_release);
}

void PlaySession::WakeClockThread() {
    std::lock_guard<std::mutex> wake(m_clockWakeLock);
    m_clockWoken.store(true, std::memory_order_release);
    m_clockWake.notify_all();
}

void PlaySession::StartClockThread() {
    if (m_hClockThread.joinable()) {
        return;
    }
    m_clockExit.store(false, std::memory_order_release);
    m_clockEnded.store(false, std::memory_order_release);
    // Without the thread nothing plays, but the window, the song list and the settings still
    // work and are saved, so the program goes on rather than end on the exception.
    try {
        m_hClockThread = std::thread(&PlaySession::ClockThreadProc, this);
    } catch (const std::system_error& e) {
        DebugOutput(std::string("The playback clock thread cannot be created (") + e.what() +
                    "); nothing will play.");
    }
}

void PlaySession::EndClockThread() {
    if (!m_hClockThread.joinable()) {
        return;
    }
    m_clockExit.store(true, std::memory_order_release);
    WakeClockThread();
    const auto start = std::chrono::steady_clock::now();
    while (!m_clockEnded.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1000)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The thread uses the lock and the session, so neither may go while it runs: past the usual
    // second (a device stuck on a system exclusive message), keep waiting rather than pull the
    // ground from under it.
    if (!m_clockEnded.load(std::memory_order_acquire)) {
        DebugOutput("The playback clock thread did not end within 1000 ms; still waiting for it.");
    }
    m_hClockThread.join();
}

void PlaySession::MidiInProc(MidiIn* handle, uint32_t messageCode, void* instance, uintptr_t param1,
                             uintptr_t param2) {
    if (messageCode != kMimData || !instance) {
        return;
    }
    auto* session = static_cast<PlaySession*>(instance);
    const uint32_t status = param1 & 0xFF;
    const uint32_t data1 = (param1 >> 8) & 0xFF;
    const uint32_t data2 = (param1 >> 16) & 0xFF;
    if (data1 > 127) {
        return;
    }
    // The player's keys and pedal arrive on MIDI channel 1 only.
    PlayerAction action;
    action.key = static_cast<uint8_t>(data1);
    action.value = static_cast<uint8_t>(std::min<uint32_t>(data2, 127));
    if (status == 0x80 || (status == 0x90 && data2 == 0)) {
        action.kind = PlayerAction::KeyUp;
        action.value = 0;
    } else if (status == 0x90) {
        action.kind = PlayerAction::KeyDown;
    } else if (status == 0xB0 && data1 == kSustainController) {
        action.kind = PlayerAction::Pedal;
        action.key = 0;
    } else {
        return;
    }
    // A key is scored at the time it was played where the device tells it, not when its
    // message reached us.
    action.clockMs =
        handle && handle->StampsProgramClock() ? static_cast<uint32_t>(param2) : NowMs();
    session->TakePlayerAction(action);
}

void PlaySession::TakePlayerAction(PlayerAction action) {
    if (action.origin == PlayerAction::Device) {
        m_deviceHold.Note(action);
    }
    const bool playing = m_playState.load() != Stopped;
    if (action.kind != PlayerAction::Pedal) {
        const bool down = action.kind == PlayerAction::KeyDown;
        m_keyState.SetHeld(action.key, down);
        {
            CheckedLock input(m_inputLock);
            if (Performance* p = m_inputTarget) {
                p->SetKeyDown(action.key, down);
            }
        }
        // The lesson may wait for this key, and the screen keyboard marks wrong keys.
        if (playing) {
            WakeClockThread();
        }
    }
    // What is played along to a replay belongs to no run.
    if (playing && !m_replaying.load()) {
        // Where the song stood when it was played, as the clock last published it: a lesson's
        // wait holds it at the awaited chord, a loop's pass at its own part of the song.
        action.songMs = m_songClock.Read().At(action.clockMs);
        m_practice.Input().Push(action);
    }
}

void PlaySession::OnPerformanceNoteOn(void* context, int channel, int, int, bool muted) {
    auto* session = static_cast<PlaySession*>(context);
    // Called from the performance's advance, inside a tick that holds the play lock.
    session->m_playLock.AssertHeld();
    if (channel < 0 || channel > 15) {
        return;
    }
    const int row = session->m_channelRow[static_cast<size_t>(channel)];
    if (row < 0 || row >= TrackActivity::kMaxRows) {
        return;
    }
    TrackActivity& activity = session->m_activity;
    activity.m_noteColor[static_cast<size_t>(row)].store(muted ? 0xC0C0C0u : 0xFF0000u,
                                                         std::memory_order_relaxed);
    activity.m_lastNoteTime[static_cast<size_t>(row)].store(
        activity.m_now.load(std::memory_order_relaxed), std::memory_order_relaxed);
}
