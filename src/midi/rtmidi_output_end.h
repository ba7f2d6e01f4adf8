#pragma once

#include <rtmidi/RtMidi.h>

#include <memory>

#include "midi/port_names.h"

// Closes an RtMidi output and destroys it. A JACK output is read by JACK's process thread, and
// RtMidi frees what that thread reads as soon as the output is destroyed, though a cycle that
// began just before the port closed may still be reading it: such an output lives on for a
// moment after closing, so that the cycle can end first.
void EndRtMidiOutput(std::unique_ptr<RtMidiOut>& port, PortSystem system);
