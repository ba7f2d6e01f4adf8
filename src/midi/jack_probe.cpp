#include "midi/jack_probe.h"

#include <jack/jack.h>
#include <jack/thread.h>

#include <mutex>

#include "midi/midi_port.h"
#include "midi/realtime_priority.h"
#include "platform/debug_output.h"

namespace {

void JackError(const char* text) {
    DebugOutput(std::string(">JACK: ") + text);
}
void JackSilent(const char*) {}

void OnPortRegistration(jack_port_id_t, int, void* listener) {
    auto* l = static_cast<JackGraphListener*>(listener);
    l->changed(l->arg);
}

void OnPortRename(jack_port_id_t, const char*, const char*, void* listener) {
    auto* l = static_cast<JackGraphListener*>(listener);
    l->changed(l->arg);
}

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

int OpenJackPort(const JackPortRequest& request, jack_client_t*& client, jack_port_t*& port,
                 std::atomic<bool>& active) {
    const char* kind = request.output ? "output " : "input ";
    auto failed = [&](const char* why) {
        DebugOutput(std::string(">JACK: cannot open ") + kind + request.device + ": " + why);
    };
    client = OpenJackClient(request.clientName);
    if (!client) {
        failed("no client");
        return MIDI_ERROR;
    }
    port = jack_port_register(client, request.clientName, JACK_DEFAULT_MIDI_TYPE,
                              request.output ? JackPortIsOutput : JackPortIsInput, 0);
    if (!port) {
        failed("no port");
        return MIDI_ERROR;
    }
    jack_on_shutdown(client, request.shutdown, request.arg);
    jack_set_process_callback(client, request.process, request.arg);
    if (request.graph) {
        jack_set_port_registration_callback(client, &OnPortRegistration, request.graph);
        jack_set_port_rename_callback(client, &OnPortRename, request.graph);
    }
    if (jack_activate(client) != 0) {
        failed("not activated");
        return MIDI_ERROR;
    }
    active = true;
    const char* ours = jack_port_name(port);
    const char* theirs = request.reported.c_str();
    if (jack_connect(client, request.output ? ours : theirs, request.output ? theirs : ours) != 0) {
        failed("not connected");
        return jack_port_by_name(client, theirs) ? MIDI_ERROR : MIDI_BAD_DEVICE_ID;
    }
    return MIDI_OK;
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
