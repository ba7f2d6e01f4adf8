#pragma once

#include <jack/types.h>

#include <chrono>
#include <memory>
#include <string>

// Every MIDI port the program opens on JACK lives on one client of ours: JACK wakes each client
// once a cycle, so one client for the keyboard's input and the output halves those wake-ups. The
// client opens with the first port and closes with the last.
//
// One exception: an input and an output that lead to the same other client (a2jmidid bridges a
// keyboard's both directions through one client) would close a loop through ours, and JACK would
// then run one of them a cycle late. Such a pair is kept on two clients of ours, as JACK users
// have always seen it.

// What JACK asks of a MIDI port of ours.
class JackPortUser {
  public:
    virtual ~JackPortUser() = default;
    // JACK's process thread, once a cycle while the port is open. Kept short: the client's other
    // ports are served on the same thread, in the same cycle.
    virtual void Process(jack_client_t* client, jack_nframes_t frames) = 0;
    // A thread of JACK's: the server has ended, and the port with it.
    virtual void ServerGone() = 0;
    // A thread of JACK's: a port of the server came, went or was renamed; the port ours is
    // connected to may be among them.
    virtual void GraphChanged() = 0;
};

class JackSharedClient;

// One MIDI port of ours, connected to a port of another program.
class JackPortLink {
  public:
    JackPortLink() = default;
    ~JackPortLink();
    JackPortLink(const JackPortLink&) = delete;
    JackPortLink& operator=(const JackPortLink&) = delete;

    // Registers the port on the program's client (opening it when none is open), hands JACK's
    // calls to user and connects the port to `reported` ("client:port"; ours sends to it when
    // output). MIDI_OK, or MIDI_BAD_DEVICE_ID when their port is not there, MIDI_ERROR otherwise.
    // What was opened before a failure is undone by Close(). `device` names it in the debug
    // output.
    int Open(const std::string& device, const std::string& reported, bool output,
             JackPortUser* user);

    // Both set by Open and kept until the port is closed: what the user's calls read.
    jack_client_t* Client() const { return m_jackClient; }
    jack_port_t* Port() const { return m_port; }
    // True while the port is open on a client the server has not shut down.
    bool Active() const;

    // Waits until a whole cycle has run after the call, so that whatever the user's Process does
    // from now on has been done at least once. False when none ran within limit (the server has
    // ended, stalled, or the port is not open).
    bool WaitForCycle(std::chrono::milliseconds limit);

    // Ends JACK's calls to the user, unregisters the port and lets go of the client. False when a
    // cycle that may still be calling the user did not end in time (a stalled server): the user
    // must then outlive the client, see MakeJackDevice.
    bool Close();

    // The device of a link whose Close() returned false goes with the client, which frees it once
    // closed; any other is freed now. The link is the device's own: it may be gone on return.
    static void Dispose(JackPortLink& link, std::unique_ptr<JackPortUser> device);

  private:
    std::shared_ptr<JackSharedClient> m_client;
    jack_client_t* m_jackClient = nullptr;
    jack_port_t* m_port = nullptr;
    int m_slot = -1;
    bool m_stuck = false;  // a cycle may still call the user
};

// The owner of a device that holds a JackPortLink (as Link()) and JackPortUser: its last
// reference closes it and frees it, unless a JACK cycle may still be calling it.
template <typename Device>
std::shared_ptr<Device> MakeJackDevice(Device* device) {
    return std::shared_ptr<Device>(device, [](Device* d) {
        d->Close();
        JackPortLink::Dispose(d->Link(), std::unique_ptr<JackPortUser>(d));
    });
}
