// The practice history under attack: another writer holding the file, a full disk, a file of a
// newer version, damaged pages, a file that is no database, a folder where none can be made.
// Only damage moves the learner's file; nothing else loses a run or repeats a message.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include "history/practice_database.h"
#include "history_test_files.h"

namespace {

using namespace history_test;

StoredRun RunAt(const QString& song, int minute) {
    StoredRun r;
    r.songPath = song;
    r.started = QDateTime(QDate(2026, 12, 4), QTime(19, minute), Qt::UTC);
    r.mode = QStringLiteral("lesson");
    r.chords = minute;
    return r;
}

class HistoryFaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = dir.filePath("pelorvane");
        song = dir.filePath("song.mid");
        ASSERT_TRUE(WriteBytes(song, "MThd a song"));
    }
    QString File() const { return QDir(folder).filePath("practice.sqlite"); }
    // A history of weeks of work, closed.
    void Practise(int runs) {
        PracticeDatabase db(folder);
        for (int i = 0; i < runs; ++i) {
            ASSERT_TRUE(db.Store(RunAt(song, i)));
        }
    }
    size_t StoredRuns() {
        PracticeDatabase db(folder, 2000, HistoryAccess::ReadOnly);
        return db.RunsOf(song).size();
    }
    QTemporaryDir dir;
    QString folder;
    QString song;
};

TEST_F(HistoryFaultsTest, AnotherWriterPastTheBusyTimeoutDelaysTheRunButLosesNothing) {
    // The other program in either journal mode: in its own, it cannot even be switched to ours.
    for (const char* mode : {"WAL", "DELETE"}) {
        SCOPED_TRACE(mode);
        folder = dir.filePath(mode);
        Practise(3);
        OtherConnection other(File());
        ASSERT_TRUE(other.Exec(QString("PRAGMA journal_mode=%1").arg(mode)));
        ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
        ASSERT_TRUE(
            other.Exec("INSERT INTO runs (song_id, started, mode, speed, bar_first, "
                       "bar_last, duration_ms, notes, hit, missed, extra, chords, "
                       "wait_p50, wrong) VALUES (1, '2026-12-05T00:00:00Z', 'other', 100, "
                       "1, 1, 0, 0, 0, 0, 0, 0, 0, 0)"));

        PracticeDatabase db(folder, 50);
        EXPECT_FALSE(db.Store(RunAt(song, 10)));
        EXPECT_EQ(db.PendingCount(), 1u);
        EXPECT_TRUE(db.TakeMessage().isEmpty());
        EXPECT_TRUE(AsideFiles(folder).isEmpty());

        ASSERT_TRUE(other.Exec("COMMIT"));
        EXPECT_TRUE(db.StorePending());
        EXPECT_EQ(db.RunsOf(song).size(), 5u);  // ours, the other program's and the 3 before

        // Still held when the window closes: waited for, then told once, the file untouched.
        ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
        EXPECT_FALSE(db.Store(RunAt(song, 11)));
        EXPECT_FALSE(db.Settle(120));
        const QString told = db.TakeMessage();
        EXPECT_TRUE(told.contains("1 回分の練習を記録できませんでした")) << told.toStdString();
        EXPECT_TRUE(db.Settle(120));
        EXPECT_TRUE(db.TakeMessage().isEmpty());
        ASSERT_TRUE(other.Exec("ROLLBACK"));
        EXPECT_EQ(db.RunsOf(song).size(), 5u);
        EXPECT_TRUE(AsideFiles(folder).isEmpty());
    }
}

TEST_F(HistoryFaultsTest, AFullDiskKeepsTheRunUntilThereIsRoomAndNeverMovesTheFile) {
    Practise(1);
    // The limit on writes belongs to a child process (this binary started again).
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--store-on-a-full-disk", folder, song});
    ASSERT_TRUE(child.waitForFinished(30000));
    ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "stored 0 kept 1");
    EXPECT_EQ(lines[1], "message ");
    EXPECT_EQ(lines[2], "stored later 1");
    EXPECT_EQ(lines[3], "settled 0");
    EXPECT_TRUE(lines[4].contains("1 回分の練習を記録できませんでした")) << lines[4].toStdString();
    EXPECT_TRUE(AsideFiles(folder).isEmpty());
    EXPECT_EQ(StoredRuns(), 2u);
}

TEST_F(HistoryFaultsTest, AFileOfANewerVersionIsLeftAsItIsAndSaidSoOnce) {
    Practise(2);
    {
        OtherConnection newer(File());
        ASSERT_TRUE(newer.Exec("PRAGMA user_version = 99"));
    }
    const QByteArray before = Bytes(File());
    {
        PracticeDatabase db(folder);
        EXPECT_FALSE(db.Store(RunAt(song, 5)));
        const QString told = db.TakeMessage();
        EXPECT_TRUE(told.contains("新しい版の Pelorvane")) << told.toStdString();
        EXPECT_EQ(db.PendingCount(), 0u);  // as told: not recorded
        EXPECT_FALSE(db.Store(RunAt(song, 6)));
        bool read = true;
        EXPECT_TRUE(db.RunsOf(song, &read).empty());
        EXPECT_FALSE(read);
        EXPECT_TRUE(db.TakeMessage().isEmpty());
    }
    {
        PracticeDatabase reader(folder, 2000, HistoryAccess::ReadOnly);
        bool read = true;
        reader.RunsOf(song, &read);
        EXPECT_FALSE(read);
        EXPECT_TRUE(reader.TakeMessage().contains("新しい版の Pelorvane"));
    }
    EXPECT_EQ(Bytes(File()), before);
    EXPECT_TRUE(AsideFiles(folder).isEmpty());
}

TEST_F(HistoryFaultsTest, DamagedRunPagesAreFoundAtTheFirstOpenAndOnlyThenPutAside) {
    Practise(60);
    ASSERT_TRUE(DamageRun(File(), "2026-12-04T19:00:00Z"));
    const QByteArray damaged = Bytes(File());
    {
        // A reader says so rather than showing an empty history.
        PracticeDatabase reader(folder, 2000, HistoryAccess::ReadOnly);
        bool read = true;
        EXPECT_TRUE(reader.RunsOf(song, &read).empty());
        EXPECT_FALSE(read);
        EXPECT_TRUE(reader.TakeMessage().contains("壊れています"));
    }
    EXPECT_EQ(Bytes(File()), damaged);
    ASSERT_TRUE(AsideFiles(folder).isEmpty());

    PracticeDatabase db(folder);
    EXPECT_TRUE(db.Open());
    const QString told = db.TakeMessage();
    const QStringList aside = AsideFiles(folder);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(told.contains(aside[0])) << told.toStdString();
    EXPECT_EQ(Bytes(QDir(folder).filePath(aside[0])), damaged);
    EXPECT_TRUE(db.Store(RunAt(song, 1)));
    EXPECT_EQ(db.RunsOf(song).size(), 1u);
}

TEST_F(HistoryFaultsTest, AFileThatIsNoDatabaseGoesAsideWithItsJournal) {
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteBytes(File(), QByteArray("a note, not a history\n").repeated(200)));
    ASSERT_TRUE(WriteBytes(File() + "-wal", "a journal of another file"));
    PracticeDatabase db(folder);
    EXPECT_TRUE(db.Store(RunAt(song, 1)));
    const QStringList aside = AsideFiles(folder);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(db.TakeMessage().contains(aside[0]));
    EXPECT_EQ(Bytes(QDir(folder).filePath(aside[0] + "-wal")), "a journal of another file")
        << QDir(folder).entryList().join(" ").toStdString();
    EXPECT_EQ(db.RunsOf(song).size(), 1u);
}

TEST_F(HistoryFaultsTest, AHistoryThatCannotBeMadeIsToldOncePerRunOfTheProgram) {
    ASSERT_TRUE(WriteBytes(dir.filePath("blocked"), "a file where the folder would be"));
    PracticeDatabase db(dir.filePath("blocked/pelorvane"));
    EXPECT_FALSE(db.Store(RunAt(song, 1)));
    EXPECT_TRUE(db.RunsOf(song).empty());
    const QString told = db.TakeMessage();
    EXPECT_EQ(told.count("を作れません"), 1) << told.toStdString();
    for (int i = 2; i < 5; ++i) {
        EXPECT_FALSE(db.Store(RunAt(song, i)));
        db.RunsOf(song);
        EXPECT_TRUE(db.TakeMessage().isEmpty());
    }
}

}  // namespace
