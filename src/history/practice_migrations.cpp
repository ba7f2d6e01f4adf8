// Each step is kept as it was released: a file of any earlier version is brought forward by
// running the steps it lacks, in order.

#include "history/practice_migrations.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <iterator>

namespace {

const QStringList kSteps[] = {
    // 1: songs by path, and their runs.
    {
        "CREATE TABLE songs (id INTEGER PRIMARY KEY, path TEXT NOT NULL)",
        "CREATE INDEX songs_path ON songs (path)",
        "CREATE TABLE runs (id INTEGER PRIMARY KEY, song_id INTEGER NOT NULL REFERENCES songs (id),"
        " started TEXT NOT NULL, mode TEXT NOT NULL, speed INTEGER NOT NULL,"
        " bar_first INTEGER NOT NULL, bar_last INTEGER NOT NULL, duration_ms INTEGER NOT NULL,"
        " notes INTEGER NOT NULL, hit INTEGER NOT NULL, missed INTEGER NOT NULL,"
        " extra INTEGER NOT NULL, chords INTEGER NOT NULL, wait_p50 INTEGER NOT NULL,"
        " wrong INTEGER NOT NULL)",
        "CREATE INDEX runs_song ON runs (song_id, started)",
    },
    // 2: songs also known by their content; accuracy and timing of each run.
    {
        "ALTER TABLE songs ADD COLUMN hash TEXT",
        "CREATE INDEX songs_hash ON songs (hash)",
        "ALTER TABLE runs ADD COLUMN accuracy REAL NOT NULL DEFAULT 0",
        "ALTER TABLE runs ADD COLUMN timing_p50 INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE runs ADD COLUMN timing_spread INTEGER NOT NULL DEFAULT 0",
    },
    // 3: the hand each run practised; runs from before practised both.
    {
        "ALTER TABLE runs ADD COLUMN hand TEXT NOT NULL DEFAULT 'both'",
    },
    // 4: what the learner played in a run, as a Standard MIDI File.
    {
        "CREATE TABLE takes (run_id INTEGER PRIMARY KEY REFERENCES runs (id), smf BLOB NOT NULL)",
    },
    // 5: the channels each run practised and the key its song's hands divided at; runs from
    // before are not known (NULL).
    {
        "ALTER TABLE runs ADD COLUMN parts INTEGER",
        "ALTER TABLE runs ADD COLUMN split_key INTEGER",
    },
};

static_assert(std::size(kSteps) == kPracticeSchemaVersion);

}  // namespace

int PracticeSchemaVersion(QSqlDatabase& db, QSqlError* error) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        if (error) {
            *error = q.lastError();
        }
        return -1;
    }
    return q.value(0).toInt();
}

bool MigratePracticeSchema(QSqlDatabase& db, int upTo, QSqlError* error) {
    const int from = PracticeSchemaVersion(db, error);
    if (from < 0) {
        return false;
    }
    if (from >= std::min(upTo, kPracticeSchemaVersion)) {
        return true;
    }
    // Taking the write lock first, then reading the version again: the window and
    // pelorvane-play may both be bringing the same file forward.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        if (error) {
            *error = q.lastError();
        }
        return false;
    }
    const int now = PracticeSchemaVersion(db, error);
    bool ok = now >= 0;
    for (int version = now + 1; ok && version <= upTo && version <= kPracticeSchemaVersion;
         ++version) {
        for (const QString& statement : kSteps[version - 1]) {
            if (!q.exec(statement)) {
                ok = false;
                break;
            }
        }
        ok = ok && q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
    }
    if (!ok || !q.exec(QStringLiteral("COMMIT"))) {
        if (error && q.lastError().isValid()) {
            *error = q.lastError();
        }
        q.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}
