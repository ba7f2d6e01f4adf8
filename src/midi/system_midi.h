#pragma once

#include <memory>

#include "midi/midi_port.h"

// The MIDI service of this machine: the real ports (ALSA sequencer or JACK through RtMidi),
// plus the built-in synthesizer as the last output device.
std::unique_ptr<MidiService> CreateSystemMidiService();

// Fixed name of the built-in synthesizer in the output list.
inline constexpr const char* kBuiltInSynthName = "内蔵シンセサイザー";
