// Closing by a signal, and the About box from the context menu.

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>

#include "ui/about_dlg.h"
#include "ui/control_ids.h"
#include "ui/drag_list_box.h"
#include "ui/termination_signals.h"
#include "ui/track_list_box.h"
#include "ui_test_support.h"

namespace {

class ShutdownTest : public WindowTest {};

TEST_F(ShutdownTest, SigtermWhileASongPlaysSilencesItAndSavesBothFiles) {
    WriteSongList({DemoSong(1)});
    OpenWindow();
    ClickSongRow(0);
    QTest::mouseClick(Control(ids::kMyPaceLesson), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return m_window->Core().CurrentPlayState() == Playing; }));
    m_window->m_trackList->item(2)->setCheckState(Qt::Checked);

    int received = 0;
    TerminationSignals terminations([&](int signal) {
        received = signal;
        m_window->RequestClose();
    });
    ASSERT_TRUE(terminations.IsInstalled());
    m_service.ClearSent();
    std::raise(SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return !m_window->isVisible(); }));
    EXPECT_EQ(received, SIGTERM);

    m_window->OnDestroy();
    const std::vector<uint32_t> sent = m_service.SentShort();
    for (int channel = 0; channel < 16; ++channel) {
        const uint32_t allSoundOff =
            PackShortMessage(static_cast<uint8_t>(0xB0 + channel), 0x78, 0);
        EXPECT_NE(std::find(sent.begin(), sent.end(), allSoundOff), sent.end()) << channel;
    }
    EXPECT_EQ(m_service.OpenOutputCount(), 0);
    EXPECT_EQ(m_service.OpenInputCount(), 0);
    EXPECT_NE(ReadFile("songlist.txt").find("0x0005"), std::string::npos);
    m_window.reset();
    EXPECT_TRUE(FileExists("setting.txt"));
}

// True once the process catches SIGTERM itself (its handler is installed).
bool CatchesSigterm(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (SIGTERM - 1)) & 1u;
        }
    }
    return false;
}

TEST_F(ShutdownTest, TheProgramEndsCleanlyOnSigtermAndSavesBothFiles) {
    WriteSongList({DemoSong(0), DemoSong(2)});
    QProcess program;
    program.setWorkingDirectory(m_dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("PELORVANE_MIDI"), QStringLiteral("memory"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PV_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(WaitFor([&] { return CatchesSigterm(program.processId()); }, 10000));
    // Into the window's loop: a second start hands over to the first and ends once the first
    // has answered, which it does from that loop.
    QProcess second;
    second.setWorkingDirectory(m_dir.path());
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(PV_PROGRAM), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    ASSERT_EQ(second.exitCode(), 0);
    program.terminate();  // SIGTERM
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(ReadFile("setting.txt"),
              "Pelorvane:1.0\r\nInMidiDeviceName:Digital Keyboard-1\r\n"
              "OutMidiDeviceName:Digital Keyboard-1\r\n");
    const std::string songs = ReadFile("songlist.txt");
    EXPECT_NE(songs.find("01_kirakiraboshi.mid"), std::string::npos);
    EXPECT_NE(songs.find("03_kaeru_no_gassho.mid"), std::string::npos);
}

TEST_F(ShutdownTest, ASignalAlsoClosesAnOpenDialogFirst) {
    OpenWindow();
    TerminationSignals terminations([&](int) { m_window->RequestClose(); });
    // The About box as the real window runs it, modal in its own loop.
    bool dialogClosed = false;
    m_window->m_onModal = [&](QDialog& dialog) {
        QTimer::singleShot(50, [] { std::raise(SIGINT); });
        const int result = dialog.exec();
        dialogClosed = true;
        return result;
    };
    m_window->OnAbout();
    EXPECT_TRUE(dialogClosed);
    EXPECT_TRUE(WaitFor([&] { return !m_window->isVisible(); }));
    EXPECT_TRUE(m_window->CloseRequested());
}

TEST_F(ShutdownTest, TheContextMenuOffersAboutAndTheBoxShowsTheVersion) {
    OpenWindow();
    QString entry;
    // The context menu runs modally; read it and close it from the event loop.
    WhenShown menus(WhenShown::PopupMenu, [&](QWidget& shown) {
        auto& menu = static_cast<QMenu&>(shown);
        if (!menu.actions().isEmpty()) {
            entry = menu.actions().first()->text();
            menu.setActiveAction(menu.actions().first());
        }
        QTest::keyClick(&menu, Qt::Key_Return);
    });
    QString version;
    m_window->m_onModal = [&](QDialog& dialog) {
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->text().startsWith(QStringLiteral("Pelorvane"))) {
                version = label->text();
            }
        }
        EXPECT_EQ(dialog.windowTitle().toStdString(), "バージョン情報 Pelorvane");
        return QDialog::Accepted;
    };
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            m_window->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(m_window.get(), &event);
    EXPECT_EQ(entry.toStdString(), "バージョン情報 Pelorvane(&A)...");
    EXPECT_EQ(version.toStdString(), "Pelorvane, Version 1.0");
}

}  // namespace
