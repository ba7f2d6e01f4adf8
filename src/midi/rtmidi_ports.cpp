#include "midi/rtmidi_ports.h"

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <mutex>

#include "midi/jack_input.h"
#include "midi/jack_output.h"
#include "midi/jack_probe.h"
#include "midi/short_message.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace {

// RtMidi reports errors through this callback instead of throwing once it is installed.
struct ErrorState {
    bool failed = false;
    RtMidiError::Type type = RtMidiError::UNSPECIFIED;
    std::string text;

    void Clear() { failed = false; }
};

void OnRtMidiError(RtMidiError::Type type, const std::string& text, void* userData) {
    auto* state = static_cast<ErrorState*>(userData);
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        return;
    }
    state->failed = true;
    state->type = type;
    state->text = text;
}

template <typename Port>
std::vector<std::string> ReportedNames(Port& port) {
    std::vector<std::string> names;
    unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        names.push_back(port.getPortName(i));
    }
    return names;
}

// Where the named port sits in the system's list right now; -1 when it is gone.
template <typename Port>
int FindPort(Port& port, PortSystem system, const std::string& name, std::string& reported) {
    std::vector<std::string> all = ReportedNames(port);
    for (const SystemPort& entry : MakePortList(all, system)) {
        if (entry.name == name) {
            reported = all[entry.index];
            return static_cast<int>(entry.index);
        }
    }
    return -1;
}

int OpenFailureCode(const ErrorState& state) {
    switch (state.type) {
        case RtMidiError::INVALID_PARAMETER:
        case RtMidiError::NO_DEVICES_FOUND:
        case RtMidiError::INVALID_DEVICE:
            return MIDI_BAD_DEVICE_ID;
        default:
            return MIDI_ERROR;
    }
}

class RtOutput : public MidiOut {
  public:
    RtOutput(PortSystem system, std::string name, std::string reported)
        : m_system(system), m_name(std::move(name)), m_reported(std::move(reported)) {}
    ~RtOutput() override { Close(); }

    // The port, once it has been opened with this object's error state.
    void Attach(std::unique_ptr<RtMidiOut> port) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_port = std::move(port);
    }

    // Filled by RtMidi's error callback while this object sends or opens.
    ErrorState m_error;

    int SendShort(uint32_t packed) override {
        std::lock_guard<std::mutex> guard(m_lock);
        return SendShortLocked(packed);
    }

    // RtMidi writes into ALSA's sequencer opened not to block; only the watcher, listing the
    // system's ports under the port's lock, can make a sender wait.
    int TrySendShort(uint32_t packed) override {
        std::unique_lock<std::mutex> guard(m_lock, std::try_to_lock);
        if (!guard.owns_lock()) {
            return MIDI_WOULD_WAIT;
        }
        return SendShortLocked(packed);
    }

    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!buffer || buffer->bytes.empty() || !Usable()) {
            return MIDI_ERROR;
        }
        int result = Send(buffer->bytes.data(), buffer->bytes.size());
        // RtMidi hands the bytes over before it returns, so the message is finished here.
        if (result == MIDI_OK) {
            buffer->done.store(true);
        }
        return result;
    }

    void Close() override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_port) {
            m_port->closePort();
            m_port.reset();
        }
    }

    bool Gone() const override { return m_gone.load(std::memory_order_acquire); }

    bool CheckPresence() override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_port || Gone()) {
            return !Gone();
        }
        std::string reported;
        if (FindPort(*m_port, m_system, m_name, reported) < 0 || reported != m_reported) {
            m_gone.store(true, std::memory_order_release);
            DebugOutput(">MIDI output device is gone: " + m_name);
        }
        return !Gone();
    }

  private:
    bool Usable() const { return m_port && !Gone(); }

    // Under m_lock.
    int SendShortLocked(uint32_t packed) {
        if (!Usable()) {
            return MIDI_ERROR;
        }
        uint8_t bytes[3] = {uint8_t(packed), uint8_t(packed >> 8), uint8_t(packed >> 16)};
        int length = ShortMessageLength(bytes[0]);
        if (length == 0) {
            return MIDI_ERROR;
        }
        return Send(bytes, length);
    }

    int Send(const uint8_t* bytes, std::size_t length) {
        m_error.Clear();
        m_port->sendMessage(bytes, length);
        if (m_error.failed) {
            DebugOutput(">RtMidi: " + m_error.text);
            return MIDI_ERROR;
        }
        return MIDI_OK;
    }

    std::mutex m_lock;
    std::unique_ptr<RtMidiOut> m_port;
    PortSystem m_system;
    std::string m_name;
    std::string m_reported;
    std::atomic<bool> m_gone{false};
};

class RtInput : public MidiIn {
  public:
    RtInput(MidiInCallback callback, void* instance, PortSystem system, std::string name,
            std::string reported)
        : m_system(system),
          m_name(std::move(name)),
          m_reported(std::move(reported)),
          m_callback(callback),
          m_instance(instance) {}
    ~RtInput() override { Close(); }

    int Start() override {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        if (!m_port) {
            return MIDI_ERROR;
        }
        m_started = true;
        return MIDI_OK;
    }

    void Close() override {
        {
            // Once this returns no callback runs, and none starts afterwards.
            std::lock_guard<std::mutex> guard(m_callbackLock);
            m_started = false;
            m_closed = true;
        }
        std::lock_guard<std::mutex> guard(m_portLock);
        if (m_port) {
            m_port->cancelCallback();
            m_port->closePort();
            m_port.reset();
        }
    }

    bool StillPresent() override { return !m_gone.load(std::memory_order_acquire); }

    bool CheckPresence() override {
        std::lock_guard<std::mutex> guard(m_portLock);
        if (!m_port || !StillPresent()) {
            return StillPresent();
        }
        std::string reported;
        if (FindPort(*m_port, m_system, m_name, reported) < 0 || reported != m_reported) {
            m_gone.store(true, std::memory_order_release);
            DebugOutput(">MIDI input device is gone: " + m_name);
        }
        return StillPresent();
    }

    static void OnMessage(double, std::vector<unsigned char>* message, void* userData) {
        auto* self = static_cast<RtInput*>(userData);
        if (!message || message->empty() || message->size() > 3) {
            return;
        }
        uint32_t packed = 0;
        for (std::size_t i = 0; i < message->size(); ++i) {
            packed |= uint32_t((*message)[i]) << (8 * i);
        }
        std::lock_guard<std::mutex> guard(self->m_callbackLock);
        if (self->m_started && !self->m_closed) {
            uint32_t stamp = NowMs();
            self->m_callback(self, kMimData, self->m_instance, packed, stamp);
        }
    }

    std::mutex m_portLock;
    std::unique_ptr<RtMidiIn> m_port;
    ErrorState m_error;

  private:
    const PortSystem m_system;
    const std::string m_name;
    const std::string m_reported;
    std::atomic<bool> m_gone{false};  // set under m_portLock
    std::mutex m_callbackLock;
    MidiInCallback m_callback;
    void* m_instance;
    bool m_started = false;
    bool m_closed = false;
};

}  // namespace

std::unique_ptr<RtMidiPorts> RtMidiPorts::Create(PortSystem system) {
    std::unique_ptr<RtMidiPorts> ports(new RtMidiPorts(system));
    if (system == PortSystem::Jack) {
        ports->m_jackLister = JackLister::Connect();
        return ports->m_jackLister ? std::move(ports) : nullptr;
    }
    try {
        ports->m_inputLister = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kOwnClientName);
        ports->m_outputLister = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kOwnClientName);
        static ErrorState listerErrors;  // listing only reads; its errors change nothing
        ports->m_inputLister->setErrorCallback(&OnRtMidiError, &listerErrors);
        ports->m_outputLister->setErrorCallback(&OnRtMidiError, &listerErrors);
        return ports;
    } catch (const RtMidiError& error) {
        DebugOutput(">RtMidi: " + error.getMessage());
        return nullptr;
    }
}

RtMidiPorts::RtMidiPorts(PortSystem system) : m_system(system) {}

RtMidiPorts::~RtMidiPorts() = default;

bool RtMidiPorts::Alive() const {
    return !m_jackLister || m_jackLister->Alive();
}

std::vector<std::string> RtMidiPorts::Reported(bool inputs) {
    if (m_jackLister) {
        return m_jackLister->MidiPorts(inputs);
    }
    return inputs ? ReportedNames(*m_inputLister) : ReportedNames(*m_outputLister);
}

std::vector<std::string> RtMidiPorts::InputNames() {
    std::vector<std::string> names;
    for (auto& port : MakePortList(Reported(true), m_system)) {
        names.push_back(port.name);
    }
    return names;
}

std::vector<std::string> RtMidiPorts::OutputNames() {
    std::vector<std::string> names;
    for (auto& port : MakePortList(Reported(false), m_system)) {
        names.push_back(port.name);
    }
    return names;
}

int RtMidiPorts::OpenOutput(const std::string& name, std::shared_ptr<MidiOut>& out) {
    out.reset();
    if (m_system == PortSystem::Jack) {
        // Through a client of our own, which places each message at its frame.
        const std::vector<std::string> all = Reported(false);
        for (const SystemPort& entry : MakePortList(all, m_system)) {
            if (entry.name == name) {
                return OpenJackOutput(name, all[entry.index], out);
            }
        }
        return MIDI_BAD_DEVICE_ID;
    }
    try {
        auto port = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kOwnClientName);
        std::string reported;
        int index = FindPort(*port, m_system, name, reported);
        if (index < 0) {
            return MIDI_BAD_DEVICE_ID;
        }
        auto output = std::make_shared<RtOutput>(m_system, name, reported);
        port->setErrorCallback(&OnRtMidiError, &output->m_error);
        port->openPort(static_cast<unsigned>(index), kOwnClientName);
        if (output->m_error.failed || !port->isPortOpen()) {
            DebugOutput(">RtMidi: cannot open output " + name + ": " + output->m_error.text);
            return OpenFailureCode(output->m_error);
        }
        output->Attach(std::move(port));
        out = output;
        return MIDI_OK;
    } catch (const RtMidiError& error) {
        DebugOutput(">RtMidi: " + error.getMessage());
        return MIDI_ERROR;
    }
}

int RtMidiPorts::OpenInput(const std::string& name, MidiInCallback callback, void* instance,
                           std::shared_ptr<MidiIn>& in) {
    in.reset();
    if (!callback) {
        return MIDI_ERROR;
    }
    if (m_system == PortSystem::Jack) {
        const std::vector<std::string> all = Reported(true);
        for (const SystemPort& entry : MakePortList(all, m_system)) {
            if (entry.name == name) {
                return OpenJackInput(name, all[entry.index], callback, instance, in);
            }
        }
        return MIDI_BAD_DEVICE_ID;
    }
    try {
        auto port = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kOwnClientName);
        std::string reported;
        int index = FindPort(*port, m_system, name, reported);
        if (index < 0) {
            return MIDI_BAD_DEVICE_ID;
        }
        auto input = std::make_shared<RtInput>(callback, instance, m_system, name, reported);
        port->setErrorCallback(&OnRtMidiError, &input->m_error);
        // Only short messages are wanted; system exclusive, clock and active sensing are dropped.
        port->ignoreTypes(true, true, true);
        port->setCallback(&RtInput::OnMessage, input.get());
        port->openPort(static_cast<unsigned>(index), kOwnClientName);
        if (input->m_error.failed || !port->isPortOpen()) {
            DebugOutput(">RtMidi: cannot open input " + name + ": " + input->m_error.text);
            port->cancelCallback();
            return OpenFailureCode(input->m_error);
        }
        input->m_port = std::move(port);
        in = input;
        return MIDI_OK;
    } catch (const RtMidiError& error) {
        DebugOutput(">RtMidi: " + error.getMessage());
        return MIDI_ERROR;
    }
}
