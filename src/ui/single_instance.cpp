#include "ui/single_instance.h"

#include <unistd.h>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

namespace {

// Far more than any list of files a desktop hands over; a longer message is not ours.
constexpr quint32 kMaxMessage = 4u * 1024u * 1024u;
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
constexpr int kRetryMs = 50;

QString RuntimeFolder(const QString& given) {
    if (!given.isEmpty()) {
        return given;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
        return runtime;
    }
    return QDir::tempPath();
}

}  // namespace

SingleInstance::SingleInstance(const QString& workDir, const QString& runtimeDir) {
    QString folder = QFileInfo(workDir).canonicalFilePath();
    if (folder.isEmpty()) {
        folder = QDir(workDir).absolutePath();
    }
    const QByteArray hash =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    // The user id keeps users apart when the temporary folder is shared.
    const QString base =
        RuntimeFolder(runtimeDir) +
        QStringLiteral("/pelorvane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
    m_socketPath = base + QStringLiteral(".socket");
    m_lockPath = base + QStringLiteral(".lock");
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // The program runs for hours: only a lock whose process is gone is stale, never an old one.
    m_lock->setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

SingleInstance::~SingleInstance() {
    StopListening();
}

SingleInstance::Role SingleInstance::Start(const QStringList& files, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const HandOver handOver = TryHandOver(files, qMax<qint64>(deadline.remainingTime(), 1000));
        if (handOver == HandOver::Done) {
            return Role::HandedOver;
        }
        if (m_lock->tryLock(0)) {
            // A socket file left by a copy that died would make listening fail.
            QLocalServer::removeServer(m_socketPath);
            if (!m_server.listen(m_socketPath)) {
                m_error = QStringLiteral("cannot listen on %1: %2")
                              .arg(m_socketPath, m_server.errorString());
                m_lock->unlock();
                return Role::Failed;
            }
            return Role::Primary;
        }
        if (m_lock->error() == QLockFile::PermissionError) {
            m_error = QStringLiteral("cannot create the lock %1").arg(m_lockPath);
            return Role::Failed;
        }
        // Another copy holds the lock: it is starting, or saving its files on the way out.
        if (deadline.hasExpired()) {
            qint64 pid = 0;
            QString host;
            QString app;
            m_lock->getLockInfo(&pid, &host, &app);
            m_error =
                QStringLiteral("another copy in this working folder (process %1) does not answer")
                    .arg(pid);
            return Role::Failed;
        }
        QThread::msleep(kRetryMs);
    }
}

SingleInstance::HandOver SingleInstance::TryHandOver(const QStringList& files, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(1000)) {
        return HandOver::NoServer;
    }
    socket.write(EncodeFiles(files));
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return HandOver::Lost;
    }
    QByteArray answer;
    const QDeadlineTimer deadline(timeoutMs);
    while (answer.size() < kAnswer.size() && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(static_cast<int>(qMax<qint64>(deadline.remainingTime(), 1)))) {
            break;
        }
        answer += socket.readAll();
    }
    // Without the answer the copy closed before it took the files; the caller tries again and
    // finds its successor or becomes it.
    return answer.startsWith(kAnswer) ? HandOver::Done : HandOver::Lost;
}

void SingleInstance::StopListening() {
    if (m_server.isListening()) {
        m_server.close();
    }
    for (QLocalSocket* socket : findChildren<QLocalSocket*>()) {
        socket->abort();
        socket->deleteLater();
    }
}

void SingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0) {
            OnReadable(socket);
        }
    }
}

void SingleInstance::OnReadable(QLocalSocket* socket) {
    QByteArray buffer = socket->property("pv_buffer").toByteArray();
    buffer += socket->readAll();
    QStringList files;
    bool bad = false;
    if (!DecodeFiles(buffer, files, bad)) {
        if (bad) {
            socket->abort();
        } else {
            socket->setProperty("pv_buffer", buffer);
        }
        return;
    }
    socket->setProperty("pv_buffer", QByteArray());
    // Answered once the files are in the window's queue, which keeps them until they are added.
    emit FilesReceived(files);
    socket->write(kAnswer);
    socket->flush();
    socket->disconnectFromServer();
}

QByteArray SingleInstance::EncodeFiles(const QStringList& files) {
    QByteArray payload;
    for (const QString& file : files) {
        payload += file.toUtf8();
        payload += '\0';
    }
    QByteArray message(4, '\0');
    qToBigEndian(static_cast<quint32>(payload.size()), message.data());
    return message + payload;
}

bool SingleInstance::DecodeFiles(const QByteArray& buffer, QStringList& files, bool& bad) {
    bad = false;
    files.clear();
    if (buffer.size() < 4) {
        return false;
    }
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > kMaxMessage) {
        bad = true;
        return false;
    }
    if (static_cast<quint64>(buffer.size()) < 4u + length) {
        return false;
    }
    const QByteArray payload = buffer.mid(4, static_cast<qsizetype>(length));
    if (!payload.isEmpty() && !payload.endsWith('\0')) {
        bad = true;
        return false;
    }
    qsizetype start = 0;
    while (start < payload.size()) {
        const qsizetype end = payload.indexOf('\0', start);
        const QByteArray name = payload.mid(start, end - start);
        if (!name.isEmpty()) {
            files.append(QString::fromUtf8(name));
        }
        start = end + 1;
    }
    return true;
}
