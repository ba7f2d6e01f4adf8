// How close to their song times the program's messages reach a JACK port, and whether any is
// lost: plays a song through the same core as the window, to a recording JACK client of this
// program's own that stamps each message with the system clock at its frame (JACK's own
// jack_frames_to_time). Needs a running JACK server (JACK_DEFAULT_SERVER names it).
//   pelorvane-bench-jack-timing [--seconds N] [--load THREADS] [--lesson] [--metronome] [SONG.mid]
// Without a song it plays a generated dense one (about 300 messages a second, a tick a
// millisecond). The error of each message is its arrival less its song time, less the median of
// them all (the fixed latency): printed are its 50th and 99th percentiles and largest size.
// With --lesson it plays the my-pace lesson of a generated song instead, answers each awaited
// chord through a JACK keyboard port of its own (each key at a cycle's first frame, so its time
// is known), and prints the time from the key that completes a chord to the first song message
// after it, both as JACK's clock has them. With --metronome the clicks sound too, and their
// error around the beats is printed beside the song messages' (the same fixed latency taken off).

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../timing/dense_song.h"
#include "engine/click_track.h"
#include "engine/performance.h"
#include "engine/window_core.h"
#include "midi/settings_file.h"
#include "midi/system_midi.h"
#include "smf/meter_map.h"
#include "smf/smf.h"
#include "song/song_entry.h"
#include "song/song_list.h"

namespace {

struct Arrival {
    jack_time_t usecs = 0;
    uint32_t packed = 0;
};

// A JACK client with one MIDI input that keeps every short message with the time of its frame.
class Recorder {
  public:
    Recorder() : m_arrivals(1 << 20) {
        jack_status_t status;
        m_client = jack_client_open("Recorder", JackNoStartServer, &status);
        if (!m_client) {
            return;
        }
        m_port = jack_port_register(m_client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        m_keysPort =
            jack_port_register(m_client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        m_keys = jack_ringbuffer_create(4096);
        jack_set_process_callback(m_client, &Recorder::Process, this);
        jack_activate(m_client);
    }
    ~Recorder() {
        if (m_client) {
            jack_deactivate(m_client);
            jack_client_close(m_client);
            jack_ringbuffer_free(m_keys);
        }
    }
    std::string KeysPortName() const { return jack_port_name(m_keysPort); }
    // Played at the next cycle's first frame; `completes` keeps that frame's time.
    void Key(uint32_t packed, bool completes) {
        const uint32_t item[2] = {packed, completes ? 1u : 0u};
        jack_ringbuffer_write(m_keys, reinterpret_cast<const char*>(item), sizeof(item));
    }
    std::vector<jack_time_t> Completions() const {
        const std::size_t count = std::min(m_completed.load(), m_completions.size());
        return std::vector<jack_time_t>(m_completions.begin(),
                                        m_completions.begin() + static_cast<std::ptrdiff_t>(count));
    }
    bool Ready() const { return m_client && m_port; }
    std::string PortName() const { return jack_port_name(m_port); }
    jack_nframes_t Period() const { return jack_get_buffer_size(m_client); }
    std::vector<Arrival> Arrivals() const {
        const std::size_t count = std::min(m_count.load(), m_arrivals.size());
        return std::vector<Arrival>(m_arrivals.begin(),
                                    m_arrivals.begin() + static_cast<std::ptrdiff_t>(count));
    }

    // Cycles that began more than 2 ms late, and the latest.
    uint64_t LateCycles() const { return m_lateCycles.load(); }
    double LatestCycleMs() const { return double(m_latestCycle.load()) / 1000.0; }

  private:
    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Recorder*>(arg);
        void* buffer = jack_port_get_buffer(self->m_port, frames);
        const jack_nframes_t first = jack_last_frame_time(self->m_client);
        void* keys = jack_port_get_buffer(self->m_keysPort, frames);
        jack_midi_clear_buffer(keys);
        uint32_t item[2];
        while (jack_ringbuffer_read_space(self->m_keys) >= sizeof(item)) {
            jack_ringbuffer_read(self->m_keys, reinterpret_cast<char*>(item), sizeof(item));
            const jack_midi_data_t bytes[3] = {jack_midi_data_t(item[0]),
                                               jack_midi_data_t(item[0] >> 8),
                                               jack_midi_data_t(item[0] >> 16)};
            jack_midi_event_write(keys, 0, bytes, 3);
            const std::size_t at = self->m_completed.load(std::memory_order_relaxed);
            if (item[1] != 0 && at < self->m_completions.size()) {
                self->m_completions[at] = jack_frames_to_time(self->m_client, first);
                self->m_completed.store(at + 1, std::memory_order_release);
            }
        }
        // A cycle that began late stands for the server (or the whole machine) held up, which
        // no client can make up for.
        // (began well after the cycle's time, or well after the cycle before).
        const jack_time_t start = jack_frames_to_time(self->m_client, first);
        const jack_time_t now = jack_get_time();
        const jack_time_t period = jack_frames_to_time(self->m_client, first + frames) - start;
        jack_time_t late = now > start ? now - start : 0;
        if (self->m_lastStart != 0 && start > self->m_lastStart + period) {
            late = std::max(late, start - self->m_lastStart - period);
        }
        self->m_lastStart = start;
        if (late > 2000) {
            self->m_lateCycles.fetch_add(1, std::memory_order_relaxed);
            if (late > self->m_latestCycle.load(std::memory_order_relaxed)) {
                self->m_latestCycle.store(late, std::memory_order_relaxed);
            }
        }
        const uint32_t events = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < events; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0 || event.size > 3) {
                continue;
            }
            uint32_t packed = 0;
            for (std::size_t b = 0; b < event.size; ++b) {
                packed |= uint32_t(event.buffer[b]) << (8 * b);
            }
            const std::size_t at = self->m_count.load(std::memory_order_relaxed);
            if (at < self->m_arrivals.size()) {
                self->m_arrivals[at] = {jack_frames_to_time(self->m_client, first + event.time),
                                        packed};
                self->m_count.store(at + 1, std::memory_order_release);
            }
        }
        return 0;
    }

    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    std::vector<Arrival> m_arrivals;
    std::atomic<std::size_t> m_count{0};
    jack_port_t* m_keysPort = nullptr;
    jack_ringbuffer_t* m_keys = nullptr;
    std::vector<jack_time_t> m_completions = std::vector<jack_time_t>(1 << 16);
    std::atomic<std::size_t> m_completed{0};
    jack_time_t m_lastStart = 0;
    std::atomic<uint64_t> m_lateCycles{0};
    std::atomic<jack_time_t> m_latestCycle{0};
};

class BenchHost : public CoreHost {
  public:
    int SelectedSongRow() override { return 0; }
    int SpeedSliderPosition() override { return 3; }  // x1.0
    void LightModeLed(int) override {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

// Every channel message of the song with its time in milliseconds, in the order they are due.
std::multimap<uint32_t, uint32_t> SongMessages(const smf::Song& song) {
    std::multimap<uint32_t, uint32_t> messages;
    for (const smf::Track& track : song.Tracks()) {
        for (const smf::Event& event : track.events) {
            if (event.kind < 0x80 || event.kind > 0xEF) {
                continue;
            }
            const uint8_t* data = song.Data(event);
            uint32_t packed = 0;
            for (uint32_t b = 0; b < event.length && b < 3; ++b) {
                packed |= uint32_t(data[b]) << (8 * b);
            }
            messages.emplace(song.TickToMs(event.tick), packed);
        }
    }
    return messages;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, std::size_t(fraction * values.size()));
    return values[at];
}

// Answers each awaited chord like a player: its keys one after the other, then let go.
void AnswerChords(CPelorvaneCore& core, Recorder& keyboard) {
    std::mt19937 rng(99);
    while (core.CurrentPlayState() != Stopped) {
        std::vector<int> keys;
        {
            CheckedLock lock(core.Session().PlayLock());
            const Performance* p = core.Session().CurrentPerformance();
            if (p && p->Waiting()) {
                const Chord& awaited = p->GetLesson().AwaitedChord();
                for (int s = 0; s < awaited.count; ++s) {
                    if (awaited.index[s] != Chord::kPlayed) {
                        keys.push_back(p->GetTimeline()[awaited.index[s]].data1);
                    }
                }
            }
        }
        if (keys.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + rng() % 30));
        for (std::size_t i = 0; i < keys.size(); ++i) {
            keyboard.Key(PackShortMessage(0x90, static_cast<uint8_t>(keys[i]), 100),
                         i + 1 == keys.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        for (int key : keys) {
            keyboard.Key(PackShortMessage(0x80, static_cast<uint8_t>(key), 0), false);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t seconds = 20;
    int loadThreads = 0;
    bool lesson = false;
    bool metronome = false;
    std::string songPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = static_cast<uint32_t>(std::max(1L, std::strtol(argv[++i], nullptr, 10)));
        } else if (arg == "--load" && i + 1 < argc) {
            loadThreads = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--lesson") {
            lesson = true;
        } else if (arg == "--metronome") {
            metronome = true;
        } else if (!arg.empty() && arg[0] != '-') {
            songPath = arg;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--load THREADS] [--lesson] [--metronome] "
                         "[SONG.mid]\n",
                         argv[0]);
            return 2;
        }
    }
    Recorder recorder;
    if (!recorder.Ready()) {
        std::fprintf(stderr, "no JACK server (JACK_DEFAULT_SERVER names one)\n");
        return 1;
    }
    char pattern[] = "/tmp/pelorvane-jack-timing-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;
    if (songPath.empty()) {
        songPath = folder + "/dense.mid";
        const std::vector<uint8_t> bytes = GenerateDenseSong(seconds, lesson);
        std::ofstream(songPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    const std::unique_ptr<smf::Song> song = smf::LoadFromFile(songPath);
    if (!song) {
        std::fprintf(stderr, "cannot read %s\n", songPath.c_str());
        return 1;
    }
    SaveSettingsFile(folder + "/" + kSettingsFileName, lesson ? recorder.KeysPortName() : "",
                     recorder.PortName());

    std::atomic<bool> stopLoad{false};
    std::vector<std::thread> load;
    for (int i = 0; i < loadThreads; ++i) {
        load.emplace_back([&] {
            while (!stopLoad.load(std::memory_order_relaxed)) {
            }
        });
    }
    {
        auto service = CreateSystemMidiService();
        BenchHost host;
        CPelorvaneCore core(*service, host, folder);
        if (AddSong(core.Songs(), songPath) != SONG_OK) {
            std::fprintf(stderr, "cannot add %s\n", songPath.c_str());
            return 1;
        }
        core.OpenMidiDevices();
        core.SetMetronome(metronome);
        core.StartClockThread();
        if (lesson) {
            core.Songs().m_entries[0].m_channels[0].m_practice = 1;
            core.StartPlay(PlayMode::MyPaceLesson);
            AnswerChords(core, recorder);
        } else {
            core.StartPlay(PlayMode::ModelPerformance);
        }
        while (core.CurrentPlayState() != Stopped) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            core.CheckDevices();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        core.ShutDown();
    }
    stopLoad.store(true);
    for (std::thread& thread : load) {
        thread.join();
    }
    std::filesystem::remove_all(folder);

    if (lesson) {
        // From each completing key to the first of the song's messages after it.
        const std::multimap<uint32_t, uint32_t> songMessages = SongMessages(*song);
        std::vector<uint32_t> songBytes;
        for (const auto& entry : songMessages) {
            songBytes.push_back(entry.second);
        }
        std::sort(songBytes.begin(), songBytes.end());
        const std::vector<Arrival> arrivals = recorder.Arrivals();
        std::vector<double> response;
        std::size_t from = 0;
        for (jack_time_t pressed : recorder.Completions()) {
            while (from < arrivals.size() && arrivals[from].usecs < pressed) {
                ++from;
            }
            std::size_t i = from;
            while (i < arrivals.size() &&
                   !std::binary_search(songBytes.begin(), songBytes.end(), arrivals[i].packed)) {
                ++i;
            }
            if (i < arrivals.size()) {
                response.push_back(double(arrivals[i].usecs - pressed) / 1000.0);
            }
        }
        std::printf(
            "period %u frames: lesson response p50 %.3f ms, p99 %.3f ms, max %.3f ms, "
            "%zu chords\n",
            recorder.Period(), Percentile(response, 0.5), Percentile(response, 0.99),
            response.empty() ? 0.0 : *std::max_element(response.begin(), response.end()),
            response.size());
        return 0;
    }
    // The k-th arrival of a message is the k-th time the song has it.
    const std::multimap<uint32_t, uint32_t> expected = SongMessages(*song);
    std::map<uint32_t, std::vector<uint32_t>> timesOf;
    for (const auto& [ms, packed] : expected) {
        timesOf[packed].push_back(ms);
    }
    // The clicks as they are sent; a song message that happens to be the same is left out of
    // both counts, so that neither is mistaken for the other.
    const uint32_t clickMessages[] = {
        PackShortMessage(0x90 | ClickTrack::kChannel, ClickTrack::kAccentKey,
                         ClickTrack::kAccentVelocity),
        PackShortMessage(0x90 | ClickTrack::kChannel, ClickTrack::kBeatKey,
                         ClickTrack::kBeatVelocity)};
    const auto isClick = [&](uint32_t packed) {
        return metronome && (packed == clickMessages[0] || packed == clickMessages[1]);
    };
    std::size_t expectedCount = expected.size();
    std::vector<double> songTimesOfClicks;  // the song's own messages that look like clicks
    for (const uint32_t click : clickMessages) {
        if (metronome && timesOf.count(click) != 0) {
            expectedCount -= timesOf[click].size();
            songTimesOfClicks.insert(songTimesOfClicks.end(), timesOf[click].begin(),
                                     timesOf[click].end());
            timesOf.erase(click);
        }
    }
    std::map<uint32_t, std::size_t> seen;
    std::vector<double> offsets;  // arrival less song time, ms
    for (const Arrival& arrival : recorder.Arrivals()) {
        auto it = timesOf.find(arrival.packed);
        if (it == timesOf.end()) {
            continue;  // not the song's: resets, key lights
        }
        const std::size_t k = seen[arrival.packed]++;
        if (k < it->second.size()) {
            offsets.push_back(double(arrival.usecs) / 1000.0 - it->second[k]);
        }
    }
    const double median = Percentile(offsets, 0.5);
    std::vector<double> errors;
    for (double offset : offsets) {
        errors.push_back(std::fabs(offset - median));
    }
    std::printf(
        "period %u frames: %zu of %zu song messages arrived; error around the ideal time: "
        "p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
        recorder.Period(), offsets.size(), expectedCount, Percentile(errors, 0.5),
        Percentile(errors, 0.99),
        errors.empty() ? 0.0 : *std::max_element(errors.begin(), errors.end()));
    if (metronome) {
        // Each click against the beat nearest to it once the fixed latency is taken off: the
        // beats lie far further apart than any error worth measuring.
        Player player;
        Lesson noLesson;
        ClickTrack clicks(player, noLesson);
        clicks.Build(smf::MeterMap(*song));
        std::vector<double> beats;
        uint32_t songEnd = 0;
        for (const auto& entry : expected) {
            songEnd = std::max(songEnd, entry.first);
        }
        for (const ClickTrack::Beat& beat : clicks.Beats()) {
            if (beat.ms <= songEnd) {
                beats.push_back(beat.ms);
            }
        }
        std::vector<double> clickErrors;
        for (const Arrival& arrival : recorder.Arrivals()) {
            if (!isClick(arrival.packed) || beats.empty()) {
                continue;
            }
            const double at = double(arrival.usecs) / 1000.0 - median;
            const auto nearest = [at](const std::vector<double>& times) {
                double best = 1e9;
                for (const double t : times) {
                    best = std::min(best, std::fabs(t - at));
                }
                return best;
            };
            const double error = nearest(beats);
            if (nearest(songTimesOfClicks) < error) {
                continue;  // the song's own
            }
            clickErrors.push_back(error);
        }
        std::printf(
            "%zu of %zu clicks arrived; error around the beat: p50 %.3f ms, p99 %.3f ms, "
            "max %.3f ms\n",
            clickErrors.size(), beats.size(), Percentile(clickErrors, 0.5),
            Percentile(clickErrors, 0.99),
            clickErrors.empty() ? 0.0 : *std::max_element(clickErrors.begin(), clickErrors.end()));
    }
    std::printf("%lu cycles began more than 2 ms late, the latest by %.1f ms\n",
                static_cast<unsigned long>(recorder.LateCycles()), recorder.LatestCycleMs());
    return offsets.size() == expectedCount ? 0 : 3;
}
