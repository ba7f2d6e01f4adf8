#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/performance.h"
#include "engine/window_core.h"
#include "midi/memory_midi.h"
#include "midi_file_writer/smf_writer.h"
#include "platform/debug_output.h"

// Packs a short message the way the output records it.
inline uint32_t Msg(int status, int data1, int data2) {
    return PackShortMessage(static_cast<uint8_t>(status), static_cast<uint8_t>(data1),
                            static_cast<uint8_t>(data2));
}

// The 128 Note On messages with velocity 0 on MIDI channel 1 that darken every key.
std::vector<uint32_t> AllKeysDark();
// All Sound Off and Reset All Controllers on each channel.
std::vector<uint32_t> SilenceAll();
std::vector<uint32_t> Concat(std::initializer_list<std::vector<uint32_t>> parts);

// Collects the debug lines written while it lives.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    std::vector<std::string> Lines();
};

// A fresh folder for the core's text files, removed afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// One in-memory output opened for a bare Performance.
struct RecordingOutput {
    InMemoryMidiService service{{"In"}, {"Out"}};
    std::shared_ptr<MidiOut> out;
    RecordingOutput() { service.OpenOutput(0, out); }
};

// A fake window for the core: the selected row, the slider, the LEDs and the messages are plain
// fields.
class FakeHost : public CoreHost {
  public:
    int SelectedSongRow() override { return m_selectedRow.load(); }
    int SpeedSliderPosition() override { return m_slider.load(); }
    void LightModeLed(int index) override { m_leds.push_back(index); }
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }

    std::atomic<int> m_selectedRow{-1};
    std::atomic<int> m_slider{3};
    std::vector<int> m_leds;
    std::vector<std::string> m_messages;
};

// The window core over a fake window of its own, which is built before it and goes after it.
class TestCore : public FakeHost, public CPelorvaneCore {
  public:
    TestCore(MidiService& service, const std::string& dir)
        : CPelorvaneCore(service, static_cast<FakeHost&>(*this), dir) {}

    // Appends a loaded song (the list takes it over) with these practice channels and selects it.
    int AddLoadedSong(std::unique_ptr<smf::Song> song, uint32_t practiceMask = 1);
    // A message from the input device, as its callback brings it: the callback's instance is the
    // play session.
    void FromInput(uint32_t message) {
        PlaySession::MidiInProc(nullptr, kMimData, &Session(), message, 0);
    }
};
