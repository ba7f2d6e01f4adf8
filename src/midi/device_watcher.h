#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/midi_port.h"

// Checks on a thread of its own, every interval, that the open devices are still there. Asking
// the system may mean listing its ports, which can take a while (a busy JACK server); done here,
// no sender and no window ever waits on it. A device found missing is marked gone by its own
// CheckPresence(), which the players of the device loss (the clock's tick, the window's idle
// routine) read cheaply.
class DeviceWatcher {
  public:
    static constexpr std::chrono::milliseconds kDefaultInterval{500};

    explicit DeviceWatcher(std::chrono::milliseconds interval = kDefaultInterval);
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Watched until the device is closed (its last reference goes) or found gone. The thread
    // starts with the first device.
    void Watch(const std::shared_ptr<MidiOut>& output);
    void Watch(const std::shared_ptr<MidiIn>& input);

    // Waits until a whole round of checks has begun and ended after this call; false when that
    // took longer than limit.
    bool WaitForRound(std::chrono::milliseconds limit);

    // Called on the watcher's thread after a round that found a device gone, so that whoever
    // tells the learner need not keep asking; null for none. It must not block: the watcher's
    // lock is held, so that once this returns the old listener is never called again.
    void SetLossListener(std::function<void()> listener);

  private:
    void StartLocked();
    void ThreadProc();

    const std::chrono::milliseconds m_interval;
    std::mutex m_lock;
    std::condition_variable m_wake;   // exit
    std::condition_variable m_round;  // a round ended
    std::vector<std::weak_ptr<MidiOut>> m_outputs;
    std::vector<std::weak_ptr<MidiIn>> m_inputs;
    std::function<void()> m_lossListener;
    uint64_t m_roundsStarted = 0;
    uint64_t m_roundsEnded = 0;
    bool m_exit = false;
    std::thread m_thread;
};
