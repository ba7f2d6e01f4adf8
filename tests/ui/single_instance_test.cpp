// One copy per working folder, with real processes of the program: handing files over, a lock
// left by a killed copy, two copies started at once, and a start while the first one closes.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <QLocalServer>
#include <QLocalSocket>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "platform/private_folder.h"
#include "ui/single_instance.h"
#include "ui_test_support.h"

namespace {

bool CatchesSigterm(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1u;
        }
    }
    return false;
}

// A raw connection to the socket; -1 when it could not connect.
int Connected(const QString& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A sender that announces more than it sends, then waits.
int UnfinishedSender(const QString& socketPath) {
    const int fd = Connected(socketPath);
    const char part[] = "\0\0\x10\0/half";  // 4096 bytes announced
    if (fd >= 0) {
        (void)!::send(fd, part, sizeof part - 1, MSG_NOSIGNAL);  // it may be closed already
    }
    return fd;
}

// True once the other end has closed the sender.
bool Dropped(int fd) {
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

int OpenHandles(qint64 pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

void LimitHandles(qint64 pid, int count) {
    rlimit limit{};
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, nullptr, &limit), 0);
    limit.rlim_cur = static_cast<rlim_t>(count);
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, &limit, nullptr), 0);
}

// Sets (or, given nothing, removes) an environment variable while it lives.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnv() { m_wasSet ? qputenv(m_name, m_old) : qunsetenv(m_name); }

  private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

class SingleInstanceTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_runtime = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(m_runtime);
        QFile::setPermissions(
            m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        SingleInstance names(m_dir.path(), m_runtime);
        m_socket = names.SocketPath();
        m_lock = names.LockPath();
    }
    void TearDown() override {
        for (auto& copy : m_copies) {
            if (copy->state() != QProcess::NotRunning) {
                copy->kill();
                copy->waitForFinished(5000);
            }
        }
        WindowTest::TearDown();
    }

    QProcess& Start(const QStringList& files,
                    const std::function<void(QProcessEnvironment&)>& adjust = {}) {
        auto copy = std::make_unique<QProcess>();
        copy->setWorkingDirectory(m_dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("PELORVANE_MIDI"), QStringLiteral("memory"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        if (adjust) {
            adjust(env);
        }
        copy->setProcessEnvironment(env);
        copy->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        copy->start(QStringLiteral(PV_PROGRAM), files);
        EXPECT_TRUE(copy->waitForStarted(10000));
        m_copies.push_back(std::move(copy));
        return *m_copies.back();
    }
    // The copy that holds the folder, by the process id in the lock file.
    qint64 LockHolder() const {
        QFile lock(m_lock);
        if (!lock.open(QIODevice::ReadOnly)) {
            return 0;
        }
        return lock.readLine().trimmed().toLongLong();
    }
    // Holds the folder, listens, and closes cleanly on SIGTERM (its handler is in place).
    bool WaitListening(QProcess& copy) {
        return WaitFor(
            [&] {
                return LockHolder() == copy.processId() && QFile::exists(m_socket) &&
                       CatchesSigterm(copy.processId());
            },
            15000);
    }
    static void Close(QProcess& copy) {
        copy.terminate();
        ASSERT_TRUE(copy.waitForFinished(15000));
        EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(copy.exitCode(), 0);
    }
    bool Listed(const std::string& path) const {
        return ReadFile("songlist.txt").find("\"" + path + "\"") != std::string::npos;
    }
    QString Q(const std::string& s) const { return QString::fromStdString(s); }

    QString m_runtime;
    QString m_socket;
    QString m_lock;
    std::vector<std::unique_ptr<QProcess>> m_copies;
};

TEST_F(SingleInstanceTest, ALaterStartHandsItsFilesToTheRunningCopyAndEnds) {
    const std::string kept = DemoSong(0);
    WriteSongList({kept});
    QProcess& first = Start({});
    ASSERT_TRUE(WaitListening(first));

    const std::string added = DemoSong(1);
    QProcess& second = Start({Q(added), QStringLiteral("gone.mid")});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    QProcess& third = Start({});  // nothing to hand over: the window only comes to the front
    ASSERT_TRUE(third.waitForFinished(15000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    Close(first);
    EXPECT_TRUE(Listed(kept));
    EXPECT_TRUE(Listed(added));
    EXPECT_FALSE(Listed(m_path + "/gone.mid"));
    EXPECT_FALSE(QFile::exists(m_lock));
}

TEST_F(SingleInstanceTest, ALockLeftByAKilledCopyDoesNotBlockTheNextStart) {
    const std::string kept = DemoSong(0);
    WriteSongList({kept});
    QProcess& crashed = Start({});
    ASSERT_TRUE(WaitListening(crashed));
    crashed.kill();
    ASSERT_TRUE(crashed.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(m_lock));
    ASSERT_TRUE(QFile::exists(m_socket));

    const std::string added = DemoSong(2);
    QProcess& next = Start({Q(added)});
    ASSERT_TRUE(WaitListening(next));
    // It took the folder over and works as the running copy.
    QProcess& later = Start({Q(DemoSong(1))});
    ASSERT_TRUE(later.waitForFinished(15000));
    EXPECT_EQ(later.exitCode(), 0);
    Close(next);
    EXPECT_TRUE(Listed(kept));
    EXPECT_TRUE(Listed(added));
    EXPECT_TRUE(Listed(m_path + "/02_yorokobi_no_uta.mid"));
}

TEST_F(SingleInstanceTest, TwoCopiesStartedTogetherBecomeOneAndKeepBothSongs) {
    const std::string a = DemoSong(1);
    const std::string b = DemoSong(2);
    QProcess& one = Start({Q(a)});
    QProcess& two = Start({Q(b)});
    // One of them hands over and ends; the other runs on.
    ASSERT_TRUE(WaitFor(
        [&] { return one.state() == QProcess::NotRunning || two.state() == QProcess::NotRunning; },
        15000));
    QProcess& ended = one.state() == QProcess::NotRunning ? one : two;
    QProcess& running = &ended == &one ? two : one;
    EXPECT_EQ(ended.exitCode(), 0);
    ASSERT_TRUE(WaitListening(running));
    Close(running);
    EXPECT_TRUE(Listed(a));
    EXPECT_TRUE(Listed(b));
}

TEST_F(SingleInstanceTest, AStartWhileTheRunningCopyClosesLosesNothing) {
    const std::string kept = DemoSong(0);
    WriteSongList({kept});
    const std::string songs[] = {DemoSong(1), DemoSong(2),
                                 WriteFile("copy.mid", ReadFile("01_kirakiraboshi.mid"))};
    for (const std::string& song : songs) {
        QProcess& old = Start({});
        ASSERT_TRUE(WaitListening(old));
        // The new start meets the old copy taking the files, or saving them on its way out.
        old.terminate();
        QProcess& fresh = Start({Q(song)});
        ASSERT_TRUE(old.waitForFinished(15000));
        EXPECT_EQ(old.exitCode(), 0);
        if (fresh.state() != QProcess::NotRunning && !fresh.waitForFinished(300)) {
            ASSERT_TRUE(WaitListening(fresh));
            Close(fresh);
        }
        EXPECT_EQ(fresh.exitCode(), 0);
        EXPECT_TRUE(Listed(kept)) << song;
        EXPECT_TRUE(Listed(song)) << song;
    }
}

TEST_F(SingleInstanceTest, FilesAreHandedOnlyToASocketInAFolderThatIsTheUsersAlone) {
    // No session runtime folder: the shared temporary folder, where another user came first.
    const QString shared = m_dir.filePath(QStringLiteral("tmp"));
    QDir().mkpath(shared);
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    QString socketPath;
    {
        const ScopedEnv tmp("TMPDIR", shared.toUtf8());
        const ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
        socketPath = SingleInstance(m_dir.path()).SocketPath();
    }
    const auto sharedTmp = [&](QProcessEnvironment& env) {
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), shared);
    };
    const QString folder = QFileInfo(socketPath).absolutePath();
    QDir().mkpath(folder);
    const QByteArray folderName = QFile::encodeName(folder);

    // The squatter answers as the running copy would.
    QLocalServer squatter;
    squatter.setSocketOptions(QLocalServer::WorldAccessOption);
    ASSERT_TRUE(squatter.listen(socketPath));
    QByteArray told;
    QObject::connect(&squatter, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = squatter.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, [&told, socket] {
            told += socket->readAll();
            socket->write("ok\n");
        });
    });
    const std::string song = DemoSong(1);
    // The folder is open to all; then it is the user's, but the socket in it is open to all.
    for (const mode_t mode : {01777, 0700}) {
        ::chmod(folderName.constData(), mode);
        QProcess& start = Start({Q(song)}, sharedTmp);
        ASSERT_TRUE(WaitFor([&] { return start.state() == QProcess::NotRunning; }, 15000));
        EXPECT_NE(start.exitCode(), 0) << "a start that neither runs nor hands over is a failure";
        EXPECT_TRUE(told.isEmpty()) << told.toStdString();
    }
    squatter.close();

    // Owned by another user: a second user id may not exist here, so the user is the other one.
    const uid_t other = ::getuid() + 1;
    EXPECT_NE(PrivateFolderProblem(m_runtime.toStdString(), other), "");
    EXPECT_EQ(PrivateFolderProblem(m_runtime.toStdString(), ::getuid()), "");
    QLocalServer own;
    ASSERT_TRUE(own.listen(m_socket));
    EXPECT_EQ(OwnSocketProblem(m_socket.toStdString(), ::getuid()), "");
    EXPECT_NE(OwnSocketProblem(m_socket.toStdString(), other), "");
    own.close();

    // Its own folder and socket: it runs, and a later start hands over to it.
    QDir(folder).removeRecursively();
    QProcess& first = Start({}, sharedTmp);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(socketPath); }, 15000));
    QProcess& later = Start({Q(song)}, sharedTmp);
    ASSERT_TRUE(later.waitForFinished(15000));
    EXPECT_EQ(later.exitCode(), 0);
    struct stat st {};
    ASSERT_EQ(::stat(folderName.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Close(first);
    EXPECT_TRUE(Listed(song));
}

TEST_F(SingleInstanceTest, TheRunningCopyKeepsListeningThroughSendersThatNeverFinish) {
    QProcess& first = Start({});
    ASSERT_TRUE(WaitListening(first));
    std::vector<int> senders;
    const auto flood = [&](int count) {
        for (int i = 0; i < count; ++i) {
            senders.push_back(UnfinishedSender(m_socket));
        }
    };
    // Room for more handles than it keeps senders, far fewer than the senders.
    const int inUse = OpenHandles(first.processId());
    LimitHandles(first.processId(), inUse + 24);
    flood(100);
    const auto dropped = [&] {
        return std::count_if(senders.begin(), senders.end(), [](int fd) { return Dropped(fd); });
    };
    EXPECT_TRUE(WaitFor([&] { return dropped() >= 100 - 16; }, 15000)) << dropped();
    EXPECT_TRUE(QFile::exists(m_socket));

    // Out of handles all the same (they went elsewhere): it listens again.
    for (int fd : senders) {
        ::close(fd);
    }
    senders.clear();
    WaitFor([&] { return OpenHandles(first.processId()) <= inUse; }, 1000);
    LimitHandles(first.processId(), OpenHandles(first.processId()) + 2);
    flood(20);
    const std::string song = DemoSong(1);
    QProcess& later = Start({Q(song)});
    ASSERT_TRUE(later.waitForFinished(20000));
    EXPECT_EQ(later.exitCode(), 0);
    for (int fd : senders) {
        ::close(fd);
    }
    Close(first);
    EXPECT_TRUE(Listed(song));
}

TEST_F(SingleInstanceTest, UnfinishedMessagesAreBoundInNumberSizeAndTime) {
    SingleInstance server(m_dir.path(), m_runtime);
    server.SetLimits({.connections = 2, .pendingBytes = 6000, .messageMs = 200, .watchMs = 1000});
    ASSERT_EQ(server.Start({}), SingleInstance::Role::Primary);
    QStringList received;
    QObject::connect(&server, &SingleInstance::FilesReceived,
                     [&](const QStringList& files) { received += files; });
    const auto send = [&](const QByteArray& bytes) {
        const int fd = UnfinishedSender(m_socket);
        (void)!::send(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
        return fd;
    };
    // Two hold 2 x 4 KB of unfinished messages: over the bytes allowed, the second goes.
    const int first = send(QByteArray(4000, 'a'));
    const int second = send(QByteArray(4000, 'b'));
    EXPECT_TRUE(WaitFor([&] { return Dropped(second); }));
    EXPECT_FALSE(Dropped(first));
    // Two open at once at most: a new one closes the one that has waited longest.
    const int third = UnfinishedSender(m_socket);
    ASSERT_TRUE(WaitFor([&] {
        const QList<QLocalSocket*> open = server.findChildren<QLocalSocket*>();
        return std::count_if(open.begin(), open.end(), [](QLocalSocket* socket) {
                   return socket->state() == QLocalSocket::ConnectedState;
               }) == 2;
    }));
    const int fourth = UnfinishedSender(m_socket);
    EXPECT_TRUE(WaitFor([&] { return Dropped(first); }));
    EXPECT_FALSE(Dropped(third));
    EXPECT_FALSE(Dropped(fourth));
    // Not finished in time: dropped, and a sender that finishes is answered.
    EXPECT_TRUE(WaitFor([&] { return Dropped(third) && Dropped(fourth); }));
    const QByteArray message = SingleInstance::EncodeFiles({QStringLiteral("/曲.mid")});
    const int good = Connected(m_socket);
    ASSERT_EQ(::send(good, message.constData(), message.size(), MSG_NOSIGNAL), message.size());
    EXPECT_TRUE(WaitFor([&] { return received == QStringList{QStringLiteral("/曲.mid")}; }));
    for (int fd : {first, second, third, fourth, good}) {
        ::close(fd);
    }
}

TEST(SingleInstanceMessageTest, FilesTravelWholeAndAnOversizedMessageIsRefused) {
    const QStringList files{QStringLiteral("/a/曲 1.mid"), QStringLiteral("/b/x.mid")};
    const QByteArray message = SingleInstance::EncodeFiles(files);
    QStringList got;
    bool bad = false;
    for (int cut = 0; cut < message.size(); ++cut) {
        EXPECT_FALSE(SingleInstance::DecodeFiles(message.left(cut), got, bad)) << cut;
        EXPECT_FALSE(bad);
    }
    ASSERT_TRUE(SingleInstance::DecodeFiles(message, got, bad));
    EXPECT_EQ(got, files);
    ASSERT_TRUE(SingleInstance::DecodeFiles(SingleInstance::EncodeFiles({}), got, bad));
    EXPECT_TRUE(got.isEmpty());

    EXPECT_FALSE(SingleInstance::DecodeFiles(QByteArray("\xff\xff\xff\xff", 4), got, bad));
    EXPECT_TRUE(bad);
    EXPECT_FALSE(SingleInstance::DecodeFiles(QByteArray("\0\0\0\2ab", 6), got, bad));
    EXPECT_TRUE(bad);  // not ended by a zero byte
}

}  // namespace
