#include "history/practice_database.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include "history/practice_folder.h"
#include "history/practice_migrations.h"
#include "history/song_identity.h"

namespace {

QAtomicInt g_connections;

const char* const kRunColumns =
    "started, mode, speed, bar_first, bar_last, duration_ms, notes, hit, missed, extra, chords, "
    "wait_p50, wrong, accuracy, timing_p50, timing_spread";

}  // namespace

PracticeDatabase::PracticeDatabase(QString folder, int busyTimeoutMs)
    : m_folder(std::move(folder)),
      m_connection(
          QStringLiteral("pelorvane-practice-%1").arg(g_connections.fetchAndAddRelaxed(1))),
      m_busyTimeoutMs(busyTimeoutMs) {}

PracticeDatabase::~PracticeDatabase() {
    Close();
}

QString PracticeDatabase::FilePath() const {
    return QDir(m_folder).filePath(QString::fromLatin1(kPracticeDatabaseName));
}

void PracticeDatabase::Close() {
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (m_open) {
                QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

bool PracticeDatabase::OpenFile() {
    Close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(FilePath());
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
        if (!db.open()) {
            return false;
        }
        QSqlQuery q(db);
        // The window and pelorvane-play write at the same time; with the journal ahead of the
        // file, readers never wait for a writer and each run's transaction is short.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
            q.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
            return false;
        }
        q.finish();
        // With the journal, a crash can lose at most the last runs, never the file; syncing
        // at every commit would cost more than the 20 ms a run may take to store.
        if (!q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            return false;
        }
        // The journal is folded back into the file when the history is opened and closed, not
        // by whichever run's commit happens to fill it.
        q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        q.finish();
        if (!MigratePracticeSchema(db)) {
            return false;
        }
        // A damaged file may still answer the pragmas; reading both tables shows it is whole.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM songs")) ||
            !q.exec(QStringLiteral("SELECT count(*) FROM runs"))) {
            return false;
        }
    }
    m_open = true;
    return true;
}

namespace {
constexpr int kOpenAttempts = 10;
constexpr unsigned long kOpenRetryMs = 20;
}  // namespace

bool PracticeDatabase::Open() {
    if (m_open) {
        return true;
    }
    QDir().mkpath(m_folder);
    const bool existed = QFile::exists(FilePath());
    // Another writer may be creating the file or turning on its journal this very moment:
    // SQLite answers that at once, without waiting, so a few tries come before any verdict.
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (OpenFile()) {
            return true;
        }
        QThread::msleep(kOpenRetryMs);
    }
    if (!existed) {
        Close();
        m_message = QStringLiteral("練習の記録 %1 を作れません。練習は記録されません。")
                        .arg(QDir::toNativeSeparators(FilePath()));
        return false;
    }
    return PutAsideAndStartAfresh();
}

bool PracticeDatabase::PutAsideAndStartAfresh() {
    Close();
    const QString path = FilePath();
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmss"));
    QString aside = path + QStringLiteral(".aside-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n) {
        aside = path + QStringLiteral(".aside-%1-%2").arg(stamp).arg(n);
    }
    // The journal and its index go with the file: left behind, they would be read into the
    // fresh one.
    bool moved = QFile::rename(path, aside);
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString extra = path + QLatin1String(suffix);
        if (QFile::exists(extra) && !QFile::rename(extra, aside + QLatin1String(suffix))) {
            QFile::remove(extra);
        }
    }
    if (!moved || !OpenFile()) {
        Close();
        m_message =
            QStringLiteral(
                "練習の記録 %1 が壊れているか使用中のため開けません。練習は記録されません。")
                .arg(QDir::toNativeSeparators(path));
        return false;
    }
    m_message =
        QStringLiteral(
            "練習の記録 %1 が壊れているか使用中のため、%2 として残し、新しい記録を始めました。")
            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(aside));
    return true;
}

QString PracticeDatabase::TakeMessage() {
    return std::exchange(m_message, QString());
}

qint64 PracticeDatabase::SongId(const QString& path, const QString& hash, bool create,
                                bool& failed) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    failed = false;
    if (!hash.isEmpty()) {
        q.prepare(
            QStringLiteral("SELECT id, path FROM songs WHERE hash = ? ORDER BY id DESC LIMIT 1"));
        q.addBindValue(hash);
        if (!q.exec()) {
            failed = true;
            return -1;
        }
        if (q.next()) {
            const qint64 id = q.value(0).toLongLong();
            if (create && q.value(1).toString() != path) {
                q.finish();
                QSqlQuery moved(db);
                moved.prepare(QStringLiteral("UPDATE songs SET path = ? WHERE id = ?"));
                moved.addBindValue(path);
                moved.addBindValue(id);
                failed = !moved.exec();
            }
            return id;
        }
    }
    // Not known by its content: the same path is the same song, edited (or of a file version
    // stored before songs had a hash).
    q.prepare(QStringLiteral("SELECT id FROM songs WHERE path = ? ORDER BY id DESC LIMIT 1"));
    q.addBindValue(path);
    if (!q.exec()) {
        failed = true;
        return -1;
    }
    if (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        q.finish();
        if (create && !hash.isEmpty()) {
            QSqlQuery edited(db);
            edited.prepare(QStringLiteral("UPDATE songs SET hash = ? WHERE id = ?"));
            edited.addBindValue(hash);
            edited.addBindValue(id);
            failed = !edited.exec();
        }
        return id;
    }
    if (!create) {
        return -1;
    }
    QSqlQuery added(db);
    added.prepare(QStringLiteral("INSERT INTO songs (path, hash) VALUES (?, ?)"));
    added.addBindValue(path);
    added.addBindValue(hash.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(hash));
    if (!added.exec()) {
        failed = true;
        return -1;
    }
    return added.lastInsertId().toLongLong();
}

bool PracticeDatabase::StoreOnce(const StoredRun& r, bool& damaged) {
    damaged = false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        damaged = true;
        return false;
    }
    bool failed = false;
    const qint64 song = SongId(r.songPath, SongContentHash(r.songPath), true, failed);
    QSqlQuery q(db);
    bool ok = !failed && song >= 0;
    if (ok) {
        q.prepare(
            QStringLiteral("INSERT INTO runs (song_id, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, ?, ?, ?)")
                .arg(QLatin1String(kRunColumns)));
        for (const QVariant& v :
             {QVariant(song), QVariant(r.started.toUTC().toString(Qt::ISODate)), QVariant(r.mode),
              QVariant(r.speed), QVariant(r.firstBar), QVariant(r.lastBar), QVariant(r.durationMs),
              QVariant(r.notes), QVariant(r.hit), QVariant(r.missed), QVariant(r.extra),
              QVariant(r.chords), QVariant(r.waitP50), QVariant(r.wrong), QVariant(r.accuracy),
              QVariant(r.timingP50), QVariant(r.timingSpread)}) {
            q.addBindValue(v);
        }
        ok = q.exec();
    }
    q.finish();
    QSqlQuery end(db);
    if (!ok || !end.exec(QStringLiteral("COMMIT"))) {
        end.exec(QStringLiteral("ROLLBACK"));
        damaged = true;
        return false;
    }
    return true;
}

bool PracticeDatabase::Store(const StoredRun& run) {
    if (!Open()) {
        return false;
    }
    bool damaged = false;
    if (StoreOnce(run, damaged)) {
        return true;
    }
    // Damaged since it was opened, or held by another program past the busy timeout.
    if (!PutAsideAndStartAfresh()) {
        return false;
    }
    return StoreOnce(run, damaged);
}

std::vector<StoredRun> PracticeDatabase::RunsOf(const QString& songPath) {
    std::vector<StoredRun> runs;
    if (!Open()) {
        return runs;
    }
    bool failed = false;
    const qint64 song = SongId(songPath, SongContentHash(songPath), false, failed);
    if (failed || song < 0) {
        return runs;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM runs WHERE song_id = ? ORDER BY started, id")
                  .arg(QLatin1String(kRunColumns)));
    q.addBindValue(song);
    if (!q.exec()) {
        return runs;
    }
    while (q.next()) {
        StoredRun r;
        r.songPath = songPath;
        r.started = QDateTime::fromString(q.value(0).toString(), Qt::ISODate).toUTC();
        r.mode = q.value(1).toString();
        int* const fields[] = {&r.speed,  &r.firstBar, &r.lastBar, &r.durationMs, &r.notes, &r.hit,
                               &r.missed, &r.extra,    &r.chords,  &r.waitP50,    &r.wrong};
        for (int i = 0; i < 11; ++i) {
            *fields[i] = q.value(2 + i).toInt();
        }
        r.accuracy = q.value(13).toDouble();
        r.timingP50 = q.value(14).toInt();
        r.timingSpread = q.value(15).toInt();
        runs.push_back(r);
    }
    return runs;
}
