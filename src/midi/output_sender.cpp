#include "midi/output_sender.h"

#include "midi/realtime_priority.h"
#include "midi/sysex_writing.h"
#include "platform/debug_output.h"
#include "platform/thread_name.h"

OutputSender::OutputSender(std::shared_ptr<MidiOut> device)
    : m_device(std::move(device)), m_ring(kCapacity) {
    m_thread = std::thread(&OutputSender::ThreadProc, this);
}

OutputSender::~OutputSender() {
    Close();
}

int OutputSender::SendShort(uint32_t packed) {
    if (m_device->Gone()) {
        return MIDI_ERROR;
    }
    {
        // With nothing before it, a message the device takes at once is written here: waking the
        // sender for it would cost two switches of threads a message and gain nothing. The lock
        // keeps the sender from starting on anything sent later meanwhile.
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_closing && m_count == 0 && !m_busy) {
            const int result = m_device->TrySendShort(packed);
            if (result != MIDI_WOULD_WAIT) {
                if (result != MIDI_OK && !m_device->Gone()) {
                    DebugOutput(">midiOutShortMsg() was fail.\n");
                }
                return MIDI_OK;
            }
        }
    }
    return Enqueue(packed, nullptr);
}

int OutputSender::SendSysex(std::shared_ptr<SysexBuffer> buffer) {
    if (!buffer) {
        return MIDI_ERROR;
    }
    return Enqueue(0, std::move(buffer));
}

bool OutputSender::WriteSysex(std::shared_ptr<SysexBuffer> buffer) {
    return SendSysex(std::move(buffer)) == MIDI_OK;
}

int OutputSender::Enqueue(uint32_t packed, std::shared_ptr<SysexBuffer> sysex) {
    if (m_device->Gone()) {
        return MIDI_ERROR;
    }
    bool wake;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closing || m_count == m_ring.size()) {
            return MIDI_ERROR;
        }
        Item& slot = m_ring[(m_head + m_count) % m_ring.size()];
        slot.packed = packed;
        slot.sysex = std::move(sysex);
        ++m_count;
        // One wake-up per sleep of the sender, and none inside a batch: the messages of one
        // tick cost one system call and one switch of threads.
        wake = m_waiting && !m_batch;
        if (wake) {
            m_waiting = false;
        }
    }
    if (wake) {
        m_wake.notify_one();
    }
    return MIDI_OK;
}

void OutputSender::BeginBatch() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_batch = true;
}

void OutputSender::EndBatch() {
    bool wake;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_batch = false;
        wake = m_waiting && m_count > 0;
        if (wake) {
            m_waiting = false;
        }
    }
    if (wake) {
        m_wake.notify_one();
    }
}

void OutputSender::ThreadProc() {
    // The sender stands between the clock and the device: at the clock thread's priority, what
    // the clock sends on time reaches the device on time.
    NameThisThread("pv-sender");
    RunAtProgramRealTimePriority();
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        while (!m_exit && m_count == 0) {
            m_waiting = true;
            m_wake.wait(guard);
        }
        m_waiting = false;
        if (m_count == 0) {
            return;  // m_exit, and nothing left
        }
        Item item = std::move(m_ring[m_head]);
        m_head = (m_head + 1) % m_ring.size();
        --m_count;
        m_busy = true;
        guard.unlock();
        Write(item);
        item.sysex.reset();  // the device holds its own reference while it needs the bytes
        guard.lock();
        m_busy = false;
        if (m_count == 0) {
            m_drained.notify_all();
        }
    }
}

void OutputSender::Write(Item& item) {
    // A device found gone takes nothing more, and says nothing more about it.
    if (m_device->Gone()) {
        return;
    }
    if (item.sysex) {
        WriteSysexAndWait(*m_device, item.sysex);
    } else if (m_device->SendShort(item.packed) != 0 && !m_device->Gone()) {
        DebugOutput(">midiOutShortMsg() was fail.\n");
    }
}

void OutputSender::Drain() {
    EndBatch();
    std::unique_lock<std::mutex> guard(m_lock);
    m_drained.wait(guard, [this] { return m_count == 0 && !m_busy; });
}

void OutputSender::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closing) {
            return;
        }
        m_closing = true;
    }
    // What was sent before, the stop's all-notes-off among it, still reaches the device.
    Drain();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_exit = true;
    }
    m_wake.notify_one();
    m_thread.join();
    m_device->Close();
}
