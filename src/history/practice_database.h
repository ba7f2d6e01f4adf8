#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "history/stored_run.h"

enum class HistoryAccess {
    ReadWrite,  // the window and pelorvane-play: creates, migrates and stores
    ReadOnly,   // readers: never create, migrate, write or move the file
};

// The practice history in practice.sqlite of a folder: a write-ahead journal, each run stored in
// one transaction. Only a file SQLite calls damaged is put aside under a new name and a fresh one
// started; a busy or unwritable file keeps the runs in memory until it takes them, and a file
// written by a newer version is left alone. Each kind of trouble is told once per object, which
// lives as long as the program. Used on one thread only (Qt's connections are per thread).
class PracticeDatabase {
  public:
    explicit PracticeDatabase(QString folder, int busyTimeoutMs = 2000,
                              HistoryAccess access = HistoryAccess::ReadWrite);
    ~PracticeDatabase();
    PracticeDatabase(const PracticeDatabase&) = delete;
    PracticeDatabase& operator=(const PracticeDatabase&) = delete;

    QString FilePath() const;
    // Opens the file (a writer creates it and brings its schema up to date; the first open of
    // this object checks the file whole); false when it cannot be used now.
    bool Open();
    // Stores the run after any kept back before it. False when it is not in the file now: kept
    // to be stored later when the file is busy or cannot be written, dropped when the history
    // cannot be kept at all (as told).
    bool Store(const StoredRun& run);
    // Tries once more to store the runs kept back; true when none is left.
    bool StorePending();
    size_t PendingCount() const { return m_pending.size(); }
    // At close: keeps trying to store the runs kept back for up to waitMs; those still left are
    // dropped and told. True when none was lost.
    bool Settle(int waitMs);
    // The runs of the song at this path (or of the same content elsewhere), oldest first. ok (if
    // given) is false when the history could not be read; what went wrong is told.
    std::vector<StoredRun> RunsOf(const QString& songPath, bool* ok = nullptr);
    // The take kept with the run of this id (StoredRun::id) as stored, nothing when none is
    // kept. ok (if given) is false when the history could not be read; what went wrong is told.
    std::optional<QByteArray> TakeOf(qint64 runId, bool* ok = nullptr);
    // What the user should be told (a file put aside, a history that cannot be kept or read),
    // then empty.
    QString TakeMessage();

  private:
    enum class OpenResult { Opened, Later, Never };
    enum class FileState { Whole, Damaged, Newer, Failed };
    FileState OpenFile();
    OpenResult OpenOrPutAside();
    void Close();
    bool PutAsideAndStartAfresh();
    bool StoreOnce(const StoredRun& run, QSqlError& error);
    // Inside the run's transaction: the parts it practised.
    bool StoreParts(qint64 run, const StoredRun& r, QSqlError& error);
    // Inside the run's transaction: its take, then the song's takes cut to the limit.
    bool StoreTake(qint64 song, qint64 run, const QByteArray& take, QSqlError& error);
    qint64 SongId(const QString& path, const QString& hash, bool create, QSqlError& error);
    bool ReadRuns(const QString& songPath, std::vector<StoredRun>& runs, QSqlError& error);
    void SetBusyTimeout(int ms);
    // Adds text to the message unless this kind of trouble was told already.
    void Tell(unsigned kind, const QString& text);

    QString m_folder;
    QString m_connection;
    int m_busyTimeoutMs;
    HistoryAccess m_access;
    QString m_message;
    unsigned m_told = 0;
    QSqlError m_openError;  // why the last open failed
    std::deque<StoredRun> m_pending;
    int m_version = 0;  // of the open file
    bool m_open = false;
    bool m_checked = false;  // the file was found whole once
};
