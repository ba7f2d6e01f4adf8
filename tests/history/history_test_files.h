#pragma once

// What the history tests do to and find in a history folder, shared by their files.

#include <gtest/gtest.h>
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>

#include "history/stored_run.h"

namespace history_test {

// A lesson run of the song, started at that minute of one evening.
inline StoredRun RunAt(const QString& song, int minute) {
    StoredRun r;
    r.songPath = song;
    r.started = QDateTime(QDate(2026, 12, 4), QTime(19, minute), Qt::UTC);
    r.mode = QStringLiteral("lesson");
    r.chords = minute;
    return r;
}

inline QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The files put aside in the folder, without their journals.
inline QStringList AsideFiles(const QString& folder) {
    QStringList files = QDir(folder).entryList({"practice.sqlite.aside-*"}, QDir::Files);
    files.removeIf([](const QString& f) {
        return f.endsWith("-wal") || f.endsWith("-shm") || f.endsWith("-journal");
    });
    return files;
}

// Overwrites the record of the run that started at this time (its ISO text in the file) and the
// bytes before it, leaving the page's header alone: counting the runs still works, reading them
// does not.
inline bool DamageRun(const QString& path, const QByteArray& started) {
    QByteArray bytes = Bytes(path);
    const qsizetype at = bytes.indexOf(started);
    if (at < 8) {
        return false;
    }
    for (qsizetype i = at - 6; i < at + started.size(); ++i) {
        bytes[i] = '\xff';
    }
    return WriteBytes(path, bytes);
}

// A second connection to the file, as another program (a sqlite3 session) would hold it.
class OtherConnection {
  public:
    explicit OtherConnection(const QString& path, int busyTimeoutMs = 0)
        : m_name(QStringLiteral("other-connection-%1").arg(++Count())) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        db.open();
    }
    ~OtherConnection() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    QSqlDatabase Database() const { return QSqlDatabase::database(m_name, false); }
    bool Exec(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        return q.exec(sql);
    }

  private:
    static int& Count() {
        static int count = 0;
        return count;
    }
    QString m_name;
};

// A home of its own for the history and the tools, with the demo song copied into it.
class HistoryHome : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        folder = QDir(home.path()).filePath("pelorvane");
        song = QDir(home.path()).filePath("kirakira.mid");
        ASSERT_TRUE(QFile::copy(PV_DEMO_SONG, song));
    }
    QTemporaryDir home;
    QString folder;
    QString song;
};

}  // namespace history_test
