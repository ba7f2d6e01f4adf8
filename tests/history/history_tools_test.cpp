// pelorvane-history prints what the window and pelorvane-play --record stored, also when both
// write at the same time, and only ever reads the file.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "history/practice_database.h"
#include "history/practice_migrations.h"
#include "history_test_files.h"

namespace {

class ToolsTest : public history_test::HistoryHome {
  protected:
    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path());
        return env;
    }
    QStringList History(const QString& file) {
        QProcess p;
        p.setProcessEnvironment(Env());
        p.start(PV_HISTORY_TOOL, {file});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    // The tool's exit code and what it wrote to stderr, with every write past fileLimit bytes
    // failing as on a full disk.
    std::pair<int, QString> Failing(rlim_t fileLimit = RLIM_INFINITY) {
        QProcess p;
        p.setProcessEnvironment(Env());
        p.setChildProcessModifier([fileLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileLimit, fileLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(PV_HISTORY_TOOL, {song});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
    QString File() const { return QDir(folder).filePath("practice.sqlite"); }
};

TEST_F(ToolsTest, HistoryPrintsEachRunOnALineOldestFirst) {
    EXPECT_TRUE(History(song).isEmpty());  // no history yet, and none made by asking
    EXPECT_FALSE(QFile::exists(QDir(folder).filePath("practice.sqlite")));
    {
        PracticeDatabase db(folder);
        StoredRun lesson;
        lesson.songPath = song;
        lesson.started = QDateTime(QDate(2026, 12, 9), QTime(1, 20, 5), Qt::UTC);
        lesson.mode = "lesson";
        lesson.speed = 80;
        lesson.firstBar = 2;
        lesson.lastBar = 5;
        lesson.chords = 14;
        lesson.waitP50 = 310;
        lesson.wrong = 3;
        lesson.hand = "left";
        StoredRun accompaniment;
        accompaniment.songPath = song;
        accompaniment.started = QDateTime(QDate(2026, 12, 8), QTime(23, 0), Qt::UTC);
        accompaniment.mode = "accompaniment";
        accompaniment.speed = 120;
        accompaniment.lastBar = 12;
        accompaniment.notes = 48;
        accompaniment.hit = 40;
        accompaniment.missed = 8;
        accompaniment.extra = 5;
        ASSERT_TRUE(db.Store(lesson));
        ASSERT_TRUE(db.Store(accompaniment));
    }
    // Asked by a relative name, from the song's folder.
    QProcess p;
    p.setProcessEnvironment(Env());
    p.setWorkingDirectory(home.path());
    p.start(PV_HISTORY_TOOL, {"kirakira.mid"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              "run 2026-12-08T23:00:00Z accompaniment 120 bars=1-12 notes=48 hit=40 missed=8 "
              "extra=5 chords=0 wait_p50=0 wrong=0 hand=both\n"
              "run 2026-12-09T01:20:05Z lesson 80 bars=2-5 notes=0 hit=0 missed=0 extra=0 "
              "chords=14 wait_p50=310 wrong=3 hand=left\n");
}

TEST_F(ToolsTest, PlayRecordsItsRunsWhileTheWindowWritesToo) {
    QProcess play;
    play.setProcessEnvironment(Env());
    play.start(PV_PLAY_TOOL, {"--record", "--mode", "accompaniment", "--practice", "1", "--speed",
                              "120", "--loop", "1-1", "--repeat", "2", "--hand", "right", song});
    ASSERT_TRUE(play.waitForStarted(10000));
    // The window's writes, as fast as they come, for as long as the tool plays.
    int written = 0;
    {
        PracticeDatabase window(folder);
        while (play.state() != QProcess::NotRunning || written == 0) {
            StoredRun r;
            r.songPath = song;
            r.started = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).addSecs(written);
            r.mode = "lesson";
            ASSERT_TRUE(window.Store(r));
            ++written;
            play.waitForFinished(5);
        }
        EXPECT_TRUE(window.TakeMessage().isEmpty());
    }
    ASSERT_EQ(play.exitCode(), 0) << play.readAllStandardError().toStdString();
    const QStringList lines = History(song);
    ASSERT_EQ(lines.size(), written + 2);
    // The tool's two passes of bar 1 come last; nobody played, so every note was missed.
    const QRegularExpression pass(
        "^run \\S+Z accompaniment 120 bars=1-1 notes=(\\d+) hit=0 missed=(\\d+) extra=0 "
        "chords=0 wait_p50=0 wrong=0 hand=right$");
    for (int i = written; i < written + 2; ++i) {
        const QRegularExpressionMatch m = pass.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_GT(m.captured(1).toInt(), 0);
        EXPECT_EQ(m.captured(1), m.captured(2));
    }
    EXPECT_TRUE(QDir(folder).entryList({"practice.sqlite.aside-*"}).isEmpty());
    // Nothing played, so no take was kept: asked for one, the tool says so and writes nothing.
    QProcess exportTake;
    exportTake.setProcessEnvironment(Env());
    const QString out = QDir(home.path()).filePath("take.mid");
    exportTake.start(PV_HISTORY_TOOL,
                     {song, "--take", QString::number(written + 1), "--export", out});
    ASSERT_TRUE(exportTake.waitForFinished(30000));
    EXPECT_EQ(exportTake.exitCode(), 1);
    EXPECT_TRUE(exportTake.readAllStandardError().contains("has no take"));
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(ToolsTest, HistoryOnlyReadsAndSaysWhenItCannot) {
    using history_test::AsideFiles;
    using history_test::Bytes;
    // A file of the first schema is read as it is, not brought forward.
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        history_test::OtherConnection old(File());
        QSqlDatabase db = old.Database();
        ASSERT_TRUE(MigratePracticeSchema(db, 1));
        ASSERT_TRUE(old.Exec(QString("INSERT INTO songs (path) VALUES ('%1')").arg(song)));
        ASSERT_TRUE(old.Exec(
            "INSERT INTO runs (song_id, started, mode, speed, bar_first, bar_last, duration_ms, "
            "notes, hit, missed, extra, chords, wait_p50, wrong) VALUES (1, "
            "'2026-11-30T09:00:00Z', 'lesson', 90, 1, 8, 16000, 0, 0, 0, 0, 12, 200, 1)"));
    }
    const QByteArray first = Bytes(File());
    EXPECT_EQ(History(song),
              QStringList{"run 2026-11-30T09:00:00Z lesson 90 bars=1-8 notes=0 hit=0 missed=0 "
                          "extra=0 chords=12 wait_p50=200 wrong=1 hand=both"});
    EXPECT_EQ(Bytes(File()), first);

    // A full disk: nothing is moved, the failure is said and the exit code shows it.
    QFile::remove(File());
    {
        PracticeDatabase db(folder);
        StoredRun r;
        r.songPath = song;
        r.started = QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
        r.mode = "lesson";
        for (int i = 0; i < 60; ++i) {
            r.started = r.started.addSecs(60);
            ASSERT_TRUE(db.Store(r));
        }
    }
    const QByteArray whole = Bytes(File());
    const auto [fullCode, fullSaid] = Failing(0);
    EXPECT_NE(fullCode, 0);
    EXPECT_TRUE(fullSaid.contains("pelorvane-history: ")) << fullSaid.toStdString();
    EXPECT_EQ(Bytes(File()), whole);
    EXPECT_TRUE(AsideFiles(folder).isEmpty());

    // Damaged run pages: said, not shown as an empty history, and the file left as it is.
    ASSERT_TRUE(history_test::DamageRun(File(), "2026-12-01T08:01:00Z"));
    const QByteArray damaged = Bytes(File());
    const auto [code, said] = Failing();
    EXPECT_NE(code, 0);
    EXPECT_TRUE(said.contains("壊れています")) << said.toStdString();
    EXPECT_EQ(Bytes(File()), damaged);
    EXPECT_TRUE(AsideFiles(folder).isEmpty());
}

}  // namespace
