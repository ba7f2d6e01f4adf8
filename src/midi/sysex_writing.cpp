#include "midi/sysex_writing.h"

#include <chrono>
#include <thread>

#include "platform/debug_output.h"

bool WriteSysexAndWait(MidiOut& device, const std::shared_ptr<SysexBuffer>& buffer) {
    if (device.SendSysex(buffer) != 0) {
        DebugOutput(">midiOutLongMsg() was fail.\n");
        return false;
    }
    // Real time, not the program clock: the wait must end even when the clock stands still.
    const auto start = std::chrono::steady_clock::now();
    while (!buffer->done.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kSysexWaitMs)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Given up: the device keeps its own reference to the buffer, so it never reads freed memory.
    if (!buffer->done.load(std::memory_order_acquire)) {
        DebugOutput(">midiOutUnprepareHeader() was fail.\n");
        return false;
    }
    for (uint32_t packed : buffer->then) {
        if (device.Gone()) {
            break;
        }
        if (device.SendShort(packed) != 0 && !device.Gone()) {
            DebugOutput(">midiOutShortMsg() was fail.\n");
        }
    }
    return true;
}

bool MidiOut::WriteSysex(std::shared_ptr<SysexBuffer> buffer) {
    return buffer && WriteSysexAndWait(*this, buffer);
}
