#pragma once

#include <memory>
#include <string>

#include "midi/midi_port.h"

// The built-in synthesizer: FluidSynth with the system's General MIDI SoundFont, playing through
// the default audio output. Returns MIDI_OK and the device, MIDI_ALLOCATED when it is already
// open in this program, or MIDI_ERROR when no SoundFont or no audio output can be had.
// Plays through JACK first when useJack is set (a JACK server runs).
int OpenBuiltInSynth(std::shared_ptr<MidiOut>& out, bool useJack);

// The SoundFont the synthesizer would load; empty when none is installed.
std::string FindSoundFont();

// True for the reset messages of General MIDI (system on), GS and XG.
bool IsResetSysex(const uint8_t* bytes, std::size_t length);
