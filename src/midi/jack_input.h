#pragma once

#include <memory>
#include <string>

#include "midi/midi_port.h"

// Opens a MIDI input from the JACK port `reported` (listed to the user as `name`) on the program's
// JACK client. Short messages reach the callback on JACK's process thread, each
// with the program clock's time of its frame (the moment the key was played, not the moment the
// cycle got to it) as param2; system exclusive, timing clock and active sensing are dropped.
int OpenJackInput(const std::string& name, const std::string& reported, MidiInCallback callback,
                  void* instance, std::shared_ptr<MidiIn>& in);
