#pragma once

#include <memory>
#include <string>

#include "midi/midi_port.h"

// Opens a MIDI output to the JACK port `reported` (listed to the user as `name`) through a JACK
// client of the output's own. Each message leaves one period after it was sent, at its frame
// within the cycle, so that every message keeps its place in time however the cycle falls; a
// message that does not fit a cycle goes out in the next, in order, and nothing is dropped
// without being counted (the count is told once, through the debug output, when the output
// closes). Closing stops the client before anything it reads is freed.
int OpenJackOutput(const std::string& name, const std::string& reported,
                   std::shared_ptr<MidiOut>& out);
