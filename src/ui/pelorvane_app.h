#pragma once

#include <QStringList>
#include <memory>

class MidiService;

// Runs the program: the main window for the whole life of the process, one copy per working
// folder.
class CPelorvaneApp {
  public:
    // files: songs to add as if dropped on the window. Returns the process exit code once the
    // main window has closed and its state is saved, or at once when another copy in the same
    // working folder took the files.
    int InitInstance(const QStringList& files = {});

    // The MIDI service to use: the system's, or with PELORVANE_MIDI=memory an in-memory one
    // with an input and an output device named "Digital Keyboard-1" (for trying the window
    // without any MIDI hardware; nothing sounds).
    static std::unique_ptr<MidiService> CreateMidiService();
};
