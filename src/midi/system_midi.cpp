#include "midi/system_midi.h"

#include <unistd.h>

#include <mutex>

#include "midi/builtin_synth.h"
#include "midi/device_watcher.h"
#include "midi/jack_probe.h"
#include "midi/output_sender.h"
#include "midi/rtmidi_ports.h"
#include "platform/debug_output.h"

namespace {

// The real ports of whichever MIDI system runs (JACK when a server runs, since JACK users route
// their MIDI through it, else the ALSA sequencer) and the built-in synthesizer as the last output.
// Every output writes through a sender of its own, and a watcher checks that the open devices
// are still there: neither the clock nor the window waits on a device.
class SystemMidiService : public MidiService {
  public:
    std::vector<std::string> InputNames() override {
        std::lock_guard<std::mutex> guard(m_lock);
        RtMidiPorts* ports = Ports();
        return ports ? ports->InputNames() : std::vector<std::string>();
    }

    std::vector<std::string> OutputNames() override {
        std::lock_guard<std::mutex> guard(m_lock);
        return OutputNamesLocked();
    }

    int OpenOutput(int id, std::shared_ptr<MidiOut>& out) override {
        std::lock_guard<std::mutex> guard(m_lock);
        out.reset();
        std::vector<std::string> names = OutputNamesLocked();
        if (id < 0 || id >= static_cast<int>(names.size())) {
            return MIDI_BAD_DEVICE_ID;
        }
        std::shared_ptr<MidiOut> device;
        int result;
        if (id == static_cast<int>(names.size()) - 1) {
            RtMidiPorts* ports = Ports();
            result = OpenBuiltInSynth(device, ports && ports->System() == PortSystem::Jack);
        } else {
            result = m_ports->OpenOutput(names[id], device);
        }
        if (result != MIDI_OK) {
            return result;
        }
        out = std::make_shared<OutputSender>(std::move(device));
        m_watcher.Watch(out);
        return MIDI_OK;
    }

    int OpenInput(int id, MidiInCallback callback, void* instance,
                  std::shared_ptr<MidiIn>& in) override {
        std::lock_guard<std::mutex> guard(m_lock);
        in.reset();
        RtMidiPorts* ports = Ports();
        std::vector<std::string> names = ports ? ports->InputNames() : std::vector<std::string>();
        if (id < 0 || id >= static_cast<int>(names.size())) {
            return MIDI_BAD_DEVICE_ID;
        }
        const int result = ports->OpenInput(names[id], callback, instance, in);
        if (result == MIDI_OK) {
            m_watcher.Watch(in);
        }
        return result;
    }

    void SetLossListener(std::function<void()> listener) override {
        m_watcher.SetLossListener(std::move(listener));
    }

  private:
    std::vector<std::string> OutputNamesLocked() {
        RtMidiPorts* ports = Ports();
        std::vector<std::string> names = ports ? ports->OutputNames() : std::vector<std::string>();
        names.push_back(kBuiltInSynthName);
        return names;
    }

    RtMidiPorts* Ports() {
        if (m_ports && !m_ports->Alive()) {
            DebugOutput(">The JACK server has ended.");
            m_ports.reset();
        }
        if (!m_ports) {
            m_ports = RtMidiPorts::Create(PortSystem::Jack);
            if (!m_ports && access("/dev/snd/seq", R_OK | W_OK) == 0) {
                // No ALSA call at all without the sequencer device: ALSA would complain on stderr.
                m_ports = RtMidiPorts::Create(PortSystem::Alsa);
            }
            if (!m_ports && !m_toldNone) {
                m_toldNone = true;
                DebugOutput(
                    ">No MIDI system (ALSA sequencer or JACK) found; only the built-in "
                    "synthesizer is available.");
            }
        }
        return m_ports.get();
    }

    std::mutex m_lock;
    std::unique_ptr<RtMidiPorts> m_ports;
    bool m_toldNone = false;
    DeviceWatcher m_watcher;
};

}  // namespace

std::unique_ptr<MidiService> CreateSystemMidiService() {
    return std::make_unique<SystemMidiService>();
}
