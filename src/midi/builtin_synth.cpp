#include "midi/builtin_synth.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/thread_name.h"

namespace {

// Debian's General MIDI SoundFonts, the one the alternatives system chooses first.
const char* const kSoundFontPaths[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",        "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",        "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf3/MuseScore_General.sf3", "/usr/share/soundfonts/default.sf2",
    "/usr/share/soundfonts/FluidR3_GM.sf2",
};

std::atomic<bool> g_open{false};

// FluidSynth's messages: errors are kept for the one debug line of a failed open and otherwise
// go to the debug output; the chatter below error level is dropped.
std::mutex g_logLock;
std::string g_lastError;
bool g_collecting = false;

void OnFluidLog(int, const char* message, void*) {
    std::lock_guard<std::mutex> guard(g_logLock);
    if (g_collecting) {
        g_lastError = message ? message : "";
    } else {
        DebugOutput(std::string(">FluidSynth: ") + (message ? message : ""));
    }
}

void OnFluidChatter(int, const char*, void*) {}

// ALSA writes its complaints (no sound card, say) straight to stderr; the failed open reports
// them in its one debug line instead.
void OnAlsaError(const char*, int, const char*, int, const char*, ...) {}

void RouteFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&OnAlsaError);
        fluid_set_log_function(FLUID_PANIC, &OnFluidLog, nullptr);
        fluid_set_log_function(FLUID_ERR, &OnFluidLog, nullptr);
        fluid_set_log_function(FLUID_WARN, &OnFluidChatter, nullptr);
        fluid_set_log_function(FLUID_INFO, &OnFluidChatter, nullptr);
        fluid_set_log_function(FLUID_DBG, &OnFluidChatter, nullptr);
    });
}

// Messages go to the synthesizer on a thread of its own: a program change can make FluidSynth
// read samples from disk for several milliseconds, and the sender (the clock thread, holding the
// play lock) must not wait for that. The thread keeps the order of the messages.
class SynthOutput : public MidiOut {
  public:
    SynthOutput(fluid_settings_t* settings, fluid_synth_t* synth, fluid_audio_driver_t* driver)
        : m_settings(settings), m_synth(synth), m_driver(driver) {
        m_thread = std::thread(&SynthOutput::ThreadProc, this);
    }
    ~SynthOutput() override { Close(); }

    // The synthesizer lives in the program: it never goes, so there is nothing to look for.
    bool TellsWhenGone(std::function<void()>) override { return true; }

    int SendShort(uint32_t packed) override {
        if ((packed & 0x80) == 0) {
            return MIDI_ERROR;  // not a status byte
        }
        return Enqueue({packed, nullptr});
    }
    // The synthesizer has a thread of its own already: handing a message to it never waits.
    int TrySendShort(uint32_t packed) override { return SendShort(packed); }

    int SendSysex(std::shared_ptr<SysexBuffer> buffer) override {
        if (!buffer || buffer->bytes.size() < 2 || buffer->bytes.front() != 0xF0) {
            return MIDI_ERROR;
        }
        return Enqueue({0, std::move(buffer)});
    }

    void Close() override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_closed) {
                return;
            }
            m_closed = true;
        }
        m_wake.notify_all();
        m_thread.join();
        // Whoever waits for a message that will never be played learns that it is given up.
        for (const Message& message : m_queue) {
            if (message.sysex) {
                message.sysex->done.store(true);
            }
        }
        m_queue.clear();
        delete_fluid_audio_driver(m_driver);
        delete_fluid_synth(m_synth);
        delete_fluid_settings(m_settings);
        g_open.store(false);
    }

  private:
    struct Message {
        uint32_t packed;
        std::shared_ptr<SysexBuffer> sysex;
    };

    int Enqueue(Message message) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_closed) {
                return MIDI_ERROR;
            }
            m_queue.push_back(std::move(message));
        }
        m_wake.notify_one();
        return MIDI_OK;
    }

    void ThreadProc() {
        NameThisThread("pv-synth");
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_closed || !m_queue.empty(); });
            if (m_closed) {
                return;
            }
            Message message = std::move(m_queue.front());
            m_queue.pop_front();
            guard.unlock();
            if (message.sysex) {
                PlaySysex(message.sysex->bytes);
                message.sysex->done.store(true);
            } else {
                PlayShort(message.packed);
            }
            guard.lock();
        }
    }

    void PlayShort(uint32_t packed) {
        int status = packed & 0xFF;
        int data1 = (packed >> 8) & 0x7F;
        int data2 = (packed >> 16) & 0x7F;
        int channel = status & 0x0F;
        switch (status & 0xF0) {
            case 0x80:
                fluid_synth_noteoff(m_synth, channel, data1);
                break;
            case 0x90:
                // A velocity of 0 is a note-off to FluidSynth as to any GM device.
                fluid_synth_noteon(m_synth, channel, data1, data2);
                break;
            case 0xA0:
                fluid_synth_key_pressure(m_synth, channel, data1, data2);
                break;
            case 0xB0:
                fluid_synth_cc(m_synth, channel, data1, data2);
                break;
            case 0xC0:
                fluid_synth_program_change(m_synth, channel, data1);
                break;
            case 0xD0:
                fluid_synth_channel_pressure(m_synth, channel, data1);
                break;
            case 0xE0:
                fluid_synth_pitch_bend(m_synth, channel, data1 | (data2 << 7));
                break;
            default:
                if (status == 0xFF) {
                    fluid_synth_system_reset(m_synth);
                }
                break;  // other system messages mean nothing to a synthesizer
        }
    }

    void PlaySysex(const std::vector<uint8_t>& bytes) {
        if (IsResetSysex(bytes.data(), bytes.size())) {
            fluid_synth_system_reset(m_synth);
            return;
        }
        std::size_t end = bytes.back() == 0xF7 ? bytes.size() - 1 : bytes.size();
        std::vector<char> data(bytes.begin() + 1, bytes.begin() + end);
        fluid_synth_sysex(m_synth, data.data(), static_cast<int>(data.size()), nullptr, nullptr,
                          nullptr, 0);
    }

    fluid_settings_t* const m_settings;
    fluid_synth_t* const m_synth;
    fluid_audio_driver_t* const m_driver;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Message> m_queue;
    bool m_closed = false;
    std::thread m_thread;
};

int FailOpen(fluid_settings_t* settings, fluid_synth_t* synth, const std::string& why) {
    {
        std::lock_guard<std::mutex> guard(g_logLock);
        g_collecting = false;
        DebugOutput(">Built-in synthesizer: " + why +
                    (g_lastError.empty() ? std::string() : " (" + g_lastError + ")"));
        g_lastError.clear();
    }
    if (synth) {
        delete_fluid_synth(synth);
    }
    delete_fluid_settings(settings);
    g_open.store(false);
    return MIDI_ERROR;
}

}  // namespace

std::string FindSoundFont() {
    for (const char* path : kSoundFontPaths) {
        if (access(path, R_OK) == 0) {
            return path;
        }
    }
    return {};
}

bool IsResetSysex(const uint8_t* bytes, std::size_t length) {
    auto is = [&](std::initializer_list<int> pattern) {
        if (length != pattern.size()) {
            return false;
        }
        std::size_t i = 0;
        for (int expected : pattern) {
            // -1 stands for the device number, -2 for "0x1n" (XG's device number).
            if (expected >= 0 ? bytes[i] != expected
                              : (expected == -2 ? (bytes[i] & 0xF0) != 0x10 : bytes[i] > 0x7F)) {
                return false;
            }
            ++i;
        }
        return true;
    };
    return is({0xF0, 0x7E, -1, 0x09, 0x01, 0xF7}) ||  // General MIDI system on
           is({0xF0, 0x7E, -1, 0x09, 0x03, 0xF7}) ||  // General MIDI 2 system on
           is({0xF0, 0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}) ||  // GS reset
           is({0xF0, 0x43, -2, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});                // XG on
}

int OpenBuiltInSynth(std::shared_ptr<MidiOut>& out, bool useJack) {
    out.reset();
    if (g_open.exchange(true)) {
        return MIDI_ALLOCATED;
    }
    RouteFluidLog();
    {
        std::lock_guard<std::mutex> guard(g_logLock);
        g_collecting = true;
        g_lastError.clear();
    }
    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) {
        return FailOpen(nullptr, nullptr, "no memory");
    }
    std::string soundFont = FindSoundFont();
    if (soundFont.empty()) {
        return FailOpen(settings, nullptr, "no General MIDI SoundFont installed");
    }
    // Loud enough for a single melody, with headroom for sixteen busy channels.
    fluid_settings_setnum(settings, "synth.gain", 0.4);
    // Samples are read when a program first needs them, so opening stays quick.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setstr(settings, "audio.jack.id", "Pelorvane");
    fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (!synth) {
        return FailOpen(settings, nullptr, "cannot create the synthesizer");
    }
    if (fluid_synth_sfload(synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        return FailOpen(settings, synth, "cannot load " + soundFont);
    }
    // JACK only when a server already runs, so that no server is started behind the user's back.
    std::vector<const char*> drivers;
    if (useJack) {
        drivers.push_back("jack");
    }
    drivers.push_back("pulseaudio");
    drivers.push_back("alsa");
    fluid_audio_driver_t* driver = nullptr;
    for (const char* name : drivers) {
        fluid_settings_setstr(settings, "audio.driver", name);
        driver = new_fluid_audio_driver(settings, synth);
        if (driver) {
            break;
        }
    }
    if (!driver) {
        return FailOpen(settings, synth, "no audio output");
    }
    {
        std::lock_guard<std::mutex> guard(g_logLock);
        g_collecting = false;
        g_lastError.clear();
    }
    out = std::make_shared<SynthOutput>(settings, synth, driver);
    return MIDI_OK;
}
