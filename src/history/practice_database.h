#pragma once

#include <QSqlDatabase>
#include <QString>
#include <vector>

#include "history/stored_run.h"

// The practice history in practice.sqlite of a folder: a write-ahead journal, each run stored in
// one transaction. A file that is damaged, or locked by another program for longer than the busy
// timeout, never stops practice: it is put aside under a new name, a fresh one is started, and
// one message says so. Used on one thread only (Qt's connections are per thread).
class PracticeDatabase {
  public:
    explicit PracticeDatabase(QString folder, int busyTimeoutMs = 2000);
    ~PracticeDatabase();
    PracticeDatabase(const PracticeDatabase&) = delete;
    PracticeDatabase& operator=(const PracticeDatabase&) = delete;

    QString FilePath() const;
    // Opens (or creates) the file and brings its schema up to date; false when no database can
    // be had even afresh.
    bool Open();
    bool Store(const StoredRun& run);
    // The runs of the song at this path (or of the same content elsewhere), oldest first.
    std::vector<StoredRun> RunsOf(const QString& songPath);
    // What the user should be told once (a file put aside), then empty.
    QString TakeMessage();

  private:
    bool OpenFile();
    void Close();
    bool PutAsideAndStartAfresh();
    bool StoreOnce(const StoredRun& run, bool& damaged);
    qint64 SongId(const QString& path, const QString& hash, bool create, bool& failed);

    QString m_folder;
    QString m_connection;
    int m_busyTimeoutMs;
    QString m_message;
    bool m_open = false;
};
