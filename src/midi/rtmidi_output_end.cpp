#include "midi/rtmidi_output_end.h"

#include <chrono>
#include <thread>

namespace {

// A process cycle of a MIDI output takes microseconds; this leaves room for its thread to be
// held up by a busy machine as well.
constexpr auto kJackCycleGrace = std::chrono::milliseconds(20);

}  // namespace

void EndRtMidiOutput(std::unique_ptr<RtMidiOut>& port, PortSystem system) {
    if (!port) {
        return;
    }
    port->closePort();
    if (system == PortSystem::Jack) {
        std::this_thread::sleep_for(kJackCycleGrace);
    }
    port.reset();
}
