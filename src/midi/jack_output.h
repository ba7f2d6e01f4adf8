#pragma once

#include <memory>
#include <string>

#include "midi/midi_port.h"

// Opens a MIDI output to the JACK port `reported` (listed to the user as `name`) on the program's
// JACK client. Each message leaves one period after it was sent, at its frame
// within the cycle, so that every message keeps its place in time however the cycle falls; a
// message that does not fit a cycle goes out in the next, in order, and nothing is dropped
// without being counted (the count is told once, through the debug output, when the output
// closes). Closing ends JACK's calls to the port before anything they read is freed.
int OpenJackOutput(const std::string& name, const std::string& reported,
                   std::shared_ptr<MidiOut>& out);
