#include "ui/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>
#include <algorithm>

#include "platform/debug_output.h"
#include "platform/private_folder.h"

namespace {

// Far more than any list of files a desktop hands over; a longer message is not ours.
constexpr quint32 kMaxMessage = 4u * 1024u * 1024u;
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
constexpr int kRetryMs = 50;

std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The session's runtime folder when it is the user's alone; else a folder of the user's own in
// the temporary folder, which another user may have taken first (then nothing is handed over).
QString RuntimeFolder(const QString& given) {
    if (!given.isEmpty()) {
        return given;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) &&
        PrivateFolderProblem(Encoded(runtime), ::getuid()).empty()) {
        return runtime;
    }
    return QDir::tempPath() + QStringLiteral("/pelorvane-%1").arg(::getuid());
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
    m_folder = RuntimeFolder(runtimeDir);
    const QString base =
        m_folder +
        QStringLiteral("/pelorvane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
    m_socketPath = base + QStringLiteral(".socket");
    m_lockPath = base + QStringLiteral(".lock");
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // The program runs for hours: only a lock whose process is gone is stale, never an old one.
    m_lock->setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    connect(&m_watch, &QTimer::timeout, this, &SingleInstance::Watch);
}

SingleInstance::~SingleInstance() {
    StopListening();
}

SingleInstance::Role SingleInstance::Start(const QStringList& files, int timeoutMs) {
    const std::string folderProblem = MakePrivateFolder(Encoded(m_folder), ::getuid());
    if (!folderProblem.empty()) {
        m_error = QStringLiteral(
                      "the folder %1 is not yours alone (%2); remove it or set "
                      "XDG_RUNTIME_DIR to a folder of mode 700 that you own")
                      .arg(m_folder, QString::fromStdString(folderProblem));
        return Role::Failed;
    }
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const HandOver handOver = TryHandOver(files, qMax<qint64>(deadline.remainingTime(), 1000));
        if (handOver == HandOver::Done) {
            return Role::HandedOver;
        }
        if (handOver == HandOver::Foreign) {
            return Role::Failed;
        }
        if (m_lock->tryLock(0)) {
            if (!Listen()) {
                m_error = QStringLiteral("cannot listen on %1: %2")
                              .arg(m_socketPath, m_server.errorString());
                m_lock->unlock();
                return Role::Failed;
            }
            m_watch.start(m_limits.watchMs);
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
    // The folder is the user's alone, so this holds only if something went badly wrong; the
    // files' names are still not told to a socket that is not the user's own.
    const std::string foreign = OwnSocketProblem(Encoded(m_socketPath), ::getuid());
    if (!foreign.empty()) {
        m_error = QStringLiteral("the socket %1 is not yours (%2); nothing was handed to it")
                      .arg(m_socketPath, QString::fromStdString(foreign));
        return HandOver::Foreign;
    }
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

bool SingleInstance::Listen() {
    // A socket file left by a copy that died would make listening fail.
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath);
}

void SingleInstance::StopListening() {
    m_watch.stop();
    if (m_server.isListening()) {
        m_server.close();
    }
    for (QLocalSocket* socket : findChildren<QLocalSocket*>()) {
        socket->abort();
        socket->deleteLater();
    }
}

void SingleInstance::Watch() {
    if (m_server.isListening()) {
        return;
    }
    DebugOutput("single instance: the socket was lost (" + m_server.errorString().toStdString() +
                "); listening again");
    // Senders that had not finished are the likely cause; their handles are needed now.
    for (QLocalSocket* socket : findChildren<QLocalSocket*>()) {
        if (!socket->property("pv_answered").toBool()) {
            Drop(socket);
        }
    }
    if (!Listen()) {
        DebugOutput("single instance: cannot listen yet: " + m_server.errorString().toStdString());
    }
}

void SingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // A full house makes room by closing the sender that has waited longest: a real sender
        // finishes at once, so that is one that never will. Children keep their order.
        const QList<QLocalSocket*> senders =
            findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly);
        qsizetype open = std::count_if(senders.begin(), senders.end(), [](QLocalSocket* other) {
            return other->state() == QLocalSocket::ConnectedState;
        });
        for (QLocalSocket* other : senders) {
            if (open <= m_limits.connections) {
                break;
            }
            if (other->state() == QLocalSocket::ConnectedState &&
                !other->property("pv_answered").toBool()) {
                Drop(other);
                --open;
            }
        }
        if (socket->state() != QLocalSocket::ConnectedState) {
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, socket] { OnMessageTimeout(socket); });
        timer->start(m_limits.messageMs);
        if (socket->bytesAvailable() > 0) {
            OnReadable(socket);
        }
    }
}

void SingleInstance::OnMessageTimeout(QLocalSocket* socket) {
    if (socket->bytesAvailable() > 0) {
        OnReadable(socket);  // it came, but the window was busy
    }
    if (!socket->property("pv_answered").toBool()) {
        Drop(socket);
    }
}

void SingleInstance::Drop(QLocalSocket* socket) {
    socket->setProperty("pv_buffer", QByteArray());
    socket->abort();
    socket->deleteLater();
}

qint64 SingleInstance::PendingBytes() const {
    qint64 bytes = 0;
    for (const QLocalSocket* socket : findChildren<QLocalSocket*>()) {
        bytes += socket->property("pv_buffer").toByteArray().size();
    }
    return bytes;
}

void SingleInstance::OnReadable(QLocalSocket* socket) {
    if (socket->property("pv_answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray fresh = socket->readAll();
    if (PendingBytes() + fresh.size() > m_limits.pendingBytes) {
        Drop(socket);
        return;
    }
    QByteArray buffer = socket->property("pv_buffer").toByteArray() + fresh;
    QStringList files;
    bool bad = false;
    if (!DecodeFiles(buffer, files, bad)) {
        if (bad) {
            Drop(socket);
        } else {
            socket->setProperty("pv_buffer", buffer);
        }
        return;
    }
    socket->setProperty("pv_buffer", QByteArray());
    socket->setProperty("pv_answered", true);
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
