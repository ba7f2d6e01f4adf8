#include "midi/jack_shared_client.h"

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/jack_probe.h"
#include "midi/midi_port.h"
#include "midi/port_names.h"
#include "platform/debug_output.h"

namespace {

// More than the program ever opens at once: a keyboard's input, an output, and the ones a
// change of device opens before the old ones close.
constexpr int kSlots = 8;

// A cycle our process callback is in ends within a period; this is far beyond any period.
constexpr auto kCycleEndWait = std::chrono::milliseconds(1000);

// The other program's client: "a2j:Keys [20] (capture): Keys MIDI 1" belongs to "a2j".
std::string PeerOf(const std::string& reported) {
    return reported.substr(0, reported.find(':'));
}

}  // namespace

class JackSharedClient {
  public:
    // A client that may carry a port of ours connected to the client `peer` in this direction,
    // with a slot reserved for it; null when no server answers.
    static std::shared_ptr<JackSharedClient> Reserve(const std::string& peer, bool output,
                                                     int& slot);
    ~JackSharedClient();
    JackSharedClient(const JackSharedClient&) = delete;
    JackSharedClient& operator=(const JackSharedClient&) = delete;

    jack_client_t* Client() const { return m_client; }
    bool ShutDown() const { return m_shutDown.load(); }

    jack_port_t* Register(int slot);
    void Publish(int slot, JackPortUser* user);
    bool Unpublish(int slot);
    void Release(int slot, jack_port_t* port);
    bool WaitForCycle(std::chrono::milliseconds limit);
    void Bury(std::unique_ptr<JackPortUser> user);

  private:
    struct Port {
        bool taken = false;
        bool output = false;
        std::string peer;
        std::string name;
        JackPortUser* user = nullptr;  // told of the server's changes
    };

    explicit JackSharedClient(jack_client_t* client) : m_client(client) {}
    static std::shared_ptr<JackSharedClient> Open();
    int TryReserve(const std::string& peer, bool output);

    static int OnProcess(jack_nframes_t frames, void* self);
    static void OnShutdown(void* self);
    static void OnPortRegistration(jack_port_id_t, int, void* self);
    static void OnPortRename(jack_port_id_t, const char*, const char*, void* self);
    void TellGraphChanged();

    jack_client_t* const m_client;
    std::atomic<bool> m_shutDown{false};

    // The process thread's view: the users it calls, and how many cycles have begun and ended.
    // A cycle reads each slot after counting itself begun, so once a slot is cleared, every cycle
    // that can still call its old user has been counted.
    std::array<std::atomic<JackPortUser*>, kSlots> m_live{};
    std::atomic<uint64_t> m_cyclesBegun{0};
    std::atomic<uint64_t> m_cyclesEnded{0};

    // JACK's other threads and ours: never held across a call to JACK, which may wait for the
    // thread that tells of the server's changes.
    std::mutex m_portsLock;
    std::array<Port, kSlots> m_ports;

    std::mutex m_buriedLock;
    std::vector<std::unique_ptr<JackPortUser>> m_buried;  // freed once the client is closed
};

namespace {

std::mutex g_clientsLock;
std::vector<std::weak_ptr<JackSharedClient>> g_clients;

}  // namespace

std::shared_ptr<JackSharedClient> JackSharedClient::Reserve(const std::string& peer, bool output,
                                                            int& slot) {
    std::lock_guard<std::mutex> guard(g_clientsLock);
    std::erase_if(g_clients, [](const std::weak_ptr<JackSharedClient>& c) { return c.expired(); });
    for (const auto& weak : g_clients) {
        auto client = weak.lock();
        if (client && !client->ShutDown() && (slot = client->TryReserve(peer, output)) >= 0) {
            return client;
        }
    }
    auto client = Open();
    if (!client) {
        return nullptr;
    }
    slot = client->TryReserve(peer, output);
    g_clients.push_back(client);
    return client;
}

std::shared_ptr<JackSharedClient> JackSharedClient::Open() {
    jack_client_t* jack = OpenJackClient(kOwnClientName);
    if (!jack) {
        return nullptr;
    }
    std::shared_ptr<JackSharedClient> client(new JackSharedClient(jack));
    jack_on_shutdown(jack, &JackSharedClient::OnShutdown, client.get());
    jack_set_process_callback(jack, &JackSharedClient::OnProcess, client.get());
    jack_set_port_registration_callback(jack, &JackSharedClient::OnPortRegistration, client.get());
    jack_set_port_rename_callback(jack, &JackSharedClient::OnPortRename, client.get());
    if (jack_activate(jack) != 0) {
        // Not active: closing it needs no deactivation.
        client->m_shutDown = true;
        return nullptr;
    }
    return client;
}

JackSharedClient::~JackSharedClient() {
    if (!ShutDown()) {
        jack_deactivate(m_client);
    }
    jack_client_close(m_client);
    // No cycle runs any more: what one might still have been reading may go.
    std::lock_guard<std::mutex> guard(m_buriedLock);
    m_buried.clear();
}

int JackSharedClient::TryReserve(const std::string& peer, bool output) {
    std::lock_guard<std::mutex> guard(m_portsLock);
    int free = -1;
    for (int i = 0; i < kSlots; ++i) {
        const Port& port = m_ports[static_cast<size_t>(i)];
        if (!port.taken) {
            free = free < 0 ? i : free;
        } else if (port.output != output && port.peer == peer) {
            return -1;  // the loop the header speaks of
        }
    }
    if (free < 0) {
        return -1;
    }
    // Names stay unique within the client: "Pelorvane out", then "Pelorvane out 2" beside it.
    const std::string base = std::string(kOwnClientName) + (output ? " out" : " in");
    std::string name = base;
    for (int n = 2;; ++n) {
        bool used = false;
        for (const Port& port : m_ports) {
            used = used || (port.taken && port.name == name);
        }
        if (!used) {
            break;
        }
        name = base + " " + std::to_string(n);
    }
    m_ports[static_cast<size_t>(free)] = {true, output, peer, name, nullptr};
    return free;
}

jack_port_t* JackSharedClient::Register(int slot) {
    std::string name;
    bool output;
    {
        std::lock_guard<std::mutex> guard(m_portsLock);
        name = m_ports[static_cast<size_t>(slot)].name;
        output = m_ports[static_cast<size_t>(slot)].output;
    }
    return jack_port_register(m_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                              output ? JackPortIsOutput : JackPortIsInput, 0);
}

void JackSharedClient::Publish(int slot, JackPortUser* user) {
    std::lock_guard<std::mutex> guard(m_portsLock);
    m_ports[static_cast<size_t>(slot)].user = user;
    m_live[static_cast<size_t>(slot)].store(user);
}

bool JackSharedClient::Unpublish(int slot) {
    {
        std::lock_guard<std::mutex> guard(m_portsLock);
        m_ports[static_cast<size_t>(slot)].user = nullptr;
        m_live[static_cast<size_t>(slot)].store(nullptr);
    }
    // Every cycle that may have read the old user has begun by now; the last of them to end
    // ends the user's calls. None still running, as when the server has ended, is no wait.
    const uint64_t begun = m_cyclesBegun.load();
    const auto end = std::chrono::steady_clock::now() + kCycleEndWait;
    while (m_cyclesEnded.load(std::memory_order_acquire) < begun) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void JackSharedClient::Release(int slot, jack_port_t* port) {
    // Other programs see the port go; a server that has ended took it already.
    if (port && !ShutDown()) {
        jack_port_unregister(m_client, port);
    }
    std::lock_guard<std::mutex> guard(m_portsLock);
    m_ports[static_cast<size_t>(slot)] = Port();
}

bool JackSharedClient::WaitForCycle(std::chrono::milliseconds limit) {
    const uint64_t next = m_cyclesBegun.load() + 1;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_cyclesEnded.load(std::memory_order_acquire) < next) {
        if (ShutDown() || std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void JackSharedClient::Bury(std::unique_ptr<JackPortUser> user) {
    std::lock_guard<std::mutex> guard(m_buriedLock);
    m_buried.push_back(std::move(user));
}

// JACK's process thread: no lock, no allocation.
int JackSharedClient::OnProcess(jack_nframes_t frames, void* self) {
    auto* client = static_cast<JackSharedClient*>(self);
    const uint64_t cycle = client->m_cyclesBegun.fetch_add(1) + 1;
    for (auto& live : client->m_live) {
        if (JackPortUser* user = live.load()) {
            user->Process(client->m_client, frames);
        }
    }
    client->m_cyclesEnded.store(cycle, std::memory_order_release);
    return 0;
}

void JackSharedClient::OnShutdown(void* self) {
    auto* client = static_cast<JackSharedClient*>(self);
    client->m_shutDown = true;
    std::lock_guard<std::mutex> guard(client->m_portsLock);
    for (const Port& port : client->m_ports) {
        if (port.user) {
            port.user->ServerGone();
        }
    }
}

void JackSharedClient::TellGraphChanged() {
    std::lock_guard<std::mutex> guard(m_portsLock);
    for (const Port& port : m_ports) {
        if (port.user) {
            port.user->GraphChanged();
        }
    }
}

void JackSharedClient::OnPortRegistration(jack_port_id_t, int, void* self) {
    static_cast<JackSharedClient*>(self)->TellGraphChanged();
}

void JackSharedClient::OnPortRename(jack_port_id_t, const char*, const char*, void* self) {
    static_cast<JackSharedClient*>(self)->TellGraphChanged();
}

JackPortLink::~JackPortLink() {
    Close();
}

int JackPortLink::Open(const std::string& device, const std::string& reported, bool output,
                       JackPortUser* user) {
    const char* kind = output ? "output " : "input ";
    auto failed = [&](const char* why) {
        DebugOutput(std::string(">JACK: cannot open ") + kind + device + ": " + why);
    };
    m_client = JackSharedClient::Reserve(PeerOf(reported), output, m_slot);
    if (!m_client) {
        failed("no client");
        return MIDI_ERROR;
    }
    m_jackClient = m_client->Client();
    if (m_slot < 0 || !(m_port = m_client->Register(m_slot))) {
        failed("no port");
        return MIDI_ERROR;
    }
    // Served before it is connected: an output port nobody clears would be read as it is.
    m_client->Publish(m_slot, user);
    const char* ours = jack_port_name(m_port);
    const char* theirs = reported.c_str();
    if (jack_connect(m_jackClient, output ? ours : theirs, output ? theirs : ours) != 0) {
        failed("not connected");
        return jack_port_by_name(m_jackClient, theirs) ? MIDI_ERROR : MIDI_BAD_DEVICE_ID;
    }
    return MIDI_OK;
}

bool JackPortLink::Active() const {
    return m_client && !m_client->ShutDown();
}

bool JackPortLink::WaitForCycle(std::chrono::milliseconds limit) {
    return m_client && m_client->WaitForCycle(limit);
}

bool JackPortLink::Close() {
    if (!m_client || m_stuck) {
        return !m_stuck;
    }
    if (m_slot >= 0) {
        if (!m_client->Unpublish(m_slot)) {
            m_stuck = true;
            DebugOutput(
                ">JACK: a process cycle did not end; the port stays until the client "
                "closes");
            return false;
        }
        m_client->Release(m_slot, m_port);
        m_slot = -1;
    }
    m_port = nullptr;
    m_jackClient = nullptr;
    m_client.reset();
    return true;
}

void JackPortLink::Dispose(JackPortLink& link, std::unique_ptr<JackPortUser> device) {
    if (!link.m_stuck) {
        return;  // the device goes with `device`
    }
    // Closing the client may free the device, and the link inside it, at the end of this scope.
    std::shared_ptr<JackSharedClient> client = std::move(link.m_client);
    client->Bury(std::move(device));
}
