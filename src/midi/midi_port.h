#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the program needs of a MIDI service. Backends: RtMidi (real devices), FluidSynth (the
// built-in synthesizer) and an in-memory one for tests. The engine sees only these interfaces.

// Result codes of opening a device.
enum MidiResult : int {
    MIDI_OK = 0,
    MIDI_ERROR = 1,          // any other failure
    MIDI_BAD_DEVICE_ID = 2,  // no such device
    MIDI_ALLOCATED = 4,      // in use by another program
    MIDI_WOULD_WAIT = 8,     // TrySendShort: not sent, the device would have to be waited for
};

// Message code of a short message delivered to the input callback.
inline constexpr uint32_t kMimData = 963;

// A short message is packed as status in bits 0-7, data1 in bits 8-15, data2 in bits 16-23.
inline constexpr uint32_t PackShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    return uint32_t(status) | (uint32_t(data1) << 8) | (uint32_t(data2) << 16);
}

class MidiIn;

// Called on a thread of the backend for every message of an open and started input device.
// For kMimData, param1 holds one packed short message.
using MidiInCallback = void (*)(MidiIn* handle, uint32_t messageCode, void* instance,
                                uintptr_t param1, uintptr_t param2);

// A system exclusive message handed to a device. The device keeps its own reference until it has
// finished with the bytes, so the buffer stays valid however long the sender waits; `done`
// becomes true once the message has been sent (or given up by the device).
struct SysexBuffer {
    std::vector<uint8_t> bytes;
    std::atomic<bool> done{false};
    // Short messages that go out right after this one once the device has finished it, and not
    // at all when it fails or is given up.
    std::vector<uint32_t> then;
};

// How long a device may take over a system exclusive message before it is given up.
inline constexpr uint32_t kSysexWaitMs = 1000;

class MidiOut {
  public:
    virtual ~MidiOut() = default;
    // 0 when sent, else non-zero. After Close() every send fails.
    virtual int SendShort(uint32_t packed) = 0;
    // 0 when the message was accepted; its `done` flag tells when it has gone out.
    virtual int SendSysex(std::shared_ptr<SysexBuffer> buffer) = 0;
    // The whole of sending a system exclusive message: hands it to the device, waits until the
    // device has finished it (giving up after kSysexWaitMs), then sends its `then` messages.
    // False when a step failed, with a debug line saying which. An output with a sender of its
    // own queues the message and returns at once; by default it all happens on the caller's
    // thread.
    virtual bool WriteSysex(std::shared_ptr<SysexBuffer> buffer);
    // Between these two, an output with a sender of its own may hold what is sent and hand it
    // over at the end in one go: the clock brackets each tick with them. Pairs may not nest.
    virtual void BeginBatch() {}
    virtual void EndBatch() {}
    // Frees the device. Copies of the handle stay valid objects whose sends fail.
    virtual void Close() = 0;
    // True once the device has been found gone (unplugged, its program ended): every later send
    // fails, and callers had better not try. Cheap, any thread.
    virtual bool Gone() const { return false; }
    // Asks the system whether the device is still there, and makes Gone() true once it is not.
    // May list the system's ports, so only the device watcher calls it.
    virtual bool CheckPresence() { return !Gone(); }
    // Has nudge called (on any thread, never for long) whenever the device may have gone, and
    // says true, where the system tells of its ports coming and going: the watcher then checks
    // only when nudged, not every interval. Null stops it.
    virtual bool TellsWhenGone(std::function<void()>) { return false; }
    // SendShort where the device takes the message at once (a ring buffer, a sequencer queue
    // that does not block, a queue of the output's own); MIDI_WOULD_WAIT, with nothing sent,
    // where it would have to be waited for. A sender writes on the caller's thread this way
    // whenever nothing is queued before the message.
    virtual int TrySendShort(uint32_t) { return MIDI_WOULD_WAIT; }
};

// Brackets what one caller sends in one go (see MidiOut::BeginBatch).
class MidiOutBatch {
  public:
    explicit MidiOutBatch(std::shared_ptr<MidiOut> out) : m_out(std::move(out)) {
        if (m_out) {
            m_out->BeginBatch();
        }
    }
    ~MidiOutBatch() {
        if (m_out) {
            m_out->EndBatch();
        }
    }
    MidiOutBatch(const MidiOutBatch&) = delete;
    MidiOutBatch& operator=(const MidiOutBatch&) = delete;

  private:
    std::shared_ptr<MidiOut> m_out;
};

class MidiIn {
  public:
    virtual ~MidiIn() = default;
    // 0 when input runs and reaches the callback.
    virtual int Start() = 0;
    // Stops input; when it returns, the callback is not running and will not be called again.
    virtual void Close() = 0;
    // False once the device has been found gone. Cheap, any thread.
    virtual bool StillPresent() { return true; }
    // True when param2 of each kMimData message is the program clock's time (NowMs) at which it
    // was played, earlier than the callback when the system hands messages over a period late.
    virtual bool StampsProgramClock() const { return false; }
    // Asks the system whether the device is still there, and makes StillPresent() false once it
    // is not. May list the system's ports, so only the device watcher calls it.
    virtual bool CheckPresence() { return StillPresent(); }
    // As MidiOut::TellsWhenGone.
    virtual bool TellsWhenGone(std::function<void()>) { return false; }
};

class MidiService {
  public:
    virtual ~MidiService() = default;
    // Device names in a stable order; a device's position is its id.
    virtual std::vector<std::string> InputNames() = 0;
    virtual std::vector<std::string> OutputNames() = 0;
    // MIDI_OK and the open device, or a MidiResult code and null.
    virtual int OpenOutput(int id, std::shared_ptr<MidiOut>& out) = 0;
    virtual int OpenInput(int id, MidiInCallback callback, void* instance,
                          std::shared_ptr<MidiIn>& in) = 0;
    // Called on a thread of the service, without blocking, once an open device has been found
    // gone; null for none. One listener at a time: a later one replaces it.
    virtual void SetLossListener(std::function<void()>) {}
};
