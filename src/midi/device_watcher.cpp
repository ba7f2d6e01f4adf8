#include "midi/device_watcher.h"

#include <algorithm>
#include <type_traits>

#include "platform/thread_name.h"

DeviceWatcher::DeviceWatcher(std::chrono::milliseconds interval) : m_interval(interval) {}

DeviceWatcher::~DeviceWatcher() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_exit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    // A device may outlive its watcher: it must not nudge one that has gone.
    const auto forget = [](auto& watched) {
        for (auto& w : watched) {
            if (auto device = w.device.lock(); device && w.tells) {
                device->TellsWhenGone(nullptr);
            }
        }
    };
    forget(m_outputs);
    forget(m_inputs);
}

template <typename Device>
void DeviceWatcher::Add(const std::shared_ptr<Device>& device) {
    // Asked outside the lock: the device calls the nudge under a lock of its own, and the nudge
    // takes this one.
    const bool tells = device && device->TellsWhenGone([this] { Nudge(); });
    std::lock_guard<std::mutex> guard(m_lock);
    if constexpr (std::is_same_v<Device, MidiOut>) {
        m_outputs.push_back({device, tells});
    } else {
        m_inputs.push_back({device, tells});
    }
    StartLocked();
    // The thread may be sleeping without a timeout: it looks at the newcomer once, and from then
    // on keeps the pace the devices call for.
    m_nudged = true;
    m_wake.notify_all();
}

void DeviceWatcher::Watch(const std::shared_ptr<MidiOut>& output) {
    Add(output);
}

void DeviceWatcher::Watch(const std::shared_ptr<MidiIn>& input) {
    Add(input);
}

void DeviceWatcher::Nudge() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_nudged = true;
    }
    m_wake.notify_all();
}

void DeviceWatcher::SetLossListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lossListener = std::move(listener);
}

void DeviceWatcher::StartLocked() {
    if (!m_thread.joinable() && !m_exit) {
        m_thread = std::thread(&DeviceWatcher::ThreadProc, this);
    }
}

bool DeviceWatcher::WaitForRound(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_lock);
    // A round already under way may have looked at a device before the caller changed it.
    const uint64_t after = m_roundsStarted;
    m_nudged = true;
    m_wake.notify_all();
    return m_round.wait_for(guard, limit, [&] { return m_exit || m_roundsEnded > after; }) &&
           !m_exit;
}

bool DeviceWatcher::AllTellLocked() const {
    const auto tells = [](const auto& w) { return w.tells; };
    return std::all_of(m_outputs.begin(), m_outputs.end(), tells) &&
           std::all_of(m_inputs.begin(), m_inputs.end(), tells);
}

void DeviceWatcher::ThreadProc() {
    NameThisThread("pv-devices");
    std::unique_lock<std::mutex> guard(m_lock);
    const auto woken = [this] { return m_exit || m_nudged; };
    for (;;) {
        if (!AllTellLocked()) {
            m_wake.wait_for(guard, m_interval, woken);
        } else if (m_secondLookDue) {
            m_wake.wait_until(guard, m_secondLook, woken);
        } else {
            m_wake.wait(guard, woken);
        }
        if (m_exit) {
            break;
        }
        m_secondLookDue = m_nudged;
        m_secondLook = std::chrono::steady_clock::now() + kSecondLook;
        m_nudged = false;
        ++m_roundsStarted;
        // Checked without the lock: a check may take long, and opening a device must not wait.
        std::vector<std::shared_ptr<MidiOut>> outputs;
        std::vector<std::shared_ptr<MidiIn>> inputs;
        for (const auto& w : m_outputs) {
            if (auto output = w.device.lock()) {
                outputs.push_back(std::move(output));
            }
        }
        for (const auto& w : m_inputs) {
            if (auto input = w.device.lock()) {
                inputs.push_back(std::move(input));
            }
        }
        guard.unlock();
        std::vector<const void*> gone;
        for (auto& output : outputs) {
            if (!output->CheckPresence()) {
                gone.push_back(output.get());
            }
        }
        for (auto& input : inputs) {
            if (!input->CheckPresence()) {
                gone.push_back(input.get());
            }
        }
        guard.lock();
        // Closed devices are forgotten; one found gone stays so and is not asked again, nor
        // heard.
        const auto done = [&](const auto& w) {
            auto device = w.device.lock();
            return !device || std::find(gone.begin(), gone.end(), device.get()) != gone.end();
        };
        std::erase_if(m_outputs, done);
        std::erase_if(m_inputs, done);
        ++m_roundsEnded;
        m_round.notify_all();
        if (!gone.empty() && m_lossListener) {
            m_lossListener();
        }
        // The last references may go here: a device closes outside the lock.
        guard.unlock();
        const auto unheard = [&](auto& devices) {
            for (auto& device : devices) {
                if (std::find(gone.begin(), gone.end(), device.get()) != gone.end()) {
                    device->TellsWhenGone(nullptr);
                }
            }
            devices.clear();
        };
        unheard(outputs);
        unheard(inputs);
        guard.lock();
    }
}
