#include "midi/jack_presence.h"

#include <vector>

#include "midi/jack_probe.h"
#include "midi/port_names.h"
#include "platform/debug_output.h"

bool JackPresence::Look(jack_client_t* client, bool sending, const std::string& name,
                        const std::string& reported) {
    const std::vector<std::string> all = JackMidiPorts(client, sending);
    bool found = false;
    for (const SystemPort& entry : MakePortList(all, PortSystem::Jack)) {
        if (entry.name == name) {
            found = all[entry.index] == reported;
            break;
        }
    }
    if (!found) {
        m_gone.store(true, std::memory_order_release);
        DebugOutput(std::string(sending ? ">MIDI input" : ">MIDI output") +
                    " device is gone: " + name);
    }
    return !FoundGone();
}

void JackPresence::SetNudge(std::function<void()> nudge) {
    std::lock_guard<std::mutex> guard(m_nudgeLock);
    m_nudge = std::move(nudge);
}

void JackPresence::ServerGone() {
    m_gone.store(true, std::memory_order_release);
    GraphChanged();
}

void JackPresence::GraphChanged() {
    std::lock_guard<std::mutex> guard(m_nudgeLock);
    if (m_nudge) {
        m_nudge();
    }
}
