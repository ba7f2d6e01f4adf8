#include "midi/jack_probe.h"

#include <jack/jack.h>

#include <mutex>

#include "platform/debug_output.h"

namespace {

void JackError(const char* text) {
    DebugOutput(std::string(">JACK: ") + text);
}
void JackSilent(const char*) {}

}  // namespace

void QuietJackMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&JackError);
        jack_set_info_function(&JackSilent);
    });
}

bool IsJackServerRunning() {
    QuietJackMessages();
    // Errors of the probe itself only mean "no server"; say nothing about them.
    jack_set_error_function(&JackSilent);
    jack_status_t status;
    jack_client_t* client = jack_client_open("Pelorvane-probe", JackNoStartServer, &status);
    jack_set_error_function(&JackError);
    if (!client) {
        return false;
    }
    jack_client_close(client);
    return true;
}
