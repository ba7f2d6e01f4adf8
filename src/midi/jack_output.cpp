#include "midi/jack_output.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/jack_presence.h"
#include "midi/jack_shared_client.h"
#include "midi/short_message.h"
#include "midi/spsc_ring.h"
#include "platform/debug_output.h"

namespace {

// How long a sender waits for room in a full ring (JACK stopped or stalled) before it counts the
// message as lost, and how long closing waits for what was sent before to go out.
constexpr auto kFullRingWait = std::chrono::milliseconds(500);
constexpr auto kCloseDrainWait = std::chrono::milliseconds(500);
// How long closing waits for a cycle that leaves the port's buffer empty.
constexpr auto kQuietCycleWait = std::chrono::milliseconds(500);

// One message on its way: when it was sent, on JACK's clock, and its bytes.
struct TimedMessage {
    jack_time_t sent = 0;
    uint32_t packed = 0;
    uint32_t length = 0;
    SysexBuffer* sysex = nullptr;  // kept alive by the output's m_sysexHeld
};

class JackOutput : public MidiOut, public JackPresence {
  public:
    // Several seconds of the densest song the program plays, at any period.
    static constexpr std::size_t kRingCapacity = 4096;

    JackOutput(std::string name, std::string reported)
        : m_name(std::move(name)), m_reported(std::move(reported)) {}
    ~JackOutput() override { Close(); }

    int Open() { return m_link.Open(m_name, m_reported, true, this); }
    JackPortLink& Link() { return m_link; }

    int SendShort(uint32_t packed) override {
        std::lock_guard<std::mutex> guard(m_sendLock);
        TimedMessage message;
        const int result = MakeShort(packed, message);
        if (result != MIDI_OK) {
            return result;
        }
        return PushWaiting(message);
    }

    int TrySendShort(uint32_t packed) override {
        std::lock_guard<std::mutex> guard(m_sendLock);
        TimedMessage message;
        const int result = MakeShort(packed, message);
        if (result != MIDI_OK) {
            return result;
        }
        return m_ring.Push(message) ? MIDI_OK : MIDI_WOULD_WAIT;
    }

    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        std::lock_guard<std::mutex> guard(m_sendLock);
        if (!buffer || buffer->bytes.empty() || !Usable()) {
            return MIDI_ERROR;
        }
        // The process thread may neither free nor allocate: the output holds each message until
        // it is done, and lets go of the ones done here, off that thread.
        std::erase_if(m_sysexHeld, [](const std::shared_ptr<SysexBuffer>& held) {
            return held->done.load(std::memory_order_acquire);
        });
        m_sysexHeld.push_back(buffer);
        TimedMessage message;
        message.sent = jack_get_time();
        message.length = static_cast<uint32_t>(buffer->bytes.size());
        message.sysex = buffer.get();
        return PushWaiting(message);
    }

    void Close() override {
        {
            std::lock_guard<std::mutex> guard(m_sendLock);
            if (m_closed) {
                return;
            }
            m_closed = true;
        }
        std::lock_guard<std::mutex> guard(m_clientLock);
        if (!m_link.Client()) {
            m_link.Close();  // what a failed open left
            return;
        }
        if (m_link.Active()) {
            // What was sent before (the stop's all-notes-off among it) still goes out.
            const auto end = std::chrono::steady_clock::now() + kCloseDrainWait;
            while (m_link.Active() && !Gone() && m_ring.Size() > 0 &&
                   std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            // A port's buffer keeps what the last cycle wrote, and other programs would read it
            // again in every cycle after ours stopped clearing it: one cycle that writes nothing
            // leaves it empty.
            m_quiet.store(true);
            m_link.WaitForCycle(kQuietCycleWait);
        }
        // Once the link is closed no process cycle reads the ring or the held messages: only
        // then may they go. Where a cycle may still read them, they stay with this output,
        // which the client frees once closed.
        if (!m_link.Close()) {
            for (const auto& held : m_sysexHeld) {
                held->done.store(true, std::memory_order_release);
            }
            return;
        }
        // A device found gone has been reported as such; what it could not take is no loss of
        // ours.
        while (m_ring.Front()) {
            if (!Gone()) {
                m_lost.fetch_add(1, std::memory_order_relaxed);
            }
            m_ring.Pop();
        }
        for (const auto& held : m_sysexHeld) {
            held->done.store(true, std::memory_order_release);
        }
        m_sysexHeld.clear();
        if (const uint64_t lost = m_lost.load(std::memory_order_relaxed); lost > 0) {
            DebugOutput(">JACK: " + std::to_string(lost) +
                        " MIDI message(s) could not be sent to " + m_name);
        }
    }

    bool Gone() const override { return FoundGone(); }

    // Lists the server's ports under the client's lock only: a send never waits on it.
    bool CheckPresence() override {
        std::lock_guard<std::mutex> guard(m_clientLock);
        if (!m_link.Client() || Gone()) {
            return !Gone();
        }
        return Look(m_link.Client(), false, m_name, m_reported);
    }

    bool TellsWhenGone(std::function<void()> nudge) override {
        SetNudge(std::move(nudge));
        return true;
    }

  private:
    bool Usable() const { return !m_closed && !Gone(); }

    // Under m_sendLock.
    int MakeShort(uint32_t packed, TimedMessage& message) {
        if (!Usable()) {
            return MIDI_ERROR;
        }
        const int length = ShortMessageLength(static_cast<uint8_t>(packed));
        if (length == 0) {
            return MIDI_ERROR;
        }
        message.sent = jack_get_time();
        message.packed = packed;
        message.length = static_cast<uint32_t>(length);
        return MIDI_OK;
    }

    // Under m_sendLock: a full ring is waited for, a while; the message keeps the time it was
    // sent, so it still goes out in its place.
    int PushWaiting(const TimedMessage& message) {
        const auto end = std::chrono::steady_clock::now() + kFullRingWait;
        while (!m_ring.Push(message)) {
            if (Gone() || std::chrono::steady_clock::now() >= end) {
                if (!Gone()) {
                    m_lost.fetch_add(1, std::memory_order_relaxed);
                }
                if (message.sysex) {
                    message.sysex->done.store(true, std::memory_order_release);
                }
                return Gone() ? MIDI_ERROR : MIDI_OK;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return MIDI_OK;
    }

    // JACK's process thread: no lock, no allocation, no output.
    void Process(jack_client_t* client, jack_nframes_t frames) override {
        jack_port_t* const port = m_link.Port();
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        if (m_quiet.load()) {
            return;
        }
        // What is written before the connection reaches the graph would be lost.
        if (!m_connected) {
            if (jack_port_connected(port) == 0) {
                return;
            }
            m_connected = true;
        }
        jack_nframes_t firstFrame;
        jack_time_t cycleStart, nextCycleStart;
        float periodUsecs;
        if (jack_get_cycle_times(client, &firstFrame, &cycleStart, &nextCycleStart, &periodUsecs) !=
                0 ||
            nextCycleStart <= cycleStart) {
            cycleStart = nextCycleStart = 0;  // no clock: everything at once, in order
        }
        // Every message is due one period after it was sent: a message sent during the cycle
        // before this one then falls within this one, never before its start.
        const jack_time_t latency = nextCycleStart - cycleStart;
        jack_nframes_t lastFrame = 0;
        while (TimedMessage* message = m_ring.Front()) {
            const jack_time_t due = message->sent + latency;
            if (nextCycleStart != 0 && due >= nextCycleStart) {
                break;  // a later cycle's, and so is everything after it
            }
            jack_nframes_t frame = 0;
            if (nextCycleStart != 0 && due > cycleStart) {
                frame = static_cast<jack_nframes_t>((due - cycleStart) * frames /
                                                    (nextCycleStart - cycleStart));
            }
            frame = std::clamp(frame, lastFrame, frames - 1);
            if (message->length > jack_midi_max_event_size(buffer)) {
                if (jack_midi_get_event_count(buffer) > 0) {
                    break;  // the rest goes out next cycle, first thing
                }
                // Larger than a whole cycle's buffer: it can never be written.
                m_lost.fetch_add(1, std::memory_order_relaxed);
            } else if (message->sysex) {
                jack_midi_event_write(buffer, frame, message->sysex->bytes.data(), message->length);
            } else {
                const jack_midi_data_t bytes[3] = {
                    static_cast<jack_midi_data_t>(message->packed),
                    static_cast<jack_midi_data_t>(message->packed >> 8),
                    static_cast<jack_midi_data_t>(message->packed >> 16)};
                jack_midi_event_write(buffer, frame, bytes, message->length);
            }
            if (message->sysex) {
                message->sysex->done.store(true, std::memory_order_release);
            }
            lastFrame = frame;
            m_ring.Pop();
        }
    }

    const std::string m_name;
    const std::string m_reported;
    JackPortLink m_link;
    bool m_connected = false;          // the process thread's own
    std::atomic<bool> m_quiet{false};  // closing: cycles only clear the port's buffer
    std::atomic<uint64_t> m_lost{0};
    SpscRing<TimedMessage, kRingCapacity> m_ring;

    std::mutex m_sendLock;  // the ring's writing side, m_sysexHeld, m_closed
    bool m_closed = false;
    std::vector<std::shared_ptr<SysexBuffer>> m_sysexHeld;

    std::mutex m_clientLock;  // the link against closing; never taken by a send
};

}  // namespace

int OpenJackOutput(const std::string& name, const std::string& reported,
                   std::shared_ptr<MidiOut>& out) {
    out.reset();
    auto output = MakeJackDevice(new JackOutput(name, reported));
    const int result = output->Open();
    if (result != MIDI_OK) {
        output->Close();
        return result;
    }
    out = std::move(output);
    return MIDI_OK;
}
