#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/midi_port.h"
#include "midi/port_names.h"

class JackLister;
class RtMidiIn;
class RtMidiOut;

// The real MIDI ports of one MIDI system: the ALSA sequencer's through RtMidi, JACK's through
// clients of their own (jack_output.h, jack_input.h).
class RtMidiPorts {
  public:
    // Null when the system cannot be reached.
    static std::unique_ptr<RtMidiPorts> Create(PortSystem system);
    ~RtMidiPorts();

    std::vector<std::string> InputNames();
    std::vector<std::string> OutputNames();
    // Opens the port listed under name (a name of the lists above).
    int OpenOutput(const std::string& name, std::shared_ptr<MidiOut>& out);
    int OpenInput(const std::string& name, MidiInCallback callback, void* instance,
                  std::shared_ptr<MidiIn>& in);

    PortSystem System() const { return m_system; }
    // False once the MIDI system has gone away (a JACK server that ended).
    bool Alive() const;

  private:
    explicit RtMidiPorts(PortSystem system);
    std::vector<std::string> Reported(bool inputs);

    PortSystem m_system;
    std::unique_ptr<JackLister> m_jackLister;  // JACK: lists through one client kept open
    std::unique_ptr<RtMidiIn> m_inputLister;   // ALSA
    std::unique_ptr<RtMidiOut> m_outputLister;
};
