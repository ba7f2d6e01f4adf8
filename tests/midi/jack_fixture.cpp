#include "jack_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

bool ServerAnswers() {
    jack_status_t status;
    jack_client_t* client = jack_client_open("probe", JackNoStartServer, &status);
    if (!client) {
        return false;
    }
    jack_client_close(client);
    return true;
}

void Quiet(const char*) {}

class JackEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        jack_set_error_function(&Quiet);
        jack_set_info_function(&Quiet);
        m_name = "pelorvane-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        m_pid = fork();
        if (m_pid == 0) {
            // The server must not outlive a test program that crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            // Real-time where the user may have it, as a JACK server is set up to run; jackd
            // goes on without it elsewhere. Synchronous (-S): a cycle waits for every client
            // instead of dropping, with what they wrote in it, one that a busy virtual machine
            // held up; the dummy backend has no sound card whose deadline a wait could miss.
            execlp("jackd", "jackd", "-S", "-n", m_name.c_str(), "-d", "dummy", "-r", "48000", "-p",
                   "256", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && m_pid > 0; ++i) {
            if (ServerAnswers()) {
                g_ready = true;
                return;
            }
            int status;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;  // jackd ended at once: not installed or cannot run here
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void TearDown() override {
        if (m_pid <= 0) {
            return;
        }
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            int status;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }

    static bool g_ready;

  private:
    std::string m_name;
    pid_t m_pid = -1;
};

bool JackEnvironment::g_ready = false;

[[maybe_unused]] auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new JackEnvironment);

uint32_t Pack(const std::vector<unsigned char>& bytes) {
    uint32_t packed = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 3; ++i) {
        packed |= uint32_t(bytes[i]) << (8 * i);
    }
    return packed;
}

class RecordingOut : public MidiOut {
  public:
    RecordingOut(std::shared_ptr<MidiOut> inner, RecordingService& owner)
        : m_inner(std::move(inner)), m_owner(owner) {}
    int SendShort(uint32_t packed) override {
        int result = m_inner->SendShort(packed);
        if (result == 0) {
            std::lock_guard<std::mutex> guard(m_owner.m_lock);
            m_owner.m_sentShort.push_back(packed);
        }
        return result;
    }
    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        return m_inner->SendSysex(std::move(buffer));
    }
    // The output's own sender does the waiting, as without this wrapper.
    bool WriteSysex(std::shared_ptr<SysexBuffer> buffer) override {
        return m_inner->WriteSysex(std::move(buffer));
    }
    void Close() override { m_inner->Close(); }
    bool Gone() const override { return m_inner->Gone(); }
    bool CheckPresence() override { return m_inner->CheckPresence(); }

  private:
    std::shared_ptr<MidiOut> m_inner;
    RecordingService& m_owner;
};

}  // namespace

bool JackServerReady() {
    return JackEnvironment::g_ready;
}

bool JackRunsRealTime() {
    jack_status_t status;
    jack_client_t* client = jack_client_open("priority", JackNoStartServer, &status);
    if (!client) {
        return false;
    }
    const bool realTime = jack_is_realtime(client) != 0;
    jack_client_close(client);
    return realTime;
}

bool SetJackPeriod(uint32_t frames) {
    jack_status_t status;
    jack_client_t* client = jack_client_open("period", JackNoStartServer, &status);
    if (!client) {
        return false;
    }
    const bool set =
        jack_set_buffer_size(client, frames) == 0 && jack_get_buffer_size(client) == frames;
    jack_client_close(client);
    return set;
}

std::vector<std::string> AllMidiPorts() {
    std::vector<std::string> names;
    jack_status_t status;
    jack_client_t* client = jack_client_open("lister", JackNoStartServer, &status);
    if (!client) {
        return names;
    }
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    for (const char** port = ports; port && *port; ++port) {
        names.push_back(*port);
    }
    jack_free(ports);
    jack_client_close(client);
    return names;
}

TestKeyboard::TestKeyboard(const std::string& clientName) {
    // JACK numbers a client whose name is taken, so the ports that are new afterwards are ours.
    std::vector<std::string> before = AllMidiPorts();
    m_in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, clientName);
    m_in->ignoreTypes(false, true, true);
    m_in->setCallback(&TestKeyboard::OnMessage, this);
    m_in->openVirtualPort("keys-in");
    jack_status_t status;
    m_keysClient = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (m_keysClient) {
        m_keysQueue = jack_ringbuffer_create(4096);
        m_keysPort = jack_port_register(m_keysClient, "keys-out", JACK_DEFAULT_MIDI_TYPE,
                                        JackPortIsOutput, 0);
        jack_set_process_callback(m_keysClient, &TestKeyboard::ProcessKeys, this);
        jack_set_xrun_callback(m_keysClient, &TestKeyboard::OnXrun, this);
        jack_activate(m_keysClient);
    }
    for (const std::string& name : AllMidiPorts()) {
        if (std::find(before.begin(), before.end(), name) != before.end()) {
            continue;
        }
        std::string client = name.substr(0, name.find(':'));
        if (name.ends_with(":keys-in")) {
            m_inClient = client;
        } else if (name.ends_with(":keys-out")) {
            m_outClient = client;
        }
    }
}

TestKeyboard::~TestKeyboard() {
    Unplug();
}

std::string TestKeyboard::InPortName() const {
    return m_inClient + ":keys-in";
}
std::string TestKeyboard::OutPortName() const {
    return m_outClient + ":keys-out";
}

std::vector<uint32_t> TestKeyboard::Received() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_received;
}

std::vector<std::vector<uint8_t>> TestKeyboard::ReceivedSysex() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sysex;
}

void TestKeyboard::Send(uint8_t status, uint8_t data1, uint8_t data2) {
    const char bytes[3] = {char(status), char(data1), char(data2)};
    if (m_keysQueue) {
        jack_ringbuffer_write(m_keysQueue, bytes, 3);
    }
}

int TestKeyboard::ProcessKeys(jack_nframes_t frames, void* self) {
    auto* keyboard = static_cast<TestKeyboard*>(self);
    void* buffer = jack_port_get_buffer(keyboard->m_keysPort, frames);
    jack_midi_clear_buffer(buffer);
    if (jack_ringbuffer_read_space(keyboard->m_keysQueue) >= 3) {
        const jack_time_t due = jack_frames_to_time(keyboard->m_keysClient,
                                                    jack_last_frame_time(keyboard->m_keysClient));
        const jack_time_t now = jack_get_time();
        keyboard->m_lastSendLateMs.store(now > due ? uint32_t((now - due + 999) / 1000) : 0);
    }
    jack_midi_data_t bytes[3];
    while (jack_ringbuffer_read_space(keyboard->m_keysQueue) >= 3) {
        jack_ringbuffer_read(keyboard->m_keysQueue, reinterpret_cast<char*>(bytes), 3);
        jack_midi_event_write(buffer, 0, bytes, 3);
    }
    return 0;
}

int TestKeyboard::OnXrun(void* self) {
    static_cast<TestKeyboard*>(self)->m_xruns.fetch_add(1);
    return 0;
}

void TestKeyboard::Unplug() {
    if (m_in) {
        m_in->cancelCallback();
        m_in->closePort();
        m_in.reset();
    }
    if (m_keysClient) {
        // Once deactivated no process cycle reads the queue: only then may it go.
        jack_deactivate(m_keysClient);
        jack_client_close(m_keysClient);
        m_keysClient = nullptr;
        jack_ringbuffer_free(m_keysQueue);
        m_keysQueue = nullptr;
    }
}

void TestKeyboard::OnMessage(double, std::vector<unsigned char>* message, void* self) {
    auto* keyboard = static_cast<TestKeyboard*>(self);
    std::lock_guard<std::mutex> guard(keyboard->m_lock);
    if (!message->empty() && (*message)[0] == 0xF0) {
        keyboard->m_sysex.emplace_back(message->begin(), message->end());
    } else {
        keyboard->m_received.push_back(Pack(*message));
    }
}

int RecordingService::OpenOutput(int id, std::shared_ptr<MidiOut>& out) {
    std::shared_ptr<MidiOut> inner;
    int result = m_inner.OpenOutput(id, inner);
    out = result == 0 ? std::make_shared<RecordingOut>(inner, *this) : nullptr;
    return result;
}

std::vector<uint32_t> RecordingService::SentShort() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sentShort;
}
