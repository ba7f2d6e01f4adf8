#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/midi_port.h"

// An output that writes to its device on a thread of its own, so that whoever sends (the clock
// thread under the play lock, the window) never waits on the device: a slow port, a system
// exclusive message the device takes up to kSysexWaitMs over. Messages reach the device in the
// order they were sent, each after the one before has finished; a short message sent after a
// system exclusive one goes out once the device has finished it (or given it up).
//
// The queue is reserved in full when the sender is made: sending a short message takes a lock
// held only for a copy, and never allocates.
class OutputSender : public MidiOut {
  public:
    // Several seconds of the densest song the program plays, with its key lights.
    static constexpr std::size_t kCapacity = 8192;

    explicit OutputSender(std::shared_ptr<MidiOut> device);
    ~OutputSender() override;
    OutputSender(const OutputSender&) = delete;
    OutputSender& operator=(const OutputSender&) = delete;

    // Queued: 0 once queued, non-zero when the output is closed, the device gone or the queue
    // full (the message is then dropped, as a failed send is).
    int SendShort(uint32_t packed) override;
    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override;
    bool WriteSysex(std::shared_ptr<SysexBuffer> buffer) override;
    // The sender is woken once, at the end, for all the batch's messages.
    void BeginBatch() override;
    void EndBatch() override;
    // Everything queued before still reaches the device (a system exclusive message in progress
    // is waited for as long as it may take), then the device is closed.
    void Close() override;
    bool Gone() const override { return m_device->Gone(); }
    bool CheckPresence() override { return m_device->CheckPresence(); }
    bool TellsWhenGone(std::function<void()> nudge) override {
        return m_device->TellsWhenGone(std::move(nudge));
    }

    // Waits until everything sent so far has been handed to the device.
    void Drain();

  private:
    struct Item {
        uint32_t packed = 0;
        std::shared_ptr<SysexBuffer> sysex;  // null for a short message
    };

    int Enqueue(uint32_t packed, std::shared_ptr<SysexBuffer> sysex);
    void ThreadProc();
    void Write(Item& item);

    const std::shared_ptr<MidiOut> m_device;
    std::mutex m_lock;
    std::condition_variable m_wake;     // the sender: something queued, or closing
    std::condition_variable m_drained;  // Drain(): the queue ran empty
    std::vector<Item> m_ring;
    std::size_t m_head = 0;  // next to write
    std::size_t m_count = 0;
    bool m_busy = false;  // the sender is writing an item it took
    bool m_waiting = false;
    bool m_batch = false;
    bool m_closing = false;
    bool m_exit = false;
    std::thread m_thread;
};
