#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <jack/types.h>

// A JACK client without ports that lists the MIDI ports of the running server. Listing through
// one client kept open is much quicker than opening a client for every look.
class JackLister {
  public:
    // Null when no JACK server runs for this user (the one JACK_DEFAULT_SERVER names, if set).
    // Never starts a server and keeps libjack's own complaints off the terminal.
    static std::unique_ptr<JackLister> Connect();
    ~JackLister();

    // Full names ("client:port") of the MIDI ports that send (inputs for us) or receive.
    std::vector<std::string> MidiPorts(bool sending);
    // False once the server has gone away.
    bool Alive() const { return !m_shutDown.load(); }

  private:
    explicit JackLister(jack_client_t* client);
    static void OnShutdown(void* self);

    jack_client_t* m_client;
    std::atomic<bool> m_shutDown{false};
};

// True when a JACK server is running; opens and closes a client, so prefer a JackLister.
bool IsJackServerRunning();

// Opens a client of the running server, or returns null without a word when none runs. Never
// starts a server. The program's own real-time threads are put below the client's threads.
jack_client_t* OpenJackClient(const char* name);

// Full names ("client:port") of the server's MIDI ports that send, or that receive.
std::vector<std::string> JackMidiPorts(jack_client_t* client, bool sending);

// Routes libjack's error messages to the debug output and drops its information messages.
void QuietJackMessages();
