#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/memory_midi.h"

// Microseconds of the steady clock, the clock that NowMs() truncates to milliseconds.
inline uint64_t SteadyMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

struct TimedMessage {
    uint64_t micros;
    uint32_t packed;
};

// The in-memory service with every short message also stamped in microseconds, finer than the
// service's own millisecond record.
class TimedService : public MidiService {
  public:
    explicit TimedService(InMemoryMidiService& inner) : m_inner(inner) {}
    std::vector<std::string> InputNames() override { return m_inner.InputNames(); }
    std::vector<std::string> OutputNames() override { return m_inner.OutputNames(); }
    int OpenOutput(int id, std::shared_ptr<MidiOut>& out) override;
    int OpenInput(int id, MidiInCallback callback, void* instance,
                  std::shared_ptr<MidiIn>& in) override {
        return m_inner.OpenInput(id, callback, instance, in);
    }
    std::vector<TimedMessage> Log();

  private:
    friend class TimedOutput;
    InMemoryMidiService& m_inner;
    std::mutex m_lock;
    std::vector<TimedMessage> m_log;
};
