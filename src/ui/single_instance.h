#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QLocalSocket;

// One running copy per working folder. The first copy holds a lock for the folder from before it
// reads songlist.txt until after it has written it, and listens on a local socket; a later start
// hands its files to that copy and ends. A lock left by a copy that died is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Role { Primary, HandedOver, Failed };

    // workDir: the working folder (its canonical path names the lock and the socket).
    // runtimeDir: where they live; empty means $XDG_RUNTIME_DIR, else the temporary folder.
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
    enum class HandOver { Done, NoServer, Lost };
    HandOver TryHandOver(const QStringList& files, int timeoutMs);
    void OnNewConnection();
    void OnReadable(QLocalSocket* socket);

    QString m_socketPath;
    QString m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QString m_error;
};
