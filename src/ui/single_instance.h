#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

class QLocalSocket;

// One running copy per working folder. The first copy holds a lock for the folder from before it
// reads songlist.txt until after it has written it, and listens on a local socket; a later start
// hands its files to that copy and ends. A lock left by a copy that died is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Role { Primary, HandedOver, Failed };

    // What the running copy holds for senders at most, and for how long.
    struct Limits {
        int connections = 16;                    // open at once; a new one closes the oldest
        qint64 pendingBytes = 16 * 1024 * 1024;  // of unfinished messages, all senders together
        int messageMs = 5000;                    // for a sender to finish its message
        int watchMs = 1000;                      // how often a lost socket is looked for
    };

    // workDir: the working folder (its canonical path names the lock and the socket).
    // runtimeDir: where they live; empty means $XDG_RUNTIME_DIR when it is the user's alone,
    // else a folder of the user's own in the temporary folder. The folder is checked before use.
    explicit SingleInstance(const QString& workDir, const QString& runtimeDir = {});
    ~SingleInstance() override;

    // Becomes the copy for the folder, or hands files (possibly none: the window only comes to
    // the front) to the copy that runs. Waits at most timeoutMs for a copy that holds the lock
    // but does not answer yet (one that is starting or saving on its way out).
    Role Start(const QStringList& files, int timeoutMs = 15000);
    QString ErrorText() const { return m_error; }

    // Stops taking files: connections not answered yet are dropped, so their senders try again
    // and wait for this copy to end. The lock stays until the object is destroyed.
    void StopListening();

    void SetLimits(const Limits& limits) { m_limits = limits; }

    QString SocketPath() const { return m_socketPath; }
    QString LockPath() const { return m_lockPath; }

    // The message a sender writes: a 4-byte big-endian length, then the paths in UTF-8, each
    // ended by a zero byte. Exposed for the tests.
    static QByteArray EncodeFiles(const QStringList& files);
    // Reads a complete message from buffer; false while it is incomplete. A message that can
    // never be valid (too long) sets bad.
    static bool DecodeFiles(const QByteArray& buffer, QStringList& files, bool& bad);

  signals:
    // Files from a later start, in its order; also emitted with none.
    void FilesReceived(const QStringList& files);

  private:
    enum class HandOver { Done, NoServer, Lost, Foreign };
    HandOver TryHandOver(const QStringList& files, int timeoutMs);
    bool Listen();
    void OnNewConnection();
    void OnReadable(QLocalSocket* socket);
    void OnMessageTimeout(QLocalSocket* socket);
    void Drop(QLocalSocket* socket);
    qint64 PendingBytes() const;
    // Out of file handles, the server stops listening and removes its socket for good; this
    // brings it back.
    void Watch();

    QString m_folder;
    QString m_socketPath;
    QString m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QTimer m_watch;
    Limits m_limits;
    QString m_error;
};
