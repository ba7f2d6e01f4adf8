// Takes kept with their runs: a limit per song that keeps the best, a damaged take that spoils
// nothing else, and the export through pelorvane-history.

#include <gtest/gtest.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "engine/practice_log.h"
#include "engine/take_file.h"
#include "history/practice_database.h"
#include "history/practice_recording.h"
#include "history/take_export_file.h"
#include "history_test_files.h"
#include "platform/clock.h"
#include "smf/smf.h"

namespace {

QByteArray TakeBytes(uint8_t key) {
    const std::vector<uint8_t> smf =
        TakeToSmf({{100, TakeEvent::NoteOn, key, 90}, {400, TakeEvent::NoteOff, key, 0}});
    return QByteArray(reinterpret_cast<const char*>(smf.data()),
                      static_cast<qsizetype>(smf.size()));
}

class TakeHistoryTest : public history_test::HistoryHome {
  protected:
    // pelorvane-history with the arguments: its exit code and what it wrote to stderr.
    std::pair<int, QString> History(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path());
        p.setProcessEnvironment(env);
        p.start(PV_HISTORY_TOOL, args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
};

TEST_F(TakeHistoryTest, EachSongKeepsItsLatestTakesAndItsBestAndEveryRun) {
    PracticeDatabase db(folder);
    constexpr int kRuns = 53;
    for (int i = 0; i < kRuns; ++i) {
        StoredRun r = history_test::RunAt(song, 0);
        r.started = r.started.addSecs(i);
        r.accuracy = i == 1 ? 0.9 : 0.5;
        r.take = TakeBytes(static_cast<uint8_t>(40 + i));
        ASSERT_TRUE(db.Store(r));
    }
    StoredRun other = history_test::RunAt(QDir(home.path()).filePath("other.mid"), 0);
    other.take = TakeBytes(30);
    ASSERT_TRUE(db.Store(other));

    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), static_cast<size_t>(kRuns));
    std::vector<int> without;
    for (int i = 0; i < kRuns; ++i) {
        if (!runs[static_cast<size_t>(i)].hasTake) {
            without.push_back(i);
        }
    }
    EXPECT_EQ(without, (std::vector<int>{0, 2}));  // the oldest, but for the best
    EXPECT_EQ(db.TakeOf(runs[1].id), TakeBytes(41));
    EXPECT_EQ(db.TakeOf(runs[kRuns - 1].id), TakeBytes(40 + kRuns - 1));
    bool ok = false;
    EXPECT_FALSE(db.TakeOf(runs[0].id, &ok));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(db.RunsOf(other.songPath).at(0).hasTake);
}

// What the window and pelorvane-play --record store: each run with what was played in it.
TEST_F(TakeHistoryTest, ARecordedRunIsStoredWithItsTake) {
    PracticeLog log;
    PracticeEvent start;
    start.kind = PracticeEvent::RunStart;
    start.mode = static_cast<uint8_t>(PlayMode::Solo);
    start.value = 100;
    start.song = log.BeginSong(song.toStdString(), nullptr);
    log.Queue().Push(start);
    log.Input().Push({PlayerAction::KeyDown, PlayerAction::Device, 60, 77, true, 100, 100});
    log.Input().Push({PlayerAction::KeyUp, PlayerAction::Device, 60, 0, true, 300, 300});
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = 500;
    end.songMs = 500;
    log.Queue().Push(end);

    PracticeDatabase db(folder);
    const std::vector<RecordedRun> recorded = RecordFinishedRuns(log, db, true);
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_TRUE(recorded[0].saved);
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_TRUE(runs[0].hasTake);
    const std::optional<QByteArray> kept = db.TakeOf(runs[0].id);
    ASSERT_TRUE(kept);
    EXPECT_EQ(TakeFromSmf(reinterpret_cast<const uint8_t*>(kept->constData()),
                          static_cast<size_t>(kept->size())),
              (Take{{100, TakeEvent::NoteOn, 60, 77}, {300, TakeEvent::NoteOff, 60, 0}}));
}

// Hours of playing in one run, collected as pelorvane-play --record collects while it plays, over
// the turn of the program's 32-bit millisecond clock: the take is kept whole.
TEST_F(TakeHistoryTest, ATakeOfHoursOverTheClocksTurnIsKeptWhole) {
    constexpr uint32_t kHour = 3600000;
    constexpr uint32_t kStart = 0xFFFFFFFFu - kHour;  // the clock turns an hour in
    ManualClock::Install();
    struct RealClockAfter {
        ~RealClockAfter() { ManualClock::Uninstall(); }
    } realClockAfter;
    ManualClock::Set(kStart);
    PracticeLog log;
    PracticeEvent start;
    start.kind = PracticeEvent::RunStart;
    start.mode = static_cast<uint8_t>(PlayMode::Solo);
    start.value = 100;
    start.clockMs = kStart;
    start.song = log.BeginSong(song.toStdString(), nullptr);
    log.Queue().Push(start);
    PracticeDatabase db(folder);
    // Four keys a second and the pedal each minute, for three hours, collected every second.
    Take played;
    for (uint32_t ms = 0; ms < 3 * kHour; ms += 250) {
        const uint32_t at = kStart + ms;
        const auto key = static_cast<uint8_t>(36 + ms / 250 % 48);
        const auto velocity = static_cast<uint8_t>(1 + ms / 250 % 127);
        log.Input().Push(
            {PlayerAction::KeyDown, PlayerAction::Device, key, velocity, true, at, ms});
        log.Input().Push(
            {PlayerAction::KeyUp, PlayerAction::Device, key, 0, true, at + 100, ms + 100});
        played.push_back({ms, TakeEvent::NoteOn, key, velocity});
        played.push_back({ms + 100, TakeEvent::NoteOff, key, 0});
        if (ms % 60000 == 0) {
            const auto pedal = static_cast<uint8_t>(ms / 60000 % 2 == 0 ? 127 : 0);
            log.Input().Push(
                {PlayerAction::Pedal, PlayerAction::Device, 0, pedal, true, at + 50, ms + 50});
            played.push_back({ms + 50, TakeEvent::Pedal, 0, pedal});
        }
        ManualClock::Set(at + 250);
        if (ms % 1000 == 750) {
            ASSERT_TRUE(RecordFinishedRuns(log, db, false).empty());
        }
    }
    PracticeEvent end;
    end.kind = PracticeEvent::RunEnd;
    end.clockMs = kStart + 3 * kHour;
    end.songMs = 3 * kHour;
    log.Queue().Push(end);
    const std::vector<RecordedRun> recorded = RecordFinishedRuns(log, db, true);

    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_TRUE(recorded[0].saved);
    EXPECT_EQ(recorded[0].run.durationMs, 3 * kHour);
    const std::vector<StoredRun> runs = db.RunsOf(song);
    ASSERT_EQ(runs.size(), 1u);
    const std::optional<QByteArray> kept = db.TakeOf(runs[0].id);
    ASSERT_TRUE(kept);
    const std::optional<Take> back = TakeFromSmf(
        reinterpret_cast<const uint8_t*>(kept->constData()), static_cast<size_t>(kept->size()));
    ASSERT_TRUE(back);
    std::stable_sort(played.begin(), played.end(),
                     [](const TakeEvent& a, const TakeEvent& b) { return a.songMs < b.songMs; });
    EXPECT_EQ(back->size(), played.size());
    EXPECT_TRUE(*back == played);  // not printed: a hundred thousand events
}

TEST_F(TakeHistoryTest, ATakeExportsWithItsSongAndADamagedOneOnlySaysItCannotBeRead) {
    {
        PracticeDatabase db(folder);
        StoredRun r = history_test::RunAt(song, 5);
        r.take = TakeBytes(60);
        ASSERT_TRUE(db.Store(r));
        r.started = r.started.addSecs(60);
        r.take = TakeBytes(62);
        ASSERT_TRUE(db.Store(r));
        ASSERT_TRUE(db.Store(history_test::RunAt(song, 30)));  // nothing played: no take
    }
    const QString out = QDir(home.path()).filePath("out.mid");
    auto [code, err] = History({song, "--take", "2", "--export", out});
    ASSERT_EQ(code, 0) << err.toStdString();
    const std::unique_ptr<smf::Song> original = smf::LoadFromFile(song.toStdString());
    const std::unique_ptr<smf::Song> exported = smf::LoadFromFile(out.toStdString());
    ASSERT_TRUE(original && exported);
    ASSERT_EQ(exported->Tracks().size(), original->Tracks().size() + 1);
    const smf::EventList& take = exported->Tracks().back().events;
    ASSERT_FALSE(take.empty());
    EXPECT_EQ(take[0].kind, smf::kMetaBase + 0x03);
    const QString name =
        QString::fromUtf8(reinterpret_cast<const char*>(exported->Data(take[0])), take[0].length);
    EXPECT_EQ(name, TakeTrackName(QDateTime(QDate(2026, 12, 4), QTime(19, 6), Qt::UTC)));
    EXPECT_EQ(exported->Data(take[1])[1], 62);

    std::tie(code, err) = History({song, "--take", "3", "--export", out});
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("no take")) << err.toStdString();
    // A folder that cannot be written: told, and nothing left behind.
    QFile::remove(out);
    std::tie(code, err) = History({song, "--take", "2", "--export", home.filePath("gone/x.mid")});
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("書き込めません")) << err.toStdString();
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), (QStringList{"kirakira.mid"}));

    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "damage-take");
        raw.setDatabaseName(QDir(folder).filePath("practice.sqlite"));
        ASSERT_TRUE(raw.open());
        ASSERT_TRUE(QSqlQuery(raw).exec("UPDATE takes SET smf = substr(smf, 1, 20)"));
        raw.close();
    }
    QSqlDatabase::removeDatabase("damage-take");
    {
        PracticeDatabase db(folder, 2000, HistoryAccess::ReadOnly);
        const std::vector<StoredRun> runs = db.RunsOf(song);
        ASSERT_EQ(runs.size(), 3u);  // every run still shows
        EXPECT_TRUE(runs[0].hasTake);
    }
    const QString other = QDir(home.path()).filePath("other.mid");
    std::tie(code, err) = History({song, "--take", "1", "--export", other});
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("壊れている")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(other));
}

}  // namespace
