// The state file (window place, last song folder), placing the window on the screens there are,
// and the file dialog of the add button.

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/temp_dir.h"
#include "ui/passage_memory.h"
#include "ui/qt_translations.h"
#include "ui/song_file_dialog.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

class UiStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("config/pelorvane/pelorvane.conf"));
    }
    void WriteRaw(const std::string& bytes) {
        QDir().mkpath(QFileInfo(m_file).absolutePath());
        std::ofstream out(m_file.toStdString(), std::ios::binary);
        out << bytes;
    }
    QTemporaryDir m_dir;
    QString m_file;
};

TEST_F(UiStateTest, PlaceAndFolderSurviveARestartAndAGoneFolderIsForgotten) {
    const QString folder = m_dir.filePath(QStringLiteral("曲"));
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        UiState state(m_file);
        EXPECT_FALSE(state.WindowPosition());
        EXPECT_TRUE(state.LastSongFolder().isEmpty());
        state.SetWindowPosition(QPoint(-1200, 35));
        state.SetLastSongFolder(folder);
    }
    UiState again(m_file);
    ASSERT_TRUE(again.WindowPosition());
    EXPECT_EQ(*again.WindowPosition(), QPoint(-1200, 35));
    EXPECT_EQ(again.LastSongFolder(), folder);

    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_TRUE(again.LastSongFolder().isEmpty());
}

TEST_F(UiStateTest, ADamagedFileIsIgnoredAndReplacedAtTheNextSave) {
    // Bytes that are no settings file at all, and values that are no places.
    WriteRaw(std::string("\x00\xff\x7f[window\nx=\x01\n", 14));
    UiState state(m_file);
    EXPECT_FALSE(state.WindowPosition());
    EXPECT_TRUE(state.LastSongFolder().isEmpty());
    state.SetWindowPosition(QPoint(10, 20));
    ASSERT_TRUE(state.WindowPosition());
    EXPECT_EQ(*state.WindowPosition(), QPoint(10, 20));

    WriteRaw("[window]\nx=abc\ny=5\n[songs]\nlastFolder=relative/folder\n");
    EXPECT_FALSE(state.WindowPosition());
    EXPECT_TRUE(state.LastSongFolder().isEmpty());
    WriteRaw("[window]\nx=99999999999\ny=5\n");
    EXPECT_FALSE(state.WindowPosition());
}

TEST_F(UiStateTest, AFileThatIsNoStateIsNeitherReadNorReplaced) {
    const QString folder = QFileInfo(m_file).absolutePath();
    QDir().mkpath(folder);
    const std::string conf = m_file.toStdString();
    const std::string passages = (folder + QStringLiteral("/passages.conf")).toStdString();
    const QString song = QStringLiteral("/曲/a.mid");
    const SongPassage place{1500, LoopSpan{2000, 4000}};

    // A FIFO (reading it would wait for good) and a link to one, in place of a device node.
    ASSERT_EQ(::mkfifo(conf.c_str(), 0644), 0);
    ASSERT_EQ(::symlink(conf.c_str(), passages.c_str()), 0);
    UiState state(m_file);
    PassageMemory memory(QString::fromStdString(passages));
    EXPECT_TRUE(EndsWithoutAPeer(conf, [&] {
        EXPECT_FALSE(state.WindowPosition());
        EXPECT_EQ(memory.Read(song), SongPassage{});
    }));
    EXPECT_TRUE(EndsWithoutAPeer(conf, [&] {
        state.SetWindowPosition(QPoint(10, 20));
        memory.Write(song, place);
    }));
    EXPECT_TRUE(std::filesystem::is_fifo(conf));
    EXPECT_TRUE(std::filesystem::is_symlink(passages));

    // Far larger than any state: not read whole, and not replaced.
    ASSERT_TRUE(QFile::remove(m_file));
    WriteRaw("[window]\nx=5\ny=6\n");
    std::filesystem::resize_file(conf, 2 * 1024 * 1024);
    EXPECT_FALSE(state.WindowPosition());
    state.SetWindowPosition(QPoint(10, 20));
    EXPECT_EQ(std::filesystem::file_size(conf), 2u * 1024u * 1024u);

    // Another song's place in a file that cannot be read is not lost to a write.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(passages)));
    const std::string kept = "[song-0]\npath=/other.mid\nstart=1500\n";
    WriteBytes(passages, kept);
    for (const QString& on : {m_dir.path(), QFileInfo(folder).absolutePath()}) {
        ::chmod(on.toLocal8Bit().constData(), 0755);
    }
    ::chmod(folder.toLocal8Bit().constData(), 0777);
    ::chmod(passages.c_str(), 0602);
    RunAsOrdinaryUser([&] {
        memory.Write(song, place);
        return true;
    });
    EXPECT_EQ(ReadBytes(passages), kept);
}

TEST(PlaceOnScreensTest, AWindowStaysWhereItsTitleCanBeGrabbedElseComesOntoTheNearestScreen) {
    const QRect left(-1920, 0, 1920, 1080);
    const QRect main(0, 0, 2560, 1400);
    const QSize size(600, 500);
    // On a screen, on the left screen, and half off the main one with its title reachable.
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(100, 100), size), {main}), QPoint(100, 100));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(-1000, 50), size), {left, main}), QPoint(-1000, 50));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(2300, 1000), size), {main}), QPoint(2300, 1000));
    // The left screen is gone: onto the main one, at its left edge.
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(-1000, 50), size), {main}), QPoint(0, 50));
    // Far off, title above the top, or only a sliver at the right edge.
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(9000, 9000), size), {main}), QPoint(1960, 900));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(300, -40), size), {main}), QPoint(300, 0));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(2540, 300), size), {main}), QPoint(1960, 300));
    // Nearest of two screens, and a window larger than its screen keeps its corner on it.
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(-3000, 200), size), {left, main}), QPoint(-1920, 200));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(5000, 0), QSize(4000, 3000)), {main}), QPoint(0, 0));
    EXPECT_EQ(PlaceOnScreens(QRect(QPoint(5000, 7), size), {}), QPoint(5000, 7));
}

// Runs the real dialog; check inspects it while it is open and returns the file to choose
// (empty: cancel).
QString RunSongDialog(UiState& state, const std::function<QString(QFileDialog&)>& check) {
    const auto fileDialog = [] {
        return static_cast<QWidget*>(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
    };
    WhenShown dialogs(fileDialog, [&](QWidget& shown) {
        auto& dialog = static_cast<QFileDialog&>(shown);
        const QString choice = check(dialog);
        if (choice.isEmpty()) {
            dialog.reject();
        } else {
            dialog.selectFile(choice);
            QMetaObject::invokeMethod(&dialog, "accept");
        }
    });
    const QString chosen = AskSongFileIn(nullptr, state);
    EXPECT_EQ(dialogs.Count(), 1) << "no file dialog";
    return chosen;
}

TEST_F(UiStateTest, TheFileDialogStartsInTheMusicFolderThenWhereTheLastSongCameFrom) {
    const QString music = m_dir.filePath(QStringLiteral("音楽"));
    const QString songs = m_dir.filePath(QStringLiteral("songs"));
    ASSERT_TRUE(QDir().mkpath(music));
    ASSERT_TRUE(QDir().mkpath(songs));
    QFile song(songs + QStringLiteral("/a.mid"));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    song.close();
    // The desktop's user dirs name the music folder.
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const QString config = m_dir.filePath(QStringLiteral("xdg"));
    QDir().mkpath(config);
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_MUSIC_DIR=\"" + music.toUtf8() + "\"\n");
    dirs.close();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());

    InstallQtTranslations(*QCoreApplication::instance());
    UiState state(m_file);
    QString startedIn;
    QString openText;
    QString chosen = RunSongDialog(state, [&](QFileDialog& dialog) {
        startedIn = dialog.directory().absolutePath();
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            openText += button->text() + QLatin1Char('|');
        }
        return QString();
    });
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(startedIn, music);
    // Qt's own buttons in Japanese.
    EXPECT_TRUE(openText.contains(QStringLiteral("開く"))) << openText.toStdString();
    EXPECT_TRUE(state.LastSongFolder().isEmpty());  // a cancel remembers nothing

    chosen = RunSongDialog(state, [&](QFileDialog& dialog) {
        dialog.setDirectory(songs);
        return songs + QStringLiteral("/a.mid");
    });
    EXPECT_EQ(chosen, songs + QStringLiteral("/a.mid"));
    EXPECT_EQ(state.LastSongFolder(), songs);
    RunSongDialog(state, [&](QFileDialog& dialog) {
        startedIn = dialog.directory().absolutePath();
        return QString();
    });
    EXPECT_EQ(startedIn, songs);

    // Neither a remembered folder nor a music folder: the home folder.
    QDir(music).removeRecursively();
    QDir(songs).removeRecursively();
    EXPECT_EQ(SongDialogStartFolder(state), QDir::homePath());
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

}  // namespace
