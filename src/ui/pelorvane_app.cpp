#include "ui/pelorvane_app.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSessionManager>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "midi/memory_midi.h"
#include "midi/system_midi.h"
#include "song/song_list.h"
#include "ui/pelorvane_dlg.h"
#include "ui/single_instance.h"
#include "ui/song_arrivals.h"
#include "ui/termination_signals.h"
#include "ui/ui_state.h"

namespace {

constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 40;
constexpr int kBottomFrame = 8;  // of the height allowance, what lies under the client area

// The size of a window that may be maximized: the one it returns to.
QSize NormalSize(const QWidget& window) {
    return window.isMaximized() || window.isFullScreen() ? window.normalGeometry().size()
                                                         : window.size();
}

void RememberWindow(const QWidget& window, UiState& state) {
    state.SetWindowPosition(window.pos());
    state.SetWindowSize(NormalSize(window));
}

void PlaceWindow(CPelorvaneDlg& window, const UiState& state) {
    if (const std::optional<QSize> size = state.WindowSize()) {
        window.resize(size->expandedTo(window.minimumSize()));
    } else if (const QScreen* screen = window.screen()) {
        // The first start: room for the falling notes, as far as the screen has it.
        const QRect area = screen->availableGeometry();
        const QSize allowance(kFrameAllowanceWidth, kFrameAllowanceHeight);
        window.resize(window.FirstStartSize(area.size() - allowance));
        if (!state.WindowPosition()) {
            // So tall a window is placed whole, title bar included. Its client area is placed,
            // not its frame: once a message has been shown over it, the window exists already
            // and a frame position would be taken for the client's, the title off the screen.
            const QSize frame = window.size() + allowance;
            const QPoint client(kFrameAllowanceWidth / 2, kFrameAllowanceHeight - kBottomFrame);
            window.setGeometry(QRect(area.topLeft() + client +
                                         QPoint(std::max(0, (area.width() - frame.width()) / 2),
                                                std::max(0, (area.height() - frame.height()) / 2)),
                                     window.size()));
            return;
        }
    }
    const std::optional<QPoint> saved = state.WindowPosition();
    if (!saved) {
        return;  // the window manager chooses
    }
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    // Before the first show the frame is not known yet; allow for a usual title bar and border.
    QSize frame = window.frameGeometry().size();
    if (frame == window.size()) {
        frame += QSize(kFrameAllowanceWidth, kFrameAllowanceHeight);
    }
    window.move(PlaceOnScreens(QRect(*saved, frame), screens));
}

void BringToFront(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

// Files handed over just as the window closed: added to the list that is about to be saved,
// so that they are not lost; their load errors can only be reported on standard error.
void AddWithoutWindow(CPelorvaneDlg& window, const std::vector<QStringList>& batches) {
    for (const QStringList& files : batches) {
        for (const QString& file : files) {
            const int result = AddSong(window.Core().Songs(), file.toStdString());
            if (result != SONG_OK && result != SONG_ALREADY_LISTED) {
                std::fprintf(stderr, "pelorvane: cannot add %s (error %d)\n",
                             file.toLocal8Bit().constData(), result);
            }
        }
    }
}

}  // namespace

std::unique_ptr<MidiService> CPelorvaneApp::CreateMidiService() {
    const char* choice = std::getenv("PELORVANE_MIDI");
    if (choice && std::strcmp(choice, "memory") == 0) {
        auto service =
            std::make_unique<InMemoryMidiService>(std::vector<std::string>{"Digital Keyboard-1"},
                                                  std::vector<std::string>{"Digital Keyboard-1"});
        service->SendThroughSender(true);  // as the system's outputs
        return service;
    }
    return CreateSystemMidiService();
}

int CPelorvaneApp::InitInstance(const QStringList& files) {
    // Before the files are read: a second copy in this folder would overwrite the first's.
    SingleInstance instance(QDir::currentPath());
    switch (instance.Start(files)) {
        case SingleInstance::Role::HandedOver:
            return 0;
        case SingleInstance::Role::Failed:
            std::fprintf(stderr, "pelorvane: %s\n", instance.ErrorText().toLocal8Bit().constData());
            return 1;
        case SingleInstance::Role::Primary:
            break;
    }

    std::unique_ptr<MidiService> service = CreateMidiService();
    // Built before any window exists: reads setting.txt and songlist.txt.
    auto window = std::make_unique<CPelorvaneDlg>(*service);
    window->SetPassageMemory(PassageMemory(PassageMemory::DefaultPath()));
    UiState state;
    window->SetViewState(state);

    SongArrivals arrivals(*window,
                          [&window](const QStringList& paths) { window->OnDropFiles(paths); });
    QObject::connect(&instance, &SingleInstance::FilesReceived, window.get(),
                     [&window, &arrivals](const QStringList& paths) {
                         // Before its first show (start-up messages) the window is placed
                         // and shown by the start itself.
                         if (!window->CloseRequested() && window->isVisible()) {
                             BringToFront(*window);
                         }
                         arrivals.Add(paths);
                     });

    TerminationSignals terminations([&window](int) { window->RequestClose(true); });
    // At logout the session may end the process right after this returns, so everything is
    // stopped and saved here rather than after the window's loop.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, window.get(),
                     [&window, &instance, &arrivals, &state](QSessionManager&) {
                         if (window->isVisible()) {
                             RememberWindow(*window, state);
                         }
                         window->RequestClose(true);
                         instance.StopListening();
                         AddWithoutWindow(*window, arrivals.TakePending());
                         window->OnDestroy();
                         window->Core().SaveSettings();
                     });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window.get(),
                     [&window] { window->RequestClose(); });
    QObject::connect(window.get(), &QDialog::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window->OnInitDialog();
    if (!window->CloseRequested()) {
        PlaceWindow(*window, state);
        window->show();
        arrivals.Add(files);
        QApplication::exec();
        RememberWindow(*window, state);
    }
    instance.StopListening();
    AddWithoutWindow(*window, arrivals.TakePending());
    window->OnDestroy();
    window.reset();  // writes setting.txt
    return 0;
}
