#include "history/practice_database.h"

#include <QAtomicInt>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <algorithm>

#include "history/practice_folder.h"
#include "history/practice_migrations.h"
#include "history/song_identity.h"
#include "history/sqlite_damage.h"

namespace {

QAtomicInt g_connections;

const char* const kRunColumns =
    "started, mode, speed, bar_first, bar_last, duration_ms, notes, hit, missed, extra, chords, "
    "wait_p50, wrong, accuracy, timing_p50, timing_spread, hand";
// A file of the second schema, read as it is: every run practised both hands.
const char* const kSecondSchemaRunColumns =
    "started, mode, speed, bar_first, bar_last, duration_ms, notes, hit, missed, extra, chords, "
    "wait_p50, wrong, accuracy, timing_p50, timing_spread, 'both'";
// A file of the first schema, read as it is (readers never bring it forward): nothing measured.
const char* const kFirstSchemaRunColumns =
    "started, mode, speed, bar_first, bar_last, duration_ms, notes, hit, missed, extra, chords, "
    "wait_p50, wrong, 0, 0, 0, 'both'";

// The takes kept per song besides its best: enough to hear how the playing went lately, while
// the file stays small.
constexpr int kTakesKeptPerSong = 50;

constexpr int kOpenAttempts = 10;
constexpr unsigned long kOpenRetryMs = 20;
constexpr qint64 kSettleRetryMs = 100;

// The kinds of trouble told once; a file put aside is told each time.
enum : unsigned {
    kToldEachTime = 0,
    kToldCannotCreate = 1u << 0,
    kToldNewer = 1u << 1,
    kToldDamaged = 1u << 2,
    kToldUnreadable = 1u << 3,
    kToldUnstored = 1u << 4,
};

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// SQLite's own words, for the one who has to look into the file.
QString Detail(const QSqlError& error) {
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

}  // namespace

PracticeDatabase::PracticeDatabase(QString folder, int busyTimeoutMs, HistoryAccess access)
    : m_folder(std::move(folder)),
      m_connection(
          QStringLiteral("pelorvane-practice-%1").arg(g_connections.fetchAndAddRelaxed(1))),
      m_busyTimeoutMs(busyTimeoutMs),
      m_access(access) {}

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
            if (m_open && m_access == HistoryAccess::ReadWrite) {
                QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

void PracticeDatabase::Tell(unsigned kind, const QString& text) {
    if ((m_told & kind) != 0) {
        return;
    }
    m_told |= kind;
    if (!m_message.isEmpty()) {
        m_message += QLatin1Char('\n');
    }
    m_message += text;
}

QString PracticeDatabase::TakeMessage() {
    return std::exchange(m_message, QString());
}

void PracticeDatabase::SetBusyTimeout(int ms) {
    m_busyTimeoutMs = ms;
    if (m_open) {
        QSqlQuery(QSqlDatabase::database(m_connection, false))
            .exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(ms));
    }
}

PracticeDatabase::FileState PracticeDatabase::OpenFile() {
    Close();
    m_openError = QSqlError();
    const bool writer = m_access == HistoryAccess::ReadWrite;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(FilePath());
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs);
    if (!writer) {
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    }
    db.setConnectOptions(options);
    if (!db.open()) {
        m_openError = db.lastError();
        return FileState::Failed;
    }
    QSqlQuery q(db);
    // Failed with SQLite's answer kept: damaged only when SQLite says so.
    auto failed = [this](const QSqlError& error) {
        m_openError = error;
        return IsDamage(error) ? FileState::Damaged : FileState::Failed;
    };
    // Read before anything is written: a newer version's file is left exactly as it is.
    QSqlError error;
    int version = PracticeSchemaVersion(db, &error);
    if (version < 0) {
        return failed(error);
    }
    if (version > kPracticeSchemaVersion) {
        return FileState::Newer;
    }
    // Damage in pages that nothing reads at open (the runs) would otherwise go unnoticed
    // while new runs are added to the file; once per object is enough.
    if (!m_checked) {
        if (!q.exec(QStringLiteral("PRAGMA quick_check"))) {
            return failed(q.lastError());
        }
        QStringList problems;
        while (q.next()) {
            problems << q.value(0).toString();
        }
        if (q.lastError().isValid()) {
            return failed(q.lastError());
        }
        if (problems != QStringList{QStringLiteral("ok")}) {
            m_openError = QSqlError(QString(), problems.join(QLatin1Char('\n')),
                                    QSqlError::StatementError, QStringLiteral("11"));
            return FileState::Damaged;
        }
        q.finish();
        m_checked = true;
    }
    if (writer) {
        // The window and pelorvane-play write at the same time; with the journal ahead of the
        // file, readers never wait for a writer and each run's transaction is short.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) {
            return failed(q.lastError());
        }
        if (q.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
            return FileState::Failed;  // another connection holds the file in its own mode
        }
        q.finish();
        // With the journal, a crash can lose at most the last runs, never the file; syncing
        // at every commit would cost more than the 20 ms a run may take to store.
        if (!q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            return failed(q.lastError());
        }
        // The journal is folded back into the file when the history is opened and closed, not
        // by whichever run's commit happens to fill it.
        q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        q.finish();
        if (!MigratePracticeSchema(db, kPracticeSchemaVersion, &error)) {
            return failed(error);
        }
        version = kPracticeSchemaVersion;
        // A damaged file may still answer the pragmas; reading both tables shows it is whole.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM songs")) ||
            !q.exec(QStringLiteral("SELECT count(*) FROM runs"))) {
            return failed(q.lastError());
        }
    }
    m_version = version;
    m_open = true;
    return FileState::Whole;
}

bool PracticeDatabase::Open() {
    return OpenOrPutAside() == OpenResult::Opened;
}

PracticeDatabase::OpenResult PracticeDatabase::OpenOrPutAside() {
    if (m_open) {
        return OpenResult::Opened;
    }
    const bool writer = m_access == HistoryAccess::ReadWrite;
    const QString path = Shown(FilePath());
    const QString cannotCreate =
        QStringLiteral("練習の記録 %1 を作れません。練習は記録されません。").arg(path);
    if (writer && !QDir().mkpath(m_folder)) {
        Tell(kToldCannotCreate, cannotCreate);
        return OpenResult::Never;
    }
    const bool existed = QFile::exists(FilePath());
    // Another writer may be creating the file or turning on its journal this very moment:
    // SQLite answers that at once, without waiting, so a few tries come before any verdict. A
    // busy file has waited out its timeout inside SQLite already and is not tried again.
    QElapsedTimer clock;
    clock.start();
    FileState state = FileState::Failed;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        state = OpenFile();
        if (state != FileState::Failed || clock.elapsed() >= m_busyTimeoutMs) {
            break;
        }
        QThread::msleep(kOpenRetryMs);
    }
    switch (state) {
        case FileState::Whole:
            return OpenResult::Opened;
        case FileState::Newer:
            Close();
            Tell(kToldNewer,
                 QStringLiteral("練習の記録 %1 は新しい版の Pelorvane で書かれているため、この版"
                                "では使えません。ファイルはそのまま残し、練習は記録されません。")
                     .arg(path));
            return OpenResult::Never;
        case FileState::Damaged:
            if (writer) {
                return PutAsideAndStartAfresh() ? OpenResult::Opened : OpenResult::Never;
            }
            Close();
            Tell(kToldDamaged, QStringLiteral("練習の記録 %1 は壊れています（%2）。")
                                   .arg(path, Detail(m_openError)));
            return OpenResult::Never;
        case FileState::Failed:
            break;
    }
    Close();
    if (writer && !existed) {
        Tell(kToldCannotCreate, cannotCreate);
        return OpenResult::Never;
    }
    // Busy, full or not writable now: left as it is, and tried again later.
    return OpenResult::Later;
}

bool PracticeDatabase::PutAsideAndStartAfresh() {
    const QString path = FilePath();
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmss"));
    QString aside = path + QStringLiteral(".aside-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n) {
        aside = path + QStringLiteral(".aside-%1-%2").arg(stamp).arg(n);
    }
    // The journals go with the file: left behind, they would be read into the fresh one. They
    // are moved before our connection closes, which would otherwise delete a journal SQLite
    // cannot tie to the file.
    const bool moved = QFile::rename(path, aside);
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const QString extra = path + QLatin1String(suffix);
        if (QFile::exists(extra) && !QFile::rename(extra, aside + QLatin1String(suffix))) {
            QFile::remove(extra);
        }
    }
    Close();
    if (!moved) {
        Tell(kToldDamaged, QStringLiteral("練習の記録 %1 が壊れているため開けません。練習は記録"
                                          "されません。")
                               .arg(Shown(path)));
        return false;
    }
    Tell(kToldEachTime,
         QStringLiteral("練習の記録 %1 が壊れているため、%2 として残し、新しい記録を始めました。")
             .arg(Shown(path), Shown(aside)));
    if (OpenFile() != FileState::Whole) {
        Close();
        Tell(kToldCannotCreate,
             QStringLiteral("練習の記録 %1 を作れません。練習は記録されません。").arg(Shown(path)));
        return false;
    }
    return true;
}

qint64 PracticeDatabase::SongId(const QString& path, const QString& hash, bool create,
                                QSqlError& error) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // Songs are known by their content only from the second schema on.
    if (!hash.isEmpty() && m_version >= 2) {
        q.prepare(
            QStringLiteral("SELECT id, path FROM songs WHERE hash = ? ORDER BY id DESC LIMIT 1"));
        q.addBindValue(hash);
        if (!q.exec()) {
            error = q.lastError();
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
                if (!moved.exec()) {
                    error = moved.lastError();
                    return -1;
                }
            }
            return id;
        }
        if (q.lastError().isValid()) {
            error = q.lastError();
            return -1;
        }
    }
    // Not known by its content: the same path is the same song, edited (or of a file version
    // stored before songs had a hash).
    q.prepare(QStringLiteral("SELECT id FROM songs WHERE path = ? ORDER BY id DESC LIMIT 1"));
    q.addBindValue(path);
    if (!q.exec()) {
        error = q.lastError();
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
            if (!edited.exec()) {
                error = edited.lastError();
                return -1;
            }
        }
        return id;
    }
    if (q.lastError().isValid()) {
        error = q.lastError();
        return -1;
    }
    if (!create) {
        return -1;
    }
    QSqlQuery added(db);
    added.prepare(QStringLiteral("INSERT INTO songs (path, hash) VALUES (?, ?)"));
    added.addBindValue(path);
    added.addBindValue(hash.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(hash));
    if (!added.exec()) {
        error = added.lastError();
        return -1;
    }
    return added.lastInsertId().toLongLong();
}

bool PracticeDatabase::StoreOnce(const StoredRun& r, QSqlError& error) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        error = begin.lastError();
        return false;
    }
    const qint64 song = SongId(r.songPath, SongContentHash(r.songPath), true, error);
    QSqlQuery q(db);
    bool ok = song >= 0;
    if (ok) {
        q.prepare(
            QStringLiteral("INSERT INTO runs (song_id, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .arg(QLatin1String(kRunColumns)));
        for (const QVariant& v :
             {QVariant(song), QVariant(r.started.toUTC().toString(Qt::ISODate)), QVariant(r.mode),
              QVariant(r.speed), QVariant(r.firstBar), QVariant(r.lastBar), QVariant(r.durationMs),
              QVariant(r.notes), QVariant(r.hit), QVariant(r.missed), QVariant(r.extra),
              QVariant(r.chords), QVariant(r.waitP50), QVariant(r.wrong), QVariant(r.accuracy),
              QVariant(r.timingP50), QVariant(r.timingSpread), QVariant(r.hand)}) {
            q.addBindValue(v);
        }
        ok = q.exec();
        if (!ok) {
            error = q.lastError();
        }
    }
    const qint64 run = ok ? q.lastInsertId().toLongLong() : -1;
    q.finish();
    if (ok && m_version >= 5 && r.channels >= 0) {
        ok = StoreParts(run, r, error);
    }
    if (ok && !r.take.isEmpty() && m_version >= 4) {
        q.finish();
        ok = StoreTake(song, run, r.take, error);
    }
    q.finish();
    QSqlQuery end(db);
    if (ok && !end.exec(QStringLiteral("COMMIT"))) {
        error = end.lastError();
        ok = false;
    }
    if (!ok) {
        end.exec(QStringLiteral("ROLLBACK"));
    }
    return ok;
}

bool PracticeDatabase::StoreParts(qint64 run, const StoredRun& r, QSqlError& error) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE runs SET parts = ?, split_key = ? WHERE id = ?"));
    q.addBindValue(r.channels);
    q.addBindValue(r.splitKey >= 0 ? QVariant(r.splitKey) : QVariant(QMetaType(QMetaType::Int)));
    q.addBindValue(run);
    if (!q.exec()) {
        error = q.lastError();
        return false;
    }
    return true;
}

bool PracticeDatabase::StoreTake(qint64 song, qint64 run, const QByteArray& take,
                                 QSqlError& error) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO takes (run_id, smf) VALUES (?, ?)"));
    q.addBindValue(run);
    q.addBindValue(take);
    if (!q.exec()) {
        error = q.lastError();
        return false;
    }
    // The song's latest takes stay, and its best (the most accurate run, the latest of equals).
    q.prepare(QStringLiteral(
        "DELETE FROM takes WHERE run_id IN (SELECT runs.id FROM runs JOIN takes ON takes.run_id ="
        " runs.id WHERE runs.song_id = ? ORDER BY runs.started DESC, runs.id DESC LIMIT -1"
        " OFFSET ?) AND run_id <> (SELECT runs.id FROM runs JOIN takes ON takes.run_id ="
        " runs.id WHERE runs.song_id = ? ORDER BY runs.accuracy DESC, runs.started DESC,"
        " runs.id DESC LIMIT 1)"));
    q.addBindValue(song);
    q.addBindValue(kTakesKeptPerSong);
    q.addBindValue(song);
    if (!q.exec()) {
        error = q.lastError();
        return false;
    }
    return true;
}

bool PracticeDatabase::Store(const StoredRun& run) {
    if (m_access != HistoryAccess::ReadWrite) {
        return false;
    }
    m_pending.push_back(run);
    return StorePending();
}

bool PracticeDatabase::StorePending() {
    // At most one fresh start: a file found damaged again at once is not put aside in a loop.
    for (int round = 0; round < 2 && !m_pending.empty(); ++round) {
        switch (OpenOrPutAside()) {
            case OpenResult::Opened:
                break;
            case OpenResult::Later:
                return false;
            case OpenResult::Never:
                m_pending.clear();  // as told: practice is not recorded
                return false;
        }
        while (!m_pending.empty()) {
            QSqlError error;
            if (StoreOnce(m_pending.front(), error)) {
                m_pending.pop_front();
                continue;
            }
            if (!IsDamage(error)) {
                return false;  // busy, full or unwritable: kept, in order, for the next try
            }
            // Damaged since it was opened.
            if (!PutAsideAndStartAfresh()) {
                m_pending.clear();
                return false;
            }
        }
    }
    return m_pending.empty();
}

bool PracticeDatabase::Settle(int waitMs) {
    const int usual = m_busyTimeoutMs;
    QElapsedTimer clock;
    clock.start();
    bool stored = StorePending();
    for (qint64 left = waitMs - clock.elapsed(); !stored && !m_pending.empty() && left > 0;
         left = waitMs - clock.elapsed()) {
        // A file that answers at once (a full disk) is not asked again in a tight loop.
        QThread::msleep(static_cast<unsigned long>(std::min(kSettleRetryMs, left)));
        left = waitMs - clock.elapsed();
        if (left <= 0) {
            break;
        }
        SetBusyTimeout(static_cast<int>(std::min<qint64>(usual, left)));
        stored = StorePending();
    }
    SetBusyTimeout(usual);
    if (m_pending.empty()) {
        return stored;
    }
    Tell(kToldUnstored,
         QStringLiteral("練習の記録 %1 が使用中か書き込めないため、%2 回分の練習を記録できません"
                        "でした。")
             .arg(Shown(FilePath()))
             .arg(m_pending.size()));
    m_pending.clear();
    return false;
}

bool PracticeDatabase::ReadRuns(const QString& songPath, std::vector<StoredRun>& runs,
                                QSqlError& error) {
    if (m_version < 1) {
        return true;  // an empty file a reader found: nothing stored in it yet
    }
    const qint64 song = SongId(songPath, SongContentHash(songPath), false, error);
    if (song < 0) {
        return !error.isValid();
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // The takes themselves are read one by one when asked for: a damaged one spoils no list.
    q.prepare(
        QStringLiteral("SELECT %1, runs.id, %2, %4 FROM runs %3 WHERE song_id = ? ORDER BY "
                       "started, runs.id")
            .arg(QLatin1String(m_version >= 3   ? kRunColumns
                               : m_version >= 2 ? kSecondSchemaRunColumns
                                                : kFirstSchemaRunColumns),
                 m_version >= 4 ? QStringLiteral("takes.run_id IS NOT NULL") : QStringLiteral("0"),
                 m_version >= 4 ? QStringLiteral("LEFT JOIN takes ON takes.run_id = runs.id")
                                : QString(),
                 m_version >= 5 ? QStringLiteral("runs.parts, runs.split_key")
                                : QStringLiteral("NULL, NULL")));
    q.addBindValue(song);
    if (!q.exec()) {
        error = q.lastError();
        return false;
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
        r.hand = q.value(16).toString();
        r.id = q.value(17).toLongLong();
        r.hasTake = q.value(18).toBool();
        r.channels = q.value(19).isNull() ? -1 : q.value(19).toInt();
        r.splitKey = q.value(20).isNull() ? -1 : q.value(20).toInt();
        runs.push_back(r);
    }
    // A damaged page met halfway ends the rows early: an error, not a shorter history.
    if (q.lastError().isValid()) {
        error = q.lastError();
        return false;
    }
    return true;
}

std::vector<StoredRun> PracticeDatabase::RunsOf(const QString& songPath, bool* ok) {
    std::vector<StoredRun> runs;
    bool read = false;
    const QString path = Shown(FilePath());
    switch (OpenOrPutAside()) {
        case OpenResult::Opened: {
            QSqlError error;
            read = ReadRuns(songPath, runs, error);
            if (read) {
                break;
            }
            runs.clear();
            if (IsDamage(error) && m_access == HistoryAccess::ReadWrite) {
                read = PutAsideAndStartAfresh();  // a fresh history holds no runs yet
            } else if (IsDamage(error)) {
                Tell(kToldDamaged, QStringLiteral("練習の記録 %1 は壊れています（%2）。")
                                       .arg(path, Detail(error)));
            } else {
                Tell(kToldUnreadable,
                     QStringLiteral("練習の記録 %1 を読めません（%2）。").arg(path, Detail(error)));
            }
            break;
        }
        case OpenResult::Later:
            Tell(kToldUnreadable, QStringLiteral("練習の記録 %1 を読めません（%2）。")
                                      .arg(path, Detail(m_openError)));
            break;
        case OpenResult::Never:
            break;  // told already
    }
    if (ok) {
        *ok = read;
    }
    return runs;
}

std::optional<QByteArray> PracticeDatabase::TakeOf(qint64 runId, bool* ok) {
    if (ok) {
        *ok = false;
    }
    if (OpenOrPutAside() != OpenResult::Opened) {
        return std::nullopt;
    }
    if (m_version < 4) {
        if (ok) {
            *ok = true;
        }
        return std::nullopt;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT smf FROM takes WHERE run_id = ?"));
    q.addBindValue(runId);
    if (!q.exec()) {
        Tell(kToldUnreadable, QStringLiteral("練習の記録 %1 を読めません（%2）。")
                                  .arg(Shown(FilePath()), Detail(q.lastError())));
        return std::nullopt;
    }
    if (!q.next()) {
        if (q.lastError().isValid()) {
            Tell(kToldUnreadable, QStringLiteral("練習の記録 %1 を読めません（%2）。")
                                      .arg(Shown(FilePath()), Detail(q.lastError())));
            return std::nullopt;
        }
        if (ok) {
            *ok = true;
        }
        return std::nullopt;
    }
    if (ok) {
        *ok = true;
    }
    return q.value(0).toByteArray();
}
