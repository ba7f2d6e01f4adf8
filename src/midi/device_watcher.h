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
// routine) read cheaply. Where every device watched tells when it may have gone (a JACK port
// hears of the server's ports coming and going), the thread checks only then, and otherwise
// sleeps.
class DeviceWatcher {
  public:
    static constexpr std::chrono::milliseconds kDefaultInterval{500};
    // A nudge is followed by a second look this much later: JACK changes what it lists only at
    // its next period, so a port that has just gone may be listed a moment longer.
    static constexpr std::chrono::milliseconds kSecondLook{500};

    explicit DeviceWatcher(std::chrono::milliseconds interval = kDefaultInterval);
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Watched until the device is closed (its last reference goes) or found gone. The thread
    // starts with the first device.
    void Watch(const std::shared_ptr<MidiOut>& output);
    void Watch(const std::shared_ptr<MidiIn>& input);

    // Starts a round of checks and waits until it has ended; false when that took longer than
    // limit.
    bool WaitForRound(std::chrono::milliseconds limit);

    // Called on the watcher's thread after a round that found a device gone, so that whoever
    // tells the learner need not keep asking; null for none. It must not block: the watcher's
    // lock is held, so that once this returns the old listener is never called again.
    void SetLossListener(std::function<void()> listener);

  private:
    template <typename Device>
    struct Watched {
        std::weak_ptr<Device> device;
        bool tells = false;  // nudges the watcher when it may have gone
    };

    template <typename Device>
    void Add(const std::shared_ptr<Device>& device);
    void Nudge();
    bool AllTellLocked() const;
    void StartLocked();
    void ThreadProc();

    const std::chrono::milliseconds m_interval;
    std::mutex m_lock;
    std::condition_variable m_wake;   // exit, or a nudge
    std::condition_variable m_round;  // a round ended
    std::vector<Watched<MidiOut>> m_outputs;
    std::vector<Watched<MidiIn>> m_inputs;
    bool m_nudged = false;
    bool m_secondLookDue = false;
    std::chrono::steady_clock::time_point m_secondLook;
    std::function<void()> m_lossListener;
    uint64_t m_roundsStarted = 0;
    uint64_t m_roundsEnded = 0;
    bool m_exit = false;
    std::thread m_thread;
};
