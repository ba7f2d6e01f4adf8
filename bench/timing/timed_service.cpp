#include "timed_service.h"

#include "midi/output_sender.h"

class TimedOutput : public MidiOut {
  public:
    TimedOutput(TimedService& service, std::shared_ptr<MidiOut> inner)
        : m_service(service), m_inner(std::move(inner)) {}
    int SendShort(uint32_t packed) override {
        const int result = m_inner->SendShort(packed);
        Stamp(packed);
        return result;
    }
    // Takes a message at once, as the system's ports do: the sender then writes it on the
    // clock's own thread, and the lateness measured is the program's, not a thread hop's.
    int TrySendShort(uint32_t packed) override {
        const int result = m_inner->TrySendShort(packed);
        if (result != MIDI_WOULD_WAIT) {
            Stamp(packed);
        }
        return result;
    }
    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        return m_inner->SendSysex(std::move(buffer));
    }
    void Close() override { m_inner->Close(); }
    bool Gone() const override { return m_inner->Gone(); }

  private:
    void Stamp(uint32_t packed) {
        const uint64_t now = SteadyMicros();
        std::lock_guard<std::mutex> lock(m_service.m_lock);
        m_service.m_log.push_back({now, packed});
    }

    TimedService& m_service;
    std::shared_ptr<MidiOut> m_inner;
};

int TimedService::OpenOutput(int id, std::shared_ptr<MidiOut>& out) {
    std::shared_ptr<MidiOut> inner;
    const int result = m_inner.OpenOutput(id, inner);
    if (result == MIDI_OK) {
        // Stamped where the device takes them, behind the sender, as the program sends.
        out =
            std::make_shared<OutputSender>(std::make_shared<TimedOutput>(*this, std::move(inner)));
    }
    return result;
}

std::vector<TimedMessage> TimedService::Log() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_log;
}
