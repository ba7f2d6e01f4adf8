#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/device_watcher.h"
#include "midi/midi_port.h"
#include "midi/output_sender.h"

// One message that reached an output device of the in-memory service.
struct RecordedMessage {
    uint32_t timeMs = 0;  // NowMs() when it was sent
    int deviceId = -1;
    bool sysex = false;
    uint32_t packed = 0;         // short messages
    std::vector<uint8_t> bytes;  // system exclusive messages
};

// How the in-memory output finishes a system exclusive message.
enum class SysexCompletion {
    Immediate,  // done before SendSysex returns
    Late,       // done once NowMs() has moved on by the configured delay
    Never,      // only CompletePendingSysex() finishes it
};

// A MIDI service that lives in memory: configurable device lists, a record of everything sent,
// input injected by the test and delivered from a thread of its own, and every failure on demand.
// All members are safe to call from any thread.
class InMemoryMidiService : public MidiService {
  public:
    InMemoryMidiService(std::vector<std::string> inputs = {},
                        std::vector<std::string> outputs = {});
    ~InMemoryMidiService() override;

    InMemoryMidiService(const InMemoryMidiService&) = delete;
    InMemoryMidiService& operator=(const InMemoryMidiService&) = delete;

    // --- MidiService -------------------------------------------------------------------------
    std::vector<std::string> InputNames() override;
    std::vector<std::string> OutputNames() override;
    int OpenOutput(int id, std::shared_ptr<MidiOut>& out) override;
    int OpenInput(int id, MidiInCallback callback, void* instance,
                  std::shared_ptr<MidiIn>& in) override;
    void SetLossListener(std::function<void()> listener) override;

    // --- Devices and failures ------------------------------------------------------------------
    void SetInputNames(std::vector<std::string> names);
    void SetOutputNames(std::vector<std::string> names);
    // Every later open of that kind returns code (0 lets opens succeed again). Opening a device
    // that is already open returns MIDI_ALLOCATED regardless, as the system would.
    void FailOpenOutput(int code);
    void FailOpenInput(int code);
    void FailStart(bool fail);
    void FailShortSends(bool fail);
    void FailSysexSends(bool fail);
    void SetSysexCompletion(SysexCompletion mode, uint32_t lateMs = 0);
    // The device of that id disappears as an unplugged one does: its open handles fail every
    // send, say they are gone and deliver no more input. Each send tried on a gone output is
    // counted.
    void UnplugOutput(int id);
    void UnplugInput(int id);
    // The device leaves the system as a real one does when pulled out: its open handles' sends
    // fail (each counted), but only the device watcher's next check finds it gone.
    void DisconnectOutput(int id);
    void DisconnectInput(int id);
    // Waits until the device watcher has checked every open device once after this call.
    bool WaitForPresenceCheck(std::chrono::milliseconds limit);
    int SendsToGoneOutputs();
    // While set, every send to an output waits until it is cleared: a device that takes no data.
    void BlockSends(bool block);
    // Outputs opened from now on write through a sender of their own, as the system's do.
    void SendThroughSender(bool queued);
    // Waits until every such sender has handed the device all it was given.
    void DrainSenders();
    // Finishes every system exclusive message still pending.
    void CompletePendingSysex();
    int PendingSysexCount();

    // --- What was sent ---------------------------------------------------------------------------
    std::vector<RecordedMessage> Sent();
    std::vector<RecordedMessage> TakeSent();  // returns the record and clears it
    void ClearSent();
    // Only the short messages, packed, in order.
    std::vector<uint32_t> SentShort();

    // Opens, starts and closes in order, e.g. "open-out 0", "open-in 1", "start-in 1",
    // "close-in 1", "close-out 0"; failed opens appear as "open-out 0 failed 4".
    std::vector<std::string> Operations();
    void ClearOperations();
    int OpenOutputCount();  // devices open now
    int OpenInputCount();

    // --- Input -------------------------------------------------------------------------------
    // Queues a short message for every started input device (or only deviceId); it reaches the
    // callback on the device's own thread. Returns the number of devices it was queued for.
    int InjectInput(uint32_t packed, int deviceId = -1);
    // Waits until every queued input message has been handed to the callback and it returned.
    void WaitForInputIdle();

    class Output;
    class Input;

  private:
    friend class Output;
    friend class Input;

    struct PendingSysex {
        std::shared_ptr<SysexBuffer> buffer;
        uint32_t sentAt;
        bool automatic;  // finishes by itself after lateMs
        uint32_t lateMs;
    };

    void RecordOperation(std::string op);
    void RecordSent(RecordedMessage message);
    int SendSysexFrom(int deviceId, std::shared_ptr<SysexBuffer> buffer);
    void Forget(const Output* output);
    void Forget(const Input* input);
    void SysexThreadProc();
    void StartSysexThreadLocked();
    void WaitWhileBlocked();
    bool SendsBlocked();

    std::mutex m_lock;
    std::vector<std::string> m_inputs;
    std::vector<std::string> m_outputs;
    int m_failOpenOutput = 0;
    int m_failOpenInput = 0;
    bool m_failStart = false;
    bool m_failShort = false;
    bool m_failSysex = false;
    int m_sendsToGone = 0;
    bool m_blockSends = false;
    std::condition_variable m_unblocked;
    bool m_queued = false;
    std::vector<std::weak_ptr<OutputSender>> m_senders;

    SysexCompletion m_sysexMode = SysexCompletion::Immediate;
    uint32_t m_sysexLateMs = 0;
    std::vector<RecordedMessage> m_sent;
    std::vector<std::string> m_operations;
    std::vector<std::weak_ptr<Output>> m_openOutputs;
    std::vector<std::weak_ptr<Input>> m_openInputs;

    std::vector<PendingSysex> m_pendingSysex;
    std::condition_variable m_sysexWake;
    std::thread m_sysexThread;
    bool m_exit = false;
    std::unique_ptr<DeviceWatcher> m_watcher = std::make_unique<DeviceWatcher>();
};
