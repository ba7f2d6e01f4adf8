#pragma once

#include <memory>

#include "midi/midi_port.h"

// Sends a system exclusive message to the device, waits on this thread until the device has
// finished it or kSysexWaitMs have passed, then sends the message's `then` messages. Each
// failure writes its debug line; the result is false when the message did not go out whole.
bool WriteSysexAndWait(MidiOut& device, const std::shared_ptr<SysexBuffer>& buffer);
