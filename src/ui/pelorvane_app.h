#pragma once

#include <memory>

class MidiService;

// Runs the program: the main window, modal, for the whole life of the process.
class CPelorvaneApp {
  public:
    // Returns the process exit code once the main window has closed and its state is saved.
    int InitInstance();

    // The MIDI service to use: the system's, or with PELORVANE_MIDI=memory an in-memory one
    // with an input and an output device named "Digital Keyboard-1" (for trying the window
    // without any MIDI hardware; nothing sounds).
    static std::unique_ptr<MidiService> CreateMidiService();
};
