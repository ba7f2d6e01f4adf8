#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_port.h"

// A JACK server with the dummy backend under a private name, started once for the test program
// and stopped by its pid at the end. JACK_DEFAULT_SERVER names it for everything in the process.
bool JackServerReady();

// True when the server's clients run real-time (the server could take real-time priority).
bool JackRunsRealTime();

// Sets the server's period (frames a cycle); true once it is in effect.
bool SetJackPeriod(uint32_t frames);

// True once done() holds, looked at every few milliseconds; false when the limit passes first.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Every MIDI port of the server, as client:port.
std::vector<std::string> AllMidiPorts();

// Stands in for the player's keyboard: a JACK client with a port that receives what the program
// sends ("<client>:keys-in") and one that sends the player's keys ("<client>:keys-out").
class TestKeyboard {
  public:
    explicit TestKeyboard(const std::string& clientName);
    ~TestKeyboard();

    std::string InPortName() const;   // the program's output device
    std::string OutPortName() const;  // the program's input device
    std::vector<uint32_t> Received();
    std::vector<std::vector<uint8_t>> ReceivedSysex();
    void Send(uint8_t status, uint8_t data1, uint8_t data2);
    // Closes both ports and the clients, as a keyboard that is unplugged.
    void Unplug();
    // How often the server has said it lost a cycle (an xrun) since the keyboard came: a cycle
    // it drops between its clients loses what was in it, whoever wrote it.
    uint64_t ServerXruns() const { return m_xruns.load(); }
    // How far behind its due time (ms, rounded up) the cycle ran that sent the last keys: the
    // server stamps them with the time the cycle was due.
    uint32_t LastSendLateMs() const { return m_lastSendLateMs.load(); }

  private:
    static void OnMessage(double, std::vector<unsigned char>* message, void* self);
    static int ProcessKeys(jack_nframes_t frames, void* self);
    static int OnXrun(void* self);

    std::unique_ptr<RtMidiIn> m_in;
    // The keys go out through a client of the keyboard's own, stopped before its queue is freed.
    jack_client_t* m_keysClient = nullptr;
    jack_port_t* m_keysPort = nullptr;
    jack_ringbuffer_t* m_keysQueue = nullptr;
    std::string m_inClient;
    std::string m_outClient;
    std::mutex m_lock;
    std::vector<uint32_t> m_received;
    std::vector<std::vector<uint8_t>> m_sysex;
    std::atomic<uint64_t> m_xruns{0};
    std::atomic<uint32_t> m_lastSendLateMs{0};
};

// Wraps a service and records, per output, what was handed over successfully.
class RecordingService : public MidiService {
  public:
    explicit RecordingService(MidiService& inner) : m_inner(inner) {}
    std::vector<std::string> InputNames() override { return m_inner.InputNames(); }
    std::vector<std::string> OutputNames() override { return m_inner.OutputNames(); }
    int OpenOutput(int id, std::shared_ptr<MidiOut>& out) override;
    int OpenInput(int id, MidiInCallback callback, void* instance,
                  std::shared_ptr<MidiIn>& in) override {
        return m_inner.OpenInput(id, callback, instance, in);
    }
    std::vector<uint32_t> SentShort();

    std::mutex m_lock;
    std::vector<uint32_t> m_sentShort;

  private:
    MidiService& m_inner;
};
