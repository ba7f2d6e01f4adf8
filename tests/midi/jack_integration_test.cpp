// The program against a real MIDI transport: a JACK server with the dummy backend, and test
// clients standing in for the keyboard and for the speakers.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/thread.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "current_performance.h"
#include "engine_test_support.h"
#include "jack_fixture.h"
#include "midi/device_opening.h"
#include "midi/device_watcher.h"
#include "midi/jack_input.h"
#include "midi/jack_output.h"
#include "midi/jack_probe.h"
#include "midi/port_names.h"
#include "midi/realtime_priority.h"
#include "midi/settings_file.h"
#include "midi/system_midi.h"
#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class JackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!JackServerReady()) {
            GTEST_SKIP() << "no JACK server could be started (is jackd2 installed?)";
        }
    }

    // A core on the real service with the given devices stored as its settings.
    std::unique_ptr<TestCore> MakeCore(MidiService& service, const std::string& in,
                                       const std::string& out) {
        EXPECT_TRUE(SaveSettingsFile(m_dir.Path() + "/" + kSettingsFileName, in, out));
        return std::make_unique<TestCore>(service, m_dir.Path());
    }

    TempDir m_dir;
};

TEST_F(JackTest, KeyboardIsListedAndOurOwnPortsAreNot) {
    TestKeyboard keyboard("Test Keyboard");
    auto service = CreateSystemMidiService();
    auto inputs = service->InputNames();
    auto outputs = service->OutputNames();
    EXPECT_TRUE(Contains(inputs, keyboard.OutPortName()));
    EXPECT_TRUE(Contains(outputs, keyboard.InPortName()));
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(kBuiltInSynthName, outputs.back());

    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    auto at = [](const std::vector<std::string>& names, const std::string& name) {
        return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    ASSERT_EQ(MIDI_OK, service->OpenOutput(at(outputs, keyboard.InPortName()), out));
    ASSERT_EQ(MIDI_OK, service->OpenInput(
                           at(inputs, keyboard.OutPortName()),
                           [](MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}, nullptr, in));
    // With our ports open the lists are unchanged: they never offer the program to itself.
    EXPECT_EQ(inputs, service->InputNames());
    EXPECT_EQ(outputs, service->OutputNames());
    for (const std::string& port : AllMidiPorts()) {
        if (port.rfind("Pelorvane", 0) == 0) {
            EXPECT_TRUE(port.starts_with("Pelorvane:") || port.starts_with("Pelorvane-")) << port;
        }
    }
    // Short and system exclusive messages arrive whole; the sysex reports that it has gone out.
    auto sysex = std::make_shared<SysexBuffer>();
    sysex->bytes = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    EXPECT_EQ(0, out->SendShort(Msg(0xC3, 5, 0)));
    EXPECT_EQ(0, out->SendSysex(sysex));
    // The output's sender writes it; done tells that the device has taken it.
    EXPECT_TRUE(WaitFor([&] { return sysex->done.load(); }, 10s));
    EXPECT_TRUE(WaitFor([&] { return !keyboard.ReceivedSysex().empty(); }, 10s));
    EXPECT_EQ(std::vector<uint32_t>{Msg(0xC3, 5, 0)}, keyboard.Received());
    ASSERT_EQ(1u, keyboard.ReceivedSysex().size());
    EXPECT_EQ(sysex->bytes, keyboard.ReceivedSysex()[0]);

    std::shared_ptr<MidiOut> none;
    EXPECT_EQ(MIDI_BAD_DEVICE_ID, service->OpenOutput(static_cast<int>(outputs.size()), none));
    EXPECT_EQ(nullptr, none);
    in->Close();
    out->Close();
}

TEST_F(JackTest, KeyboardReceivesTheWholeOutputInOrder) {
    TestKeyboard keyboard("Test Keyboard");
    auto system = CreateSystemMidiService();
    RecordingService service(*system);
    auto core = MakeCore(service, keyboard.OutPortName(), keyboard.InPortName());
    SmfWriter song;
    song.Control(0, 1, 7, 90)
        .Note(0, 0, 60, 150)
        .Note(200, 1, 64, 150)
        .Note(400, 0, 62, 150)
        .Note(400, 0, 65, 150);
    core->AddLoadedSong(song.Load(), 1);
    core->OpenMidiDevices();
    EXPECT_TRUE(core->m_messages.empty());
    core->StartClockThread();
    core->StartPlay(PlayMode::ModelPerformance);
    ASSERT_TRUE(WaitFor([&] { return core->CurrentPlayState() == Stopped; }, 5s));
    core->StopPlay();
    auto sent = service.SentShort();
    ASSERT_TRUE(WaitFor([&] { return keyboard.Received().size() >= sent.size(); }, 10s));
    auto received = keyboard.Received();
    EXPECT_EQ(sent, received);

    // What the keyboard saw: the start sequence, the lights on channel 1, All Sound Off at stop.
    ASSERT_GE(received.size(), 32u + 16u);
    EXPECT_EQ(SilenceAll(), std::vector<uint32_t>(received.begin(), received.begin() + 32));
    for (int key : {60, 62, 65}) {
        EXPECT_NE(received.end(), std::find(received.begin(), received.end(), Msg(0x90, key, 0x7F)))
            << "key " << key << " was not lit";
    }
    EXPECT_NE(received.end(), std::find(received.begin(), received.end(), Msg(0x91, 64, 100)));
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(Msg(0xB0 + c, 0x78, 0), received[received.size() - 16 + c]);
    }
    core->ShutDown();
}

// Two threads that take what CPU they are given, as other programs on a busy machine.
class CompetingLoad {
  public:
    CompetingLoad() {
        for (auto& thread : m_threads) {
            thread = std::thread([this] {
                while (!m_stop.load(std::memory_order_relaxed)) {
                }
            });
        }
    }
    ~CompetingLoad() {
        m_stop.store(true);
        for (auto& thread : m_threads) {
            thread.join();
        }
    }

  private:
    std::atomic<bool> m_stop{false};
    std::thread m_threads[2];
};

// Twelve channels strike together every 30 ms, and once every key on them at once, released a
// millisecond later: 3,072 messages that one long cycle must take, as it takes the backlog of a
// stalled one. At any period, on a busy machine, whatever the clock sends arrives, all of it and
// in order.
TEST_F(JackTest, DenseSongArrivesWholeAndInOrderAtEveryPeriodUnderLoad) {
    TestKeyboard keyboard("Test Keyboard");
    SmfWriter song;
    for (uint32_t t = 0; t < 1500; t += 30) {
        for (int channel = 1; channel <= 12; ++channel) {
            song.Note(t, channel, 40 + channel + (t / 30) % 24, 25, 90);
        }
    }
    for (int channel = 1; channel <= 12; ++channel) {
        for (int key = 0; key < 128; ++key) {
            song.Note(751, channel, key, 1, 1 + key % 100);
        }
    }
    // A server that does not run real-time loses whole cycles between its clients under load,
    // whoever writes them: the load then only shows what the server does.
    std::optional<CompetingLoad> load;
    if (JackRunsRealTime()) {
        load.emplace();
    }
    for (uint32_t period : {64u, 1024u, 256u}) {
        SCOPED_TRACE(period);
        ASSERT_TRUE(SetJackPeriod(period));
        // A server that misses a deadline may drop a whole cycle between its clients, and with it
        // what was written in it: no client can know or mend that. A run that lost messages while
        // the server said it lost cycles says nothing of ours, and is played again; a loss with
        // no such word from the server fails at once.
        for (int attempt = 1;; ++attempt) {
            SCOPED_TRACE(attempt);
            const uint64_t xrunsBefore = keyboard.ServerXruns();
            auto system = CreateSystemMidiService();
            RecordingService service(*system);
            auto core = MakeCore(service, keyboard.OutPortName(), keyboard.InPortName());
            core->AddLoadedSong(song.Load(), 1);
            core->OpenMidiDevices();
            ASSERT_TRUE(core->m_messages.empty()) << ::testing::PrintToString(core->m_messages);
            const std::size_t before = keyboard.Received().size();
            core->StartClockThread();
            core->StartPlay(PlayMode::ModelPerformance);
            ASSERT_TRUE(WaitFor([&] { return core->CurrentPlayState() == Stopped; }, 20s));
            core->StopPlay();
            core->ShutDown();
            const auto sent = service.SentShort();
            ASSERT_GT(sent.size(), 4000u);
            WaitFor([&] { return keyboard.Received().size() >= before + sent.size(); }, 5s);
            const auto all = keyboard.Received();
            const std::vector<uint32_t> received(all.begin() + static_cast<std::ptrdiff_t>(before),
                                                 all.end());
            const bool serverLostCycles = keyboard.ServerXruns() != xrunsBefore;
            if (sent == received || !serverLostCycles || attempt == 4) {
                EXPECT_EQ(sent.size(), received.size());
                EXPECT_TRUE(sent == received)
                    << "the first difference is at "
                    << std::mismatch(sent.begin(), sent.end(), received.begin(), received.end())
                               .first -
                           sent.begin()
                    << (serverLostCycles ? "; the server lost cycles in every run" : "");
                break;
            }
        }
    }
}

// An output closed at once after a burst still delivers the burst, and closing while JACK's
// cycles run never leaves them reading what closing freed (once found by these tests under load).
TEST_F(JackTest, AnOutputClosedRightAfterABurstDeliversAllOfIt) {
    TestKeyboard keyboard("Test Keyboard");
    auto service = CreateSystemMidiService();
    const auto outputs = service->OutputNames();
    const int id = static_cast<int>(
        std::find(outputs.begin(), outputs.end(), keyboard.InPortName()) - outputs.begin());
    ASSERT_TRUE(SetJackPeriod(1024));
    std::vector<uint32_t> sent;
    for (int round = 0; round < 20; ++round) {
        std::shared_ptr<MidiOut> out;
        ASSERT_EQ(MIDI_OK, service->OpenOutput(id, out));
        for (int key = 0; key < 100; ++key) {
            sent.push_back(Msg(0x90 | (round % 16), key, 1 + round));
            ASSERT_EQ(0, out->SendShort(sent.back()));
        }
        out->Close();
    }
    ASSERT_TRUE(SetJackPeriod(256));
    WaitFor([&] { return keyboard.Received().size() >= sent.size(); }, 5s);
    EXPECT_TRUE(sent == keyboard.Received()) << keyboard.Received().size() << " of " << sent.size();
}

// The program's client names of its own MIDI ports, one entry per port.
std::vector<std::string> OwnPortClients() {
    std::vector<std::string> clients;
    for (const std::string& port : AllMidiPorts()) {
        if (IsOwnPort(port, PortSystem::Jack)) {
            clients.push_back(port.substr(0, port.find(':')));
        }
    }
    return clients;
}

// JACK wakes each client of ours once a cycle, so the keyboard's input and the output are ports
// of one client. An output closed beside the input is heard once, not again from a buffer left
// behind; closing the input while the output plays leaves every message arriving, in order; the
// last port closed leaves none of ours behind. A program whose two ports are one
// client (a2jmidid bridging a keyboard) would close a loop through a shared client, and JACK
// would run one direction a cycle late: those stay apart.
TEST_F(JackTest, OurPortsShareOneClientAndCloseWithoutDisturbingEachOther) {
    TestKeyboard keyboard("Test Keyboard");
    jack_status_t status;
    jack_client_t* bridge = jack_client_open("Bridge", JackNoStartServer, &status);
    ASSERT_NE(bridge, nullptr);
    jack_port_register(bridge, "capture", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_port_register(bridge, "playback", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    ASSERT_EQ(jack_activate(bridge), 0);
    auto service = CreateSystemMidiService();
    const auto inputs = service->InputNames();
    const auto outputs = service->OutputNames();
    const auto at = [](const std::vector<std::string>& names, const std::string& name) {
        return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    const MidiInCallback ignore = [](MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {};
    std::atomic<int> keys{0};
    const MidiInCallback count = [](MidiIn*, uint32_t code, void* heard, uintptr_t, uintptr_t) {
        if (code == kMimData) {
            ++*static_cast<std::atomic<int>*>(heard);
        }
    };
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    ASSERT_EQ(MIDI_OK, service->OpenInput(at(inputs, keyboard.OutPortName()), count, &keys, in));
    ASSERT_EQ(MIDI_OK, in->Start());

    // Outputs closed right after a burst, beside the input: each burst arrives once. Keys heard
    // afterwards show that cycles went on after the port stopped being served.
    std::vector<uint32_t> sent;
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(MIDI_OK, service->OpenOutput(at(outputs, keyboard.InPortName()), out));
        auto clients = OwnPortClients();
        ASSERT_EQ(clients.size(), 2u);
        EXPECT_EQ(clients[0], clients[1]);
        for (int key = 0; key < 50; ++key) {
            sent.push_back(Msg(0x90, key, 1 + round));
            ASSERT_EQ(0, out->SendShort(sent.back()));
        }
        out->Close();
        for (int k = 1; k <= 2; ++k) {
            keyboard.Send(0x90, 60, 100);
            ASSERT_TRUE(WaitFor([&] { return keys.load() >= 2 * round + k; }, 5s));
        }
    }
    EXPECT_TRUE(sent == keyboard.Received()) << keyboard.Received().size() << " of " << sent.size();

    ASSERT_EQ(MIDI_OK, service->OpenOutput(at(outputs, keyboard.InPortName()), out));
    for (int batch = 0; batch < 30; ++batch) {
        for (int key = 0; key < 20; ++key) {
            sent.push_back(Msg(0x90 | (batch % 16), key, 1 + batch));
            ASSERT_EQ(0, out->SendShort(sent.back()));
        }
        // While the batch is on its way.
        if (batch == 10) {
            in->Close();
        }
        ASSERT_TRUE(WaitFor([&] { return keyboard.Received().size() >= sent.size(); }, 5s));
    }
    EXPECT_TRUE(sent == keyboard.Received()) << keyboard.Received().size() << " of " << sent.size();
    EXPECT_EQ(OwnPortClients().size(), 1u);
    out->Close();
    EXPECT_TRUE(OwnPortClients().empty());

    ASSERT_EQ(MIDI_OK, service->OpenOutput(at(outputs, "Bridge:playback"), out));
    ASSERT_EQ(MIDI_OK, service->OpenInput(at(inputs, "Bridge:capture"), ignore, nullptr, in));
    const auto clients = OwnPortClients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_NE(clients[0], clients[1]);
    in->Close();
    out->Close();
    jack_deactivate(bridge);
    jack_client_close(bridge);
}

// A key reaches the input callback with the program clock's time of its frame: not after the
// callback, and not before the key was sent by more than the period it waited in.
TEST_F(JackTest, AKeyArrivesWithTheTimeItWasPlayed) {
    TestKeyboard keyboard("Test Keyboard");
    auto service = CreateSystemMidiService();
    const auto inputs = service->InputNames();
    const int id = static_cast<int>(
        std::find(inputs.begin(), inputs.end(), keyboard.OutPortName()) - inputs.begin());
    struct Heard {
        std::mutex lock;
        std::vector<std::pair<uint32_t, uint32_t>> keys;  // message, time; NowMs() at the call
        std::vector<uint32_t> calledAt;
    } heard;
    std::shared_ptr<MidiIn> in;
    ASSERT_EQ(MIDI_OK, service->OpenInput(
                           id,
                           [](MidiIn*, uint32_t code, void* self, uintptr_t message, uintptr_t at) {
                               auto* h = static_cast<Heard*>(self);
                               std::lock_guard<std::mutex> guard(h->lock);
                               h->keys.emplace_back(code == kMimData ? uint32_t(message) : 0,
                                                    uint32_t(at));
                               h->calledAt.push_back(NowMs());
                           },
                           &heard, in));
    ASSERT_EQ(MIDI_OK, in->Start());
    const uint32_t sentAt = NowMs();
    keyboard.Send(0x90, 60, 100);
    ASSERT_TRUE(WaitFor(
        [&] {
            std::lock_guard<std::mutex> guard(heard.lock);
            return !heard.keys.empty();
        },
        5s));
    in->Close();
    std::lock_guard<std::mutex> guard(heard.lock);
    ASSERT_EQ(1u, heard.keys.size());
    EXPECT_EQ(Msg(0x90, 60, 100), heard.keys[0].first);
    const uint32_t periodMs = 256 * 1000 / 48000 + 1;
    EXPECT_LE(int32_t(heard.keys[0].second - heard.calledAt[0]), 0);
    // A cycle the server runs late still carries the times it was due at, so the key may seem
    // played as much earlier as the cycle that carried it was late.
    EXPECT_GE(int32_t(heard.keys[0].second - sentAt),
              -int32_t(periodMs + keyboard.LastSendLateMs()));
}

// A real-time thread of ours started before any JACK client (the playback clock) ends below
// JACK's client threads once one opens, or not real-time when JACK is not: JACK's process
// callbacks, our outputs' among them, never wait for it.
TEST_F(JackTest, OurRealTimeThreadsRunBelowJackClients) {
    std::promise<pthread_t> started;
    std::promise<void> finish;
    std::thread clock([&] {
        RunAtProgramRealTimePriority();
        started.set_value(pthread_self());
        finish.get_future().wait();
    });
    const pthread_t thread = started.get_future().get();
    auto service = CreateSystemMidiService();
    service->OutputNames();

    jack_status_t status;
    jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
    ASSERT_NE(nullptr, probe);
    const int jackPriority = jack_client_real_time_priority(probe);
    jack_client_close(probe);
    int policy;
    sched_param param{};
    ASSERT_EQ(0, pthread_getschedparam(thread, &policy, &param));
    finish.set_value();
    clock.join();
    if (policy == SCHED_FIFO) {
        EXPECT_LT(param.sched_priority, jackPriority);
    } else {
        EXPECT_EQ(SCHED_OTHER, policy);
    }
    EXPECT_EQ(policy == SCHED_FIFO ? param.sched_priority : 0, ProgramRealTimePriority());
}

TEST_F(JackTest, NoteOnFromTheKeyboardLetsTheLessonGoOn) {
    TestKeyboard keyboard("Test Keyboard");
    auto system = CreateSystemMidiService();
    auto core = MakeCore(*system, keyboard.OutPortName(), keyboard.InPortName());
    SmfWriter song;
    song.Note(0, 0, 60, 300).Note(600, 1, 67, 200);
    core->AddLoadedSong(song.Load(), 1);
    core->OpenMidiDevices();
    ASSERT_TRUE(core->m_messages.empty()) << ::testing::PrintToString(core->m_messages);
    core->StartClockThread();
    core->StartPlay(PlayMode::MyPaceLesson);

    auto heard = [&](uint32_t message) {
        auto received = keyboard.Received();
        return std::find(received.begin(), received.end(), message) != received.end();
    };
    ASSERT_TRUE(WaitFor([&] { return heard(Msg(0x90, 60, 0x7F)); }, 10s));
    // For a second, the lesson must wait for the key: neither the next note nor the end.
    EXPECT_FALSE(WaitFor(
        [&] { return heard(Msg(0x91, 67, 100)) || core->CurrentPlayState() != Playing; }, 1000ms));

    keyboard.Send(0x90, 60, 100);
    EXPECT_TRUE(WaitFor([&] { return heard(Msg(0x91, 67, 100)); }, 10s));
    keyboard.Send(0x80, 60, 0);
    EXPECT_TRUE(WaitFor([&] { return core->CurrentPlayState() == Stopped; }, 10s));
    core->ShutDown();
}

TEST_F(JackTest, TwoClientsWithTheSameNameAreToldApart) {
    TestKeyboard first("Twin");
    TestKeyboard second("Twin");
    ASSERT_NE(first.InPortName(), second.InPortName());
    auto service = CreateSystemMidiService();
    auto outputs = service->OutputNames();
    for (TestKeyboard* keyboard : {&first, &second}) {
        auto it = std::find(outputs.begin(), outputs.end(), keyboard->InPortName());
        ASSERT_NE(outputs.end(), it) << keyboard->InPortName();
        std::shared_ptr<MidiOut> out;
        ASSERT_EQ(MIDI_OK, service->OpenOutput(static_cast<int>(it - outputs.begin()), out));
        uint8_t key = keyboard == &first ? 40 : 41;
        // A message written in the same JACK cycle as the port's connection can be lost under
        // load; what counts here is where the messages go, so send again until one arrives.
        bool arrived = false;
        for (int attempt = 0; attempt < 5 && !arrived; ++attempt) {
            EXPECT_EQ(0, out->SendShort(Msg(0x90, key, 1)));
            arrived = WaitFor([&] { return !keyboard->Received().empty(); }, 2s);
        }
        EXPECT_TRUE(arrived);
        out->Close();
    }
    // Nothing goes astray to the other keyboard either.
    EXPECT_FALSE(WaitFor(
        [&] {
            for (uint32_t m : first.Received()) {
                if (m != Msg(0x90, 40, 1))
                    return true;
            }
            for (uint32_t m : second.Received()) {
                if (m != Msg(0x90, 41, 1))
                    return true;
            }
            return false;
        },
        50ms));
    EXPECT_FALSE(first.Received().empty());
    EXPECT_FALSE(second.Received().empty());
}

// Play stops on its own well before the song's end, a debug line per port found gone says why,
// nothing more is tried on the port, and the window has one message to show.
TEST_F(JackTest, UnpluggedKeyboardWhilePlayingStopsPlayWithOneMessage) {
    DebugCapture debug;
    auto keyboard = std::make_unique<TestKeyboard>("Test Keyboard");
    auto system = CreateSystemMidiService();
    auto core = MakeCore(*system, keyboard->OutPortName(), keyboard->InPortName());
    SmfWriter song;
    for (uint32_t t = 0; t < 3000; t += 100) {
        song.Note(t, 1, 60 + (t / 100) % 12, 80);
    }
    core->AddLoadedSong(song.Load(), 0);
    core->OpenMidiDevices();
    ASSERT_TRUE(core->m_messages.empty()) << ::testing::PrintToString(core->m_messages);
    core->StartClockThread();
    core->StartPlay(PlayMode::ModelPerformance);
    ASSERT_TRUE(WaitFor([&] { return keyboard->Received().size() > 40; }, 10s));
    keyboard.reset();
    ASSERT_TRUE(WaitFor([&] { return !debug.Lines().empty(); }, 10s));
    EXPECT_TRUE(WaitFor([&] { return core->CurrentPlayState() == Stopped; }, 10s));
    core->CheckDevices();
    core->CheckDevices();
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kOutputLostText});
    core->StopPlay();
    core->ShutDown();
    // The watcher finds both of the keyboard's ports gone, each once; nothing else is said
    // (no failed send either).
    auto lines = debug.Lines();
    ASSERT_GE(lines.size(), 1u);
    ASSERT_LE(lines.size(), 2u) << testing::PrintToString(lines);
    for (const std::string& line : lines) {
        EXPECT_NE(std::string::npos, line.find("gone")) << line;
    }
    if (lines.size() == 2) {
        EXPECT_NE(lines[0], lines[1]);
    }
}

// A keyboard whose JACK client ends takes only the input with it: the lesson listening to it
// stops with one message; the model performance plays every note to the output, and every mode
// starts afterwards.
TEST_F(JackTest, AnInputThatEndsStopsOnlyWhatListensToIt) {
    TestKeyboard speakers("Speakers");
    auto keys = std::make_unique<TestKeyboard>("Keys One");
    auto system = CreateSystemMidiService();
    auto core = MakeCore(*system, keys->OutPortName(), speakers.InPortName());
    constexpr int kNotes = 20;
    SmfWriter song;
    song.Note(0, 0, 60, 300);
    for (int i = 0; i < kNotes; ++i) {
        song.Note(static_cast<uint32_t>(i * 40), 1, 62 + i % 10, 30, 80);
    }
    core->AddLoadedSong(song.Load(), 1);
    core->OpenMidiDevices();
    ASSERT_TRUE(core->m_messages.empty()) << ::testing::PrintToString(core->m_messages);
    core->StartClockThread();
    auto songNotesSince = [&](size_t from) {
        const std::vector<uint32_t> received = speakers.Received();
        return std::count_if(received.begin() + static_cast<std::ptrdiff_t>(from), received.end(),
                             [](uint32_t m) { return (m & 0xFF) == 0x91 && (m >> 16) == 80; });
    };
    // A note goes out up to two periods after the clock sent it, and on a busy machine the
    // server's cycles may lag behind the clock that ends the song: the last ones may come after.
    auto allSongNotesSince = [&](size_t from) {
        WaitFor([&] { return songNotesSince(from) >= kNotes; }, 5s);
        return songNotesSince(from);
    };
    // The window's idle routine, run while waiting.
    auto stopped = [&] {
        core->CheckDevices();
        return core->CurrentPlayState() == Stopped;
    };

    keys.reset();
    ASSERT_TRUE(WaitFor(
        [&] {
            core->CheckDevices();
            return !core->m_messages.empty();
        },
        10s));
    EXPECT_EQ(core->m_messages, std::vector<std::string>{kInputLostNothingStoppedText});
    for (PlayMode mode : {PlayMode::ModelPerformance, PlayMode::MyPaceLesson,
                          PlayMode::Accompaniment, PlayMode::Solo}) {
        const size_t from = speakers.Received().size();
        core->StartPlay(mode);
        if (mode == PlayMode::ModelPerformance) {
            ASSERT_TRUE(WaitFor(stopped, 10s));
            EXPECT_EQ(allSongNotesSince(from), kNotes);
        } else {
            EXPECT_FALSE(WaitFor(stopped, 300ms)) << static_cast<int>(mode);
            core->StopPlay();
        }
    }
    EXPECT_EQ(core->m_messages.size(), 1u);

    // Ended while the model performance plays: told once, and every note still arrives.
    keys = std::make_unique<TestKeyboard>("Keys Two");
    ASSERT_TRUE(core->ApplyDeviceNames(keys->OutPortName(), speakers.InPortName()));
    size_t from = speakers.Received().size();
    core->StartPlay(PlayMode::ModelPerformance);
    ASSERT_TRUE(WaitFor([&] { return songNotesSince(from) >= 3; }, 10s));
    keys.reset();
    ASSERT_TRUE(WaitFor(stopped, 10s));
    EXPECT_EQ(allSongNotesSince(from), kNotes);
    ASSERT_TRUE(WaitFor(
        [&] {
            core->CheckDevices();
            return core->m_messages.size() == 2;
        },
        10s));
    EXPECT_EQ(core->m_messages.back(), kInputLostNothingStoppedText);

    // Ended while the lesson waits for it: the lesson stops with one message.
    keys = std::make_unique<TestKeyboard>("Keys Three");
    ASSERT_TRUE(core->ApplyDeviceNames(keys->OutPortName(), speakers.InPortName()));
    from = speakers.Received().size();
    core->StartPlay(PlayMode::MyPaceLesson);
    ASSERT_TRUE(WaitFor([&] { return speakers.Received().size() > from; }, 10s));
    keys.reset();
    EXPECT_TRUE(WaitFor(stopped, 10s));
    core->CheckDevices();
    ASSERT_EQ(core->m_messages.size(), 3u);
    EXPECT_EQ(core->m_messages.back(), kInputLostText);
    core->ShutDown();
}

// Listens to the synthesizer's audio: the loudest sample since the last reset.
class AudioListener {
  public:
    AudioListener() {
        jack_status_t status;
        m_client = jack_client_open("Speakers", JackNoStartServer, &status);
        if (!m_client) {
            return;
        }
        m_ports[0] =
            jack_port_register(m_client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_ports[1] =
            jack_port_register(m_client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(m_client, &AudioListener::Process, this);
        jack_activate(m_client);
    }
    ~AudioListener() {
        if (m_client) {
            jack_deactivate(m_client);
            jack_client_close(m_client);
        }
    }
    // Connects every audio output of the program's clients to this listener.
    int ConnectProgram() {
        int connected = 0;
        const char** ports =
            jack_get_ports(m_client, "^Pelorvane", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        for (const char** port = ports; port && *port; ++port) {
            if (jack_connect(m_client, *port, jack_port_name(m_ports[connected % 2])) == 0) {
                ++connected;
            }
        }
        jack_free(ports);
        return connected;
    }
    // Audio is measured in frames the server has processed, not in wall-clock time: on a busy
    // machine a wall-clock window may hold no audio at all.
    uint64_t FramesFor(std::chrono::milliseconds span) const {
        return uint64_t(jack_get_sample_rate(m_client)) * uint64_t(span.count()) / 1000;
    }
    // The loudest sample over the next span of audio; -1 when it does not come in 10 s.
    float PeakOver(std::chrono::milliseconds span) {
        m_peak.store(0.0f);
        const uint64_t end = m_frames.load() + FramesFor(span);
        if (!WaitFor([&] { return m_frames.load() >= end; }, 10s)) {
            return -1.0f;
        }
        return m_peak.load();
    }
    // True once a sample louder than level is heard within the limit.
    bool Hears(float level, std::chrono::milliseconds limit) {
        m_peak.store(0.0f);
        return WaitFor([&] { return m_peak.load() > level; }, limit);
    }
    // True once a whole span of audio stays below level, within the limit.
    bool BecomesQuiet(float level, std::chrono::milliseconds span,
                      std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const float peak = PeakOver(span);
            if (peak >= 0.0f && peak < level) {
                return true;
            }
        }
        return false;
    }
    bool Ready() const { return m_client != nullptr; }

  private:
    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<AudioListener*>(arg);
        float peak = self->m_peak.load();
        for (jack_port_t* port : self->m_ports) {
            auto* samples = static_cast<float*>(jack_port_get_buffer(port, frames));
            for (jack_nframes_t i = 0; i < frames; ++i) {
                peak = std::max(peak, std::fabs(samples[i]));
            }
        }
        self->m_peak.store(peak);
        self->m_frames.fetch_add(frames);
        return 0;
    }

    jack_client_t* m_client = nullptr;
    jack_port_t* m_ports[2] = {nullptr, nullptr};
    std::atomic<float> m_peak{0.0f};
    std::atomic<uint64_t> m_frames{0};
};

TEST_F(JackTest, BuiltInSynthesizerSoundsWhilePlayingAndIsSilentAfterStop) {
    AudioListener speakers;
    ASSERT_TRUE(speakers.Ready());
    auto system = CreateSystemMidiService();
    auto core = MakeCore(*system, "", kBuiltInSynthName);
    SmfWriter song;
    // Notes far longer than the test: only the stop can end them.
    song.Note(0, 1, 60, 30000, 110).Note(0, 0, 64, 30000, 110);
    core->AddLoadedSong(song.Load(), 1);
    core->OpenMidiDevices();
    ASSERT_EQ(kBuiltInSynthName, core->OutDeviceName());
    ASSERT_NE(nullptr, OutputOf(*core)) << "the synthesizer did not open";
    ASSERT_GE(speakers.ConnectProgram(), 1);
    core->StartClockThread();
    core->StartPlay(PlayMode::ModelPerformance);
    EXPECT_TRUE(speakers.Hears(0.01f, 5s));
    core->StopPlay();
    EXPECT_TRUE(speakers.BecomesQuiet(1e-4f, 300ms, 5s));  // past the reverb's tail
    core->ShutDown();
}

TEST_F(JackTest, KeyLightsAtVolumeZeroStaySilentOnTheSynthesizer) {
    AudioListener speakers;
    ASSERT_TRUE(speakers.Ready());
    auto system = CreateSystemMidiService();
    auto core = MakeCore(*system, "", kBuiltInSynthName);
    SmfWriter song;
    song.Note(10, 0, 60, 1500, 120).Note(10, 0, 67, 1500, 120).Note(1600, 1, 30, 10, 1);
    core->AddLoadedSong(song.Load(), 1);
    core->OpenMidiDevices();
    ASSERT_NE(nullptr, OutputOf(*core)) << "the synthesizer did not open";
    ASSERT_GE(speakers.ConnectProgram(), 1);
    core->StartClockThread();
    // The practice channel is silenced, so only the key lights on channel 1 are played.
    core->StartPlay(PlayMode::Accompaniment);
    ASSERT_TRUE(WaitFor([&] { return core->CurrentPlayState() == Playing; }, 1s));
    const float peak = speakers.PeakOver(800ms);
    EXPECT_GE(peak, 0.0f) << "no audio came";
    EXPECT_LT(peak, 1e-4f);
    core->StopPlay();
    core->ShutDown();
}

TEST_F(JackTest, SynthesizerHonoursResetsVolumeAndAllSoundOff) {
    AudioListener speakers;
    ASSERT_TRUE(speakers.Ready());
    auto service = CreateSystemMidiService();
    std::shared_ptr<MidiOut> synth;
    ASSERT_EQ(MIDI_OK,
              service->OpenOutput(static_cast<int>(service->OutputNames().size()) - 1, synth));
    ASSERT_GE(speakers.ConnectProgram(), 1);
    auto sysex = [&](std::vector<uint8_t> bytes) {
        auto buffer = std::make_shared<SysexBuffer>();
        buffer->bytes = std::move(bytes);
        EXPECT_EQ(0, synth->SendSysex(buffer));
        EXPECT_TRUE(WaitFor([&] { return buffer->done.load(); }, 1s));
    };
    const std::vector<std::vector<uint8_t>> resets = {
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},                                // GM
        {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},  // GS
        {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},              // XG
    };
    for (const auto& reset : resets) {
        SCOPED_TRACE(testing::PrintToString(reset));
        // Volume 0 on channel 1, as the key lights are sent: silent.
        synth->SendShort(Msg(0xB0, 7, 0));
        synth->SendShort(Msg(0x90, 60, 127));
        const float muted = speakers.PeakOver(300ms);
        EXPECT_GE(muted, 0.0f) << "no audio came";
        EXPECT_LT(muted, 1e-4f);
        // The reset brings the volume back, so the same key now sounds...
        sysex(reset);
        synth->SendShort(Msg(0x90, 64, 127));
        EXPECT_TRUE(speakers.Hears(0.01f, 5s));
        // ...and All Sound Off ends it, held as it is, within the reverb's tail.
        synth->SendShort(Msg(0xB0, 0x78, 0));
        EXPECT_TRUE(speakers.BecomesQuiet(1e-4f, 300ms, 5s));
    }
    synth->Close();
}

// JACK tells its clients of every port that comes or goes: a keyboard pulled out is found gone
// at once by a watcher that would otherwise not look for an hour, and one left alone costs it
// nothing.
TEST_F(JackTest, AKeyboardPulledOutIsFoundGoneWithoutAskingAgainAndAgain) {
    auto keyboard = std::make_unique<TestKeyboard>("Told Keyboard");
    const auto lister = JackLister::Connect();
    ASSERT_NE(lister, nullptr);
    const auto listed = [&](bool sending, const std::string& port) {
        const std::vector<std::string> all = lister->MidiPorts(sending);
        for (const SystemPort& entry : MakePortList(all, PortSystem::Jack)) {
            if (all[entry.index] == port) {
                return entry.name;
            }
        }
        return std::string();
    };
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    ASSERT_EQ(OpenJackOutput(listed(false, keyboard->InPortName()), keyboard->InPortName(), out),
              MIDI_OK);
    ASSERT_EQ(OpenJackInput(
                  listed(true, keyboard->OutPortName()), keyboard->OutPortName(),
                  [](MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}, nullptr, in),
              MIDI_OK);
    std::atomic<int> losses{0};
    {
        DeviceWatcher watcher(std::chrono::hours(1));
        watcher.SetLossListener([&] { ++losses; });
        watcher.Watch(out);
        watcher.Watch(in);
        ASSERT_TRUE(watcher.WaitForRound(10s));
        EXPECT_FALSE(out->Gone());
        EXPECT_TRUE(in->StillPresent());
        keyboard->Unplug();
        EXPECT_TRUE(WaitFor([&] { return out->Gone() && !in->StillPresent(); }, 10s));
        EXPECT_GE(losses.load(), 1);
    }
    out->Close();
    in->Close();
}

}  // namespace
