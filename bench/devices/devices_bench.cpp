// pelorvane-bench-devices [ROUNDS]: how long listing the MIDI devices and opening one input and
// one output by name takes with a JACK server running, as at every start of the program. Without
// a running server it starts a private one (dummy backend) for the run and stops it afterwards.
// A stand-in keyboard (one JACK client with an input and an output port) gives it a device of
// each kind to open.

#include <fcntl.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "midi/device_opening.h"
#include "midi/system_midi.h"
#include "platform/message_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

void Quiet(const char*) {}

bool ServerRuns() {
    jack_status_t status;
    jack_client_t* client = jack_client_open("bench-probe", JackNoStartServer, &status);
    if (!client) {
        return false;
    }
    jack_client_close(client);
    return true;
}

pid_t StartPrivateServer() {
    std::string name = "pelorvane-bench-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("jackd", "jackd", "-r", "-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p",
               "256", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (ServerRuns()) {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
}

class StderrSink : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        ++failures;
    }
    int failures = 0;
};

void IgnoreInput(MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%s p50=%.1f max=%.1f ms\n", what, values[values.size() / 2], values.back());
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    jack_set_error_function(&Quiet);
    jack_set_info_function(&Quiet);
    pid_t server = -1;
    if (!ServerRuns()) {
        server = StartPrivateServer();
        if (server < 0) {
            std::fprintf(stderr, "no JACK server runs and none could be started\n");
            return 1;
        }
    }
    int result = 0;
    {
        RtMidiIn keyboardOut(RtMidi::UNIX_JACK, "Bench Keyboard");
        RtMidiOut keyboardIn(RtMidi::UNIX_JACK, "Bench Keyboard");
        keyboardOut.openVirtualPort("keys-in");
        keyboardIn.openVirtualPort("keys-out");

        std::vector<double> listing, opening, closing, total;
        for (int round = 0; round < rounds; ++round) {
            auto start = Clock::now();
            // A new service each round, as at the start of the program.
            auto service = CreateSystemMidiService();
            auto inputs = service->InputNames();
            auto outputs = service->OutputNames();
            auto listed = Clock::now();
            std::string inName = "Bench Keyboard:keys-out";
            std::string outName = "Bench Keyboard:keys-in";
            std::shared_ptr<MidiOut> out;
            std::shared_ptr<MidiIn> in;
            StderrSink sink;
            OpenDevicesByName(*service, inName, outName, out, in, &IgnoreInput, nullptr, sink);
            auto opened = Clock::now();
            CloseDevices(out, in);
            service.reset();
            auto closed = Clock::now();
            if (sink.failures != 0 || inputs.empty() || outputs.size() < 2) {
                std::fprintf(stderr, "round %d: the stand-in keyboard was not opened\n", round);
                result = 1;
                break;
            }
            listing.push_back(Ms(listed - start));
            opening.push_back(Ms(opened - listed));
            closing.push_back(Ms(closed - opened));
            total.push_back(Ms(opened - start));
        }
        if (result == 0) {
            Report("list", listing);
            Report("open both", opening);
            Report("close both", closing);
            std::printf(
                "devices list+open p50=%.1f max=%.1f ms rounds=%d\n",
                [&] {
                    auto v = total;
                    std::sort(v.begin(), v.end());
                    return v[v.size() / 2];
                }(),
                *std::max_element(total.begin(), total.end()), rounds);
        }
    }
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return result;
}
