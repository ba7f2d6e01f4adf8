#include "midi/jack_probe.h"

#include <jack/jack.h>
#include <jack/thread.h>

#include <mutex>

#include "midi/realtime_priority.h"
#include "platform/debug_output.h"

namespace {

void JackError(const char* text) {
    DebugOutput(std::string(">JACK: ") + text);
}
void JackSilent(const char*) {}

}  // namespace

jack_client_t* OpenJackClient(const char* name) {
    QuietJackMessages();
    // Failing to reach a server only means there is none; say nothing about it.
    jack_set_error_function(&JackSilent);
    jack_status_t status;
    jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
    jack_set_error_function(&JackError);
    if (client) {
        KeepBelowJackClients(jack_client_real_time_priority(client));
    }
    return client;
}

std::vector<std::string> JackMidiPorts(jack_client_t* client, bool sending) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sending ? JackPortIsOutput : JackPortIsInput);
    if (!ports) {
        return names;
    }
    for (const char** port = ports; *port; ++port) {
        names.push_back(*port);
    }
    jack_free(ports);
    return names;
}

void QuietJackMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&JackError);
        jack_set_info_function(&JackSilent);
    });
}

bool IsJackServerRunning() {
    jack_client_t* client = OpenJackClient("Pelorvane");
    if (!client) {
        return false;
    }
    jack_client_close(client);
    return true;
}

std::unique_ptr<JackLister> JackLister::Connect() {
    jack_client_t* client = OpenJackClient("Pelorvane");
    if (!client) {
        return nullptr;
    }
    return std::unique_ptr<JackLister>(new JackLister(client));
}

JackLister::JackLister(jack_client_t* client) : m_client(client) {
    jack_on_shutdown(m_client, &JackLister::OnShutdown, this);
}

JackLister::~JackLister() {
    jack_client_close(m_client);
}

void JackLister::OnShutdown(void* self) {
    static_cast<JackLister*>(self)->m_shutDown.store(true);
}

std::vector<std::string> JackLister::MidiPorts(bool sending) {
    return Alive() ? JackMidiPorts(m_client, sending) : std::vector<std::string>();
}
