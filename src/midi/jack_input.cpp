#include "midi/jack_input.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "midi/jack_presence.h"
#include "midi/jack_shared_client.h"
#include "platform/clock.h"

namespace {

// Only short messages are wanted: system exclusive, MIDI time code, timing clock and active
// sensing are dropped, as they always were.
bool Wanted(const jack_midi_event_t& event) {
    if (event.size == 0 || event.size > 3 || event.buffer[0] < 0x80) {
        return false;
    }
    switch (event.buffer[0]) {
        case 0xF0:
        case 0xF1:
        case 0xF7:
        case 0xF8:
        case 0xFE:
            return false;
        default:
            return true;
    }
}

class JackInput : public MidiIn, public JackPresence {
  public:
    JackInput(std::string name, std::string reported, MidiInCallback callback, void* instance)
        : m_name(std::move(name)),
          m_reported(std::move(reported)),
          m_callback(callback),
          m_instance(instance) {}
    ~JackInput() override { Close(); }

    bool StampsProgramClock() const override { return true; }

    int Open() { return m_link.Open(m_name, m_reported, false, this); }
    JackPortLink& Link() { return m_link; }

    int Start() override {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        if (m_closed || !m_link.Client()) {
            return MIDI_ERROR;
        }
        m_started = true;
        return MIDI_OK;
    }

    void Close() override {
        {
            // Once this returns no callback runs, and none starts afterwards.
            std::lock_guard<std::mutex> guard(m_callbackLock);
            m_started = false;
            m_closed = true;
        }
        std::lock_guard<std::mutex> guard(m_clientLock);
        m_link.Close();
    }

    bool StillPresent() override { return !FoundGone(); }

    bool CheckPresence() override {
        std::lock_guard<std::mutex> guard(m_clientLock);
        if (!m_link.Client() || FoundGone()) {
            return !FoundGone();
        }
        return Look(m_link.Client(), true, m_name, m_reported);
    }

    bool TellsWhenGone(std::function<void()> nudge) override {
        SetNudge(std::move(nudge));
        return true;
    }

  private:
    // JACK's process thread. The callback is called here, as it always was for JACK inputs.
    void Process(jack_client_t* client, jack_nframes_t frames) override {
        void* buffer = jack_port_get_buffer(m_link.Port(), frames);
        const uint32_t count = jack_midi_get_event_count(buffer);
        if (count == 0) {
            return;
        }
        const jack_nframes_t firstFrame = jack_last_frame_time(client);
        const jack_time_t now = jack_get_time();
        const uint32_t nowMs = NowMs();
        // A cycle takes in what was played during the period before it: each key was played
        // one period before its frame's time in this cycle.
        const jack_time_t period = jack_frames_to_time(client, firstFrame + frames) -
                                   jack_frames_to_time(client, firstFrame);
        std::lock_guard<std::mutex> guard(m_callbackLock);
        if (!m_started || m_closed) {
            return;
        }
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || !Wanted(event)) {
                continue;
            }
            uint32_t packed = 0;
            for (std::size_t b = 0; b < event.size; ++b) {
                packed |= uint32_t(event.buffer[b]) << (8 * b);
            }
            const jack_time_t frameTime = jack_frames_to_time(client, firstFrame + event.time);
            const jack_time_t played = frameTime > period ? frameTime - period : 0;
            const uint32_t agoMs = played < now ? static_cast<uint32_t>((now - played) / 1000) : 0;
            m_callback(this, kMimData, m_instance, packed, nowMs - agoMs);
        }
    }

    const std::string m_name;
    const std::string m_reported;
    JackPortLink m_link;

    std::mutex m_callbackLock;
    MidiInCallback m_callback;
    void* m_instance;
    bool m_started = false;
    bool m_closed = false;

    std::mutex m_clientLock;  // the link against closing
};

}  // namespace

int OpenJackInput(const std::string& name, const std::string& reported, MidiInCallback callback,
                  void* instance, std::shared_ptr<MidiIn>& in) {
    in.reset();
    if (!callback) {
        return MIDI_ERROR;
    }
    auto input = MakeJackDevice(new JackInput(name, reported, callback, instance));
    const int result = input->Open();
    if (result != MIDI_OK) {
        input->Close();
        return result;
    }
    in = std::move(input);
    return MIDI_OK;
}
