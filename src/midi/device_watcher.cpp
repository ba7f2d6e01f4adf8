#include "midi/device_watcher.h"

#include <algorithm>

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
}

void DeviceWatcher::Watch(const std::shared_ptr<MidiOut>& output) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_outputs.push_back(output);
    StartLocked();
}

void DeviceWatcher::Watch(const std::shared_ptr<MidiIn>& input) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_inputs.push_back(input);
    StartLocked();
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
    return m_round.wait_for(guard, limit, [&] { return m_exit || m_roundsEnded > after; }) &&
           !m_exit;
}

void DeviceWatcher::SetLossListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lossListener = std::move(listener);
}

void DeviceWatcher::ThreadProc() {
    NameThisThread("pv-devices");
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_wake.wait_for(guard, m_interval, [this] { return m_exit; })) {
        ++m_roundsStarted;
        // Checked without the lock: a check may take long, and opening a device must not wait.
        std::vector<std::shared_ptr<MidiOut>> outputs;
        std::vector<std::shared_ptr<MidiIn>> inputs;
        for (const auto& weak : m_outputs) {
            if (auto output = weak.lock()) {
                outputs.push_back(std::move(output));
            }
        }
        for (const auto& weak : m_inputs) {
            if (auto input = weak.lock()) {
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
        // Closed devices are forgotten; one found gone stays so and is not asked again.
        const auto done = [&](const auto& weak) {
            auto device = weak.lock();
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
        outputs.clear();
        inputs.clear();
        guard.lock();
    }
}
