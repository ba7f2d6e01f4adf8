#include "ui/pelorvane_app.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdlib>
#include <cstring>

#include "midi/memory_midi.h"
#include "midi/system_midi.h"
#include "ui/pelorvane_dlg.h"
#include "ui/termination_signals.h"

std::unique_ptr<MidiService> CPelorvaneApp::CreateMidiService() {
    const char* choice = std::getenv("PELORVANE_MIDI");
    if (choice && std::strcmp(choice, "memory") == 0) {
        return std::make_unique<InMemoryMidiService>(
            std::vector<std::string>{"Digital Keyboard-1"},
            std::vector<std::string>{"Digital Keyboard-1"});
    }
    return CreateSystemMidiService();
}

int CPelorvaneApp::InitInstance() {
    std::unique_ptr<MidiService> service = CreateMidiService();
    // Built before any window exists: reads setting.txt and songlist.txt.
    auto window = std::make_unique<CPelorvaneDlg>(*service);

    TerminationSignals terminations([&window](int) { window->RequestClose(); });
    // At logout the session may end the process right after this returns, so everything is
    // stopped and saved here rather than after the window's loop.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, window.get(),
                     [&window](QSessionManager&) {
                         window->RequestClose();
                         window->OnDestroy();
                         window->SaveSettings();
                     });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window.get(),
                     [&window] { window->RequestClose(); });

    window->OnInitDialog();
    if (!window->CloseRequested()) {
        window->exec();
    }
    window->OnDestroy();
    window.reset();  // writes setting.txt
    return 0;
}
