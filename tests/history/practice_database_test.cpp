// The practice history's file: what goes in comes out, older files are brought forward, and a
// damaged file is put aside rather than stopping practice.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <thread>

#include "history/practice_database.h"
#include "history/practice_migrations.h"

namespace {

StoredRun MakeRun(const QString& song, const QString& mode, int minute) {
    StoredRun r;
    r.songPath = song;
    r.started = QDateTime(QDate(2026, 12, 1), QTime(10, minute), Qt::UTC);
    r.mode = mode;
    r.speed = 80;
    r.firstBar = 3;
    r.lastBar = 6;
    r.durationMs = 9000;
    r.notes = 20;
    r.hit = 17;
    r.missed = 3;
    r.extra = 2;
    r.chords = 5;
    r.waitP50 = 240;
    r.wrong = 1;
    r.accuracy = 17.0 / 22.0;
    r.timingP50 = -12;
    r.timingSpread = 31;
    return r;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QStringList AsideFiles(const QTemporaryDir& dir) {
    QStringList files = QDir(dir.path()).entryList({"practice.sqlite.aside-*"}, QDir::Files);
    // The journal's files go aside with it.
    files.removeIf([](const QString& f) { return f.endsWith("-wal") || f.endsWith("-shm"); });
    return files;
}

class HistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        song = dir.filePath("song.mid");
        WriteFile(song, "MThd song one");
    }
    QTemporaryDir dir;
    QString song;
};

TEST_F(HistoryTest, RunsComeBackAsStoredOldestFirstInAWriteAheadJournal) {
    PracticeDatabase db(dir.path());
    ASSERT_TRUE(db.Store(MakeRun(song, "lesson", 30)));
    ASSERT_TRUE(db.Store(MakeRun(song, "accompaniment", 10)));
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].mode, "accompaniment");
    EXPECT_EQ(runs[1].mode, "lesson");
    const StoredRun& r = runs[1];
    const StoredRun want = MakeRun(song, "lesson", 30);
    EXPECT_EQ(r.started, want.started);
    EXPECT_EQ(std::tie(r.speed, r.firstBar, r.lastBar, r.durationMs, r.notes, r.hit, r.missed,
                       r.extra, r.chords, r.waitP50, r.wrong, r.timingP50, r.timingSpread),
              std::tie(want.speed, want.firstBar, want.lastBar, want.durationMs, want.notes,
                       want.hit, want.missed, want.extra, want.chords, want.waitP50, want.wrong,
                       want.timingP50, want.timingSpread));
    EXPECT_DOUBLE_EQ(r.accuracy, want.accuracy);
    EXPECT_TRUE(db.RunsOf(dir.filePath("other.mid")).empty());
    EXPECT_TRUE(db.TakeMessage().isEmpty());

    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "journal-check");
    other.setDatabaseName(db.FilePath());
    ASSERT_TRUE(other.open());
    QSqlQuery q(other);
    ASSERT_TRUE(q.exec("PRAGMA journal_mode") && q.next());
    EXPECT_EQ(q.value(0).toString(), "wal");
    q.finish();
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase("journal-check");
}

TEST_F(HistoryTest, AMovedOrEditedSongKeepsItsHistoryAndOtherSongsKeepTheirs) {
    PracticeDatabase db(dir.path());
    ASSERT_TRUE(db.Store(MakeRun(song, "lesson", 1)));
    const QString moved = dir.filePath("renamed.mid");
    ASSERT_TRUE(QFile::rename(song, moved));
    ASSERT_TRUE(db.Store(MakeRun(moved, "lesson", 2)));
    EXPECT_EQ(db.RunsOf(moved).size(), 2u);
    WriteFile(moved, "MThd song one, edited");
    ASSERT_TRUE(db.Store(MakeRun(moved, "solo", 3)));
    EXPECT_EQ(db.RunsOf(moved).size(), 3u);
    // Another song has a history of its own.
    const QString second = dir.filePath("second.mid");
    WriteFile(second, "MThd song two");
    ASSERT_TRUE(db.Store(MakeRun(second, "model", 4)));
    EXPECT_EQ(db.RunsOf(second).size(), 1u);
    EXPECT_EQ(db.RunsOf(moved).size(), 3u);
}

TEST_F(HistoryTest, AFileOfTheFirstSchemaIsBroughtForwardWithItsRuns) {
    const QString path = QDir(dir.path()).filePath("practice.sqlite");
    {
        QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "first-schema");
        old.setDatabaseName(path);
        ASSERT_TRUE(old.open());
        ASSERT_TRUE(MigratePracticeSchema(old, 1));
        QSqlQuery q(old);
        ASSERT_TRUE(q.exec(QString("INSERT INTO songs (path) VALUES ('%1')").arg(song)));
        ASSERT_TRUE(
            q.exec("INSERT INTO runs (song_id, started, mode, speed, bar_first, bar_last, "
                   "duration_ms, notes, hit, missed, extra, chords, wait_p50, wrong) VALUES "
                   "(1, '2026-11-30T09:00:00Z', 'accompaniment', 90, 1, 8, 16000, 40, 30, 10, "
                   "4, 0, 0, 0)"));
        EXPECT_EQ(PracticeSchemaVersion(old), 1);
        old.close();
    }
    QSqlDatabase::removeDatabase("first-schema");

    PracticeDatabase db(dir.path());
    ASSERT_TRUE(db.Store(MakeRun(song, "lesson", 0)));
    EXPECT_TRUE(db.TakeMessage().isEmpty());
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].mode, "accompaniment");
    EXPECT_EQ(runs[0].hit, 30);
    EXPECT_EQ(runs[0].accuracy, 0.0);  // not measured then
    EXPECT_EQ(runs[1].mode, "lesson");
    EXPECT_TRUE(AsideFiles(dir).isEmpty());
    // Known by its content from now on: a move keeps the runs of the old file too.
    const QString moved = dir.filePath("moved.mid");
    ASSERT_TRUE(QFile::rename(song, moved));
    EXPECT_EQ(db.RunsOf(moved).size(), 2u);
}

// A file of the fourth schema keeps every run and take as it was; its runs' parts are not
// known, and the runs stored from then on keep theirs.
TEST_F(HistoryTest, AFileOfTheFourthSchemaKeepsItsRunsAndTakesAndLearnsEachRunsParts) {
    const QString path = QDir(dir.path()).filePath("practice.sqlite");
    const QByteArray take("MThd a take as the fourth schema kept it");
    {
        QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "fourth-schema");
        old.setDatabaseName(path);
        ASSERT_TRUE(old.open());
        ASSERT_TRUE(MigratePracticeSchema(old, 4));
        QSqlQuery q(old);
        ASSERT_TRUE(q.exec(QString("INSERT INTO songs (path) VALUES ('%1')").arg(song)));
        ASSERT_TRUE(
            q.exec("INSERT INTO runs (song_id, started, mode, speed, bar_first, bar_last, "
                   "duration_ms, notes, hit, missed, extra, chords, wait_p50, wrong, accuracy, "
                   "timing_p50, timing_spread, hand) VALUES (1, '2026-11-30T09:00:00Z', "
                   "'lesson', 90, 1, 8, 16000, 0, 0, 0, 0, 12, 800, 2, 0.75, 0, 0, 'right')"));
        q.prepare("INSERT INTO takes (run_id, smf) VALUES (1, ?)");
        q.addBindValue(take);
        ASSERT_TRUE(q.exec());
        old.close();
    }
    QSqlDatabase::removeDatabase("fourth-schema");

    PracticeDatabase db(dir.path());
    StoredRun now = MakeRun(song, "lesson", 0);
    now.channels = 0x0006;
    now.splitKey = 55;
    ASSERT_TRUE(db.Store(now));
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].hand, "right");
    EXPECT_EQ(runs[0].chords, 12);
    EXPECT_EQ(runs[0].accuracy, 0.75);
    EXPECT_TRUE(runs[0].hasTake);
    EXPECT_EQ(db.TakeOf(runs[0].id), take);
    EXPECT_EQ(runs[0].channels, -1);
    EXPECT_EQ(runs[0].splitKey, -1);
    EXPECT_EQ(runs[1].channels, 0x0006);
    EXPECT_EQ(runs[1].splitKey, 55);
    EXPECT_TRUE(AsideFiles(dir).isEmpty());
}

TEST_F(HistoryTest, ADamagedFileIsPutAsideUntouchedAndAFreshOneStarted) {
    const QString path = QDir(dir.path()).filePath("practice.sqlite");
    QByteArray garbage(8192, '\x5a');
    garbage.replace(0, 16, "SQLite format 3");  // looks like one, is not
    WriteFile(path, garbage);
    PracticeDatabase db(dir.path());
    ASSERT_TRUE(db.Store(MakeRun(song, "lesson", 5)));
    const QString message = db.TakeMessage();
    EXPECT_FALSE(message.isEmpty());
    EXPECT_TRUE(db.TakeMessage().isEmpty());  // said once
    const QStringList aside = AsideFiles(dir);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(message.contains(aside[0]));
    QFile kept(dir.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), garbage);
    EXPECT_EQ(db.RunsOf(song).size(), 1u);
}

TEST_F(HistoryTest, TwoWritersAtOnceBothKeepEveryRun) {
    constexpr int kRuns = 40;
    auto writer = [&](const QString& mode) {
        PracticeDatabase db(dir.path());
        for (int i = 0; i < kRuns; ++i) {
            if (!db.Store(MakeRun(song, mode, i))) {
                ADD_FAILURE() << "a run was not stored";
            }
        }
        EXPECT_TRUE(db.TakeMessage().isEmpty());
    };
    std::thread a(writer, QStringLiteral("lesson"));
    std::thread b(writer, QStringLiteral("accompaniment"));
    a.join();
    b.join();
    PracticeDatabase db(dir.path());
    EXPECT_EQ(db.RunsOf(song).size(), 2u * kRuns);
    EXPECT_TRUE(AsideFiles(dir).isEmpty());
}

}  // namespace
