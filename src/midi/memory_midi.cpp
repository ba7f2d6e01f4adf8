#include "midi/memory_midi.h"

#include <algorithm>
#include <chrono>

#include <pthread.h>
#include <sched.h>

#include "platform/clock.h"

// ---------------------------------------------------------------------------------------------
// Output

class InMemoryMidiService::Output : public MidiOut {
  public:
    Output(InMemoryMidiService* service, int id) : m_service(service), m_id(id) {}
    ~Output() override { Close(); }

    int SendShort(uint32_t packed) override {
        WaitWhileBlocked();
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed || !m_service) {
            return MIDI_ERROR;
        }
        {
            std::lock_guard<std::mutex> serviceGuard(m_service->m_lock);
            if (Gone() || m_disconnected.load()) {
                ++m_service->m_sendsToGone;
                return MIDI_ERROR;
            }
            if (m_service->m_failShort) {
                return MIDI_ERROR;
            }
        }
        RecordedMessage message;
        message.timeMs = NowMs();
        message.deviceId = m_id;
        message.packed = packed;
        m_service->RecordSent(std::move(message));
        return MIDI_OK;
    }

    // A blocked device (BlockSends) would keep the sender waiting; any other takes it at once.
    int TrySendShort(uint32_t packed) override {
        InMemoryMidiService* service;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            service = m_service;
        }
        if (service && service->SendsBlocked()) {
            return MIDI_WOULD_WAIT;
        }
        return SendShort(packed);
    }

    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        WaitWhileBlocked();
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed || !m_service || !buffer) {
            return MIDI_ERROR;
        }
        if (Gone() || m_disconnected.load()) {
            std::lock_guard<std::mutex> serviceGuard(m_service->m_lock);
            ++m_service->m_sendsToGone;
            return MIDI_ERROR;
        }
        return m_service->SendSysexFrom(m_id, std::move(buffer));
    }

    bool Gone() const override { return m_gone.load(std::memory_order_acquire); }
    void Unplug() { m_gone.store(true, std::memory_order_release); }
    void Disconnect() { m_disconnected.store(true); }
    bool CheckPresence() override {
        if (m_disconnected.load()) {
            Unplug();
        }
        return !Gone();
    }

    void Close() override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) {
            return;
        }
        m_closed = true;
        if (m_service) {
            m_service->RecordOperation("close-out " + std::to_string(m_id));
            m_service->Forget(this);
        }
    }

    // The service is going away: behave as a closed device from now on.
    void Detach() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
        m_service = nullptr;
    }

    bool IsOpen() {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_closed;
    }
    int Id() const { return m_id; }

  private:
    std::mutex m_lock;
    InMemoryMidiService* m_service;
    const int m_id;
    bool m_closed = false;
    std::atomic<bool> m_gone{false};
    std::atomic<bool> m_disconnected{false};

    void WaitWhileBlocked() {
        InMemoryMidiService* service;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            service = m_service;
        }
        if (service) {
            service->WaitWhileBlocked();
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Input: a thread of its own hands the queued messages to the callback, as a system would.

class InMemoryMidiService::Input : public MidiIn {
  public:
    Input(InMemoryMidiService* service, int id, MidiInCallback callback, void* instance)
        : m_service(service), m_id(id), m_callback(callback), m_instance(instance) {}

    ~Input() override {
        Close();
        if (m_thread.joinable()) {
            if (m_thread.get_id() == std::this_thread::get_id()) {
                m_thread.detach();  // the last reference went inside the callback itself
            } else {
                m_thread.join();  // Close() ran inside the callback and could not wait
            }
        }
    }

    int Start() override {
        InMemoryMidiService* service;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_closed || !m_service) {
                return MIDI_ERROR;
            }
            service = m_service;
        }
        {
            std::lock_guard<std::mutex> serviceGuard(service->m_lock);
            if (service->m_failStart) {
                service->m_operations.push_back("start-in " + std::to_string(m_id) + " failed");
                return MIDI_ERROR;
            }
            service->m_operations.push_back("start-in " + std::to_string(m_id));
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_started) {
            m_started = true;
            m_startTime = NowMs();
            m_thread = std::thread(&Input::ThreadProc, this);
        }
        return MIDI_OK;
    }

    void Close() override {
        InMemoryMidiService* service;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_closed) {
                return;
            }
            m_closed = true;
            m_queue.clear();
            service = m_service;
        }
        m_wake.notify_all();
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
            m_thread.join();
        }
        if (service) {
            service->RecordOperation("close-in " + std::to_string(m_id));
            service->Forget(this);
        }
    }

    bool StillPresent() override {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_gone;
    }
    void Disconnect() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_disconnected = true;
        m_queue.clear();
    }
    bool CheckPresence() override {
        bool disconnected;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            disconnected = m_disconnected;
        }
        if (disconnected) {
            Unplug();
        }
        return StillPresent();
    }
    void Unplug() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_gone = true;
        m_queue.clear();
        m_wake.notify_all();
    }

    // Called with the service lock held.
    bool Enqueue(uint32_t packed) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed || !m_started || m_gone || m_disconnected) {
            return false;
        }
        m_queue.push_back(packed);
        m_wake.notify_all();
        return true;
    }

    void WaitIdle() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait(guard, [this] { return m_closed || (m_queue.empty() && !m_busy); });
    }

    // The service is going away.
    void Detach() {
        Close();
        std::lock_guard<std::mutex> guard(m_lock);
        m_service = nullptr;
    }

    bool IsOpen() {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_closed;
    }
    int Id() const { return m_id; }

  private:
    void ThreadProc() {
        // A system's MIDI input callback thread runs above ordinary threads; so does this one,
        // so that measurements made through it show the engine's delay, not the scheduler's.
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // not allowed: stays as is
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_closed || !m_queue.empty(); });
            if (m_closed) {
                break;
            }
            uint32_t packed = m_queue.front();
            m_queue.pop_front();
            m_busy = true;
            uint32_t stamp = NowMs() - m_startTime;
            guard.unlock();
            m_callback(this, kMimData, m_instance, packed, stamp);
            guard.lock();
            m_busy = false;
            m_wake.notify_all();
        }
        m_busy = false;
        m_wake.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    InMemoryMidiService* m_service;
    const int m_id;
    const MidiInCallback m_callback;
    void* const m_instance;
    std::deque<uint32_t> m_queue;
    bool m_started = false;
    bool m_closed = false;
    bool m_busy = false;
    bool m_gone = false;
    bool m_disconnected = false;
    uint32_t m_startTime = 0;
    std::thread m_thread;
};

// ---------------------------------------------------------------------------------------------
// Service

InMemoryMidiService::InMemoryMidiService(std::vector<std::string> inputs,
                                         std::vector<std::string> outputs)
    : m_inputs(std::move(inputs)), m_outputs(std::move(outputs)) {}

InMemoryMidiService::~InMemoryMidiService() {
    m_watcher.reset();
    BlockSends(false);
    std::vector<std::shared_ptr<Output>> outputs;
    std::vector<std::shared_ptr<Input>> inputs;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& weak : m_openOutputs) {
            if (auto output = weak.lock()) {
                outputs.push_back(output);
            }
        }
        for (auto& weak : m_openInputs) {
            if (auto input = weak.lock()) {
                inputs.push_back(input);
            }
        }
        m_exit = true;
    }
    for (auto& input : inputs) {
        input->Detach();
    }
    for (auto& output : outputs) {
        output->Detach();
    }
    m_sysexWake.notify_all();
    if (m_sysexThread.joinable()) {
        m_sysexThread.join();
    }
    // Whoever still waits on a pending message must not wait for ever.
    for (auto& pending : m_pendingSysex) {
        pending.buffer->done.store(true);
    }
}

std::vector<std::string> InMemoryMidiService::InputNames() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_inputs;
}

std::vector<std::string> InMemoryMidiService::OutputNames() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outputs;
}

int InMemoryMidiService::OpenOutput(int id, std::shared_ptr<MidiOut>& out) {
    out.reset();
    std::lock_guard<std::mutex> guard(m_lock);
    std::string op = "open-out " + std::to_string(id);
    int result = MIDI_OK;
    if (id < 0 || id >= static_cast<int>(m_outputs.size())) {
        result = MIDI_BAD_DEVICE_ID;
    } else if (m_failOpenOutput != 0) {
        result = m_failOpenOutput;
    } else {
        for (auto& weak : m_openOutputs) {
            auto open = weak.lock();
            if (open && open->Id() == id) {
                result = MIDI_ALLOCATED;
            }
        }
    }
    if (result != MIDI_OK) {
        m_operations.push_back(op + " failed " + std::to_string(result));
        return result;
    }
    auto output = std::make_shared<Output>(this, id);
    m_openOutputs.push_back(output);
    m_operations.push_back(op);
    if (m_queued) {
        auto sender = std::make_shared<OutputSender>(output);
        m_senders.push_back(sender);
        out = std::move(sender);
    } else {
        out = output;
    }
    m_watcher->Watch(out);
    return MIDI_OK;
}

int InMemoryMidiService::OpenInput(int id, MidiInCallback callback, void* instance,
                                   std::shared_ptr<MidiIn>& in) {
    in.reset();
    std::lock_guard<std::mutex> guard(m_lock);
    std::string op = "open-in " + std::to_string(id);
    int result = MIDI_OK;
    if (id < 0 || id >= static_cast<int>(m_inputs.size())) {
        result = MIDI_BAD_DEVICE_ID;
    } else if (m_failOpenInput != 0) {
        result = m_failOpenInput;
    } else if (!callback) {
        result = MIDI_ERROR;
    } else {
        for (auto& weak : m_openInputs) {
            auto open = weak.lock();
            if (open && open->Id() == id) {
                result = MIDI_ALLOCATED;
            }
        }
    }
    if (result != MIDI_OK) {
        m_operations.push_back(op + " failed " + std::to_string(result));
        return result;
    }
    auto input = std::make_shared<Input>(this, id, callback, instance);
    m_openInputs.push_back(input);
    m_operations.push_back(op);
    in = input;
    m_watcher->Watch(in);
    return MIDI_OK;
}

void InMemoryMidiService::SetInputNames(std::vector<std::string> names) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_inputs = std::move(names);
}

void InMemoryMidiService::SetOutputNames(std::vector<std::string> names) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_outputs = std::move(names);
}

void InMemoryMidiService::FailOpenOutput(int code) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failOpenOutput = code;
}

void InMemoryMidiService::FailOpenInput(int code) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failOpenInput = code;
}

void InMemoryMidiService::FailStart(bool fail) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failStart = fail;
}

void InMemoryMidiService::FailShortSends(bool fail) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failShort = fail;
}

namespace {

// Calls act on each port of the list that is still open and has this id.
template <typename Port, typename Act>
void ForOpenPort(std::vector<std::weak_ptr<Port>>& ports, int id, Act act) {
    for (auto& weak : ports) {
        if (auto port = weak.lock(); port && port->Id() == id) {
            act(*port);
        }
    }
}

}  // namespace

void InMemoryMidiService::UnplugOutput(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    ForOpenPort(m_openOutputs, id, [](auto& output) { output.Unplug(); });
}

void InMemoryMidiService::UnplugInput(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    ForOpenPort(m_openInputs, id, [](auto& input) { input.Unplug(); });
}

void InMemoryMidiService::DisconnectOutput(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    ForOpenPort(m_openOutputs, id, [](auto& output) { output.Disconnect(); });
}

void InMemoryMidiService::DisconnectInput(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    ForOpenPort(m_openInputs, id, [](auto& input) { input.Disconnect(); });
}

void InMemoryMidiService::SetLossListener(std::function<void()> listener) {
    m_watcher->SetLossListener(std::move(listener));
}

bool InMemoryMidiService::WaitForPresenceCheck(std::chrono::milliseconds limit) {
    return m_watcher->WaitForRound(limit);
}

void InMemoryMidiService::BlockSends(bool block) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_blockSends = block;
    }
    m_unblocked.notify_all();
}

bool InMemoryMidiService::SendsBlocked() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_blockSends;
}

void InMemoryMidiService::WaitWhileBlocked() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_unblocked.wait(guard, [this] { return !m_blockSends; });
}

void InMemoryMidiService::SendThroughSender(bool queued) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queued = queued;
}

void InMemoryMidiService::DrainSenders() {
    std::vector<std::shared_ptr<OutputSender>> senders;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::erase_if(m_senders,
                      [](const std::weak_ptr<OutputSender>& weak) { return weak.expired(); });
        for (auto& weak : m_senders) {
            if (auto sender = weak.lock()) {
                senders.push_back(std::move(sender));
            }
        }
    }
    for (auto& sender : senders) {
        sender->Drain();
    }
}

int InMemoryMidiService::SendsToGoneOutputs() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sendsToGone;
}

void InMemoryMidiService::FailSysexSends(bool fail) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failSysex = fail;
}

void InMemoryMidiService::SetSysexCompletion(SysexCompletion mode, uint32_t lateMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sysexMode = mode;
    m_sysexLateMs = lateMs;
}

void InMemoryMidiService::CompletePendingSysex() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& pending : m_pendingSysex) {
        pending.buffer->done.store(true);
    }
    m_pendingSysex.clear();
}

int InMemoryMidiService::PendingSysexCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_pendingSysex.size());
}

std::vector<RecordedMessage> InMemoryMidiService::Sent() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sent;
}

std::vector<RecordedMessage> InMemoryMidiService::TakeSent() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<RecordedMessage> sent;
    sent.swap(m_sent);
    return sent;
}

void InMemoryMidiService::ClearSent() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sent.clear();
}

std::vector<uint32_t> InMemoryMidiService::SentShort() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<uint32_t> packed;
    for (const auto& message : m_sent) {
        if (!message.sysex) {
            packed.push_back(message.packed);
        }
    }
    return packed;
}

std::vector<std::string> InMemoryMidiService::Operations() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_operations;
}

void InMemoryMidiService::ClearOperations() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_operations.clear();
}

int InMemoryMidiService::OpenOutputCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (auto& weak : m_openOutputs) {
        if (weak.lock()) {
            ++count;
        }
    }
    return count;
}

int InMemoryMidiService::OpenInputCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (auto& weak : m_openInputs) {
        if (weak.lock()) {
            ++count;
        }
    }
    return count;
}

int InMemoryMidiService::InjectInput(uint32_t packed, int deviceId) {
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (auto& weak : m_openInputs) {
        auto input = weak.lock();
        if (input && (deviceId < 0 || input->Id() == deviceId) && input->Enqueue(packed)) {
            ++count;
        }
    }
    return count;
}

void InMemoryMidiService::WaitForInputIdle() {
    std::vector<std::shared_ptr<Input>> inputs;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& weak : m_openInputs) {
            if (auto input = weak.lock()) {
                inputs.push_back(input);
            }
        }
    }
    for (auto& input : inputs) {
        input->WaitIdle();
    }
}

void InMemoryMidiService::RecordOperation(std::string op) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_operations.push_back(std::move(op));
}

void InMemoryMidiService::RecordSent(RecordedMessage message) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sent.push_back(std::move(message));
}

int InMemoryMidiService::SendSysexFrom(int deviceId, std::shared_ptr<SysexBuffer> buffer) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_failSysex) {
        return MIDI_ERROR;
    }
    RecordedMessage message;
    message.timeMs = NowMs();
    message.deviceId = deviceId;
    message.sysex = true;
    message.bytes = buffer->bytes;
    m_sent.push_back(std::move(message));
    switch (m_sysexMode) {
        case SysexCompletion::Immediate:
            buffer->done.store(true);
            break;
        case SysexCompletion::Late:
            m_pendingSysex.push_back({std::move(buffer), NowMs(), true, m_sysexLateMs});
            StartSysexThreadLocked();
            m_sysexWake.notify_all();
            break;
        case SysexCompletion::Never:
            m_pendingSysex.push_back({std::move(buffer), NowMs(), false, 0});
            break;
    }
    return MIDI_OK;
}

void InMemoryMidiService::Forget(const Output* output) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_openOutputs, [output](const std::weak_ptr<Output>& weak) {
        auto open = weak.lock();
        return !open || open.get() == output;
    });
}

void InMemoryMidiService::Forget(const Input* input) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_openInputs, [input](const std::weak_ptr<Input>& weak) {
        auto open = weak.lock();
        return !open || open.get() == input;
    });
}

void InMemoryMidiService::StartSysexThreadLocked() {
    if (!m_sysexThread.joinable() && !m_exit) {
        m_sysexThread = std::thread(&InMemoryMidiService::SysexThreadProc, this);
    }
}

void InMemoryMidiService::SysexThreadProc() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_exit) {
        // The clock may be a manual one that only the test moves, so look again every
        // millisecond rather than sleeping until a computed deadline.
        m_sysexWake.wait_for(guard, std::chrono::milliseconds(1));
        uint32_t now = NowMs();
        std::erase_if(m_pendingSysex, [now](const PendingSysex& pending) {
            if (pending.automatic && now - pending.sentAt >= pending.lateMs) {
                pending.buffer->done.store(true);
                return true;
            }
            return false;
        });
    }
}
