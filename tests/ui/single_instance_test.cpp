// One copy per working folder, with real processes of the program: handing files over, a lock
// left by a killed copy, two copies started at once, and a start while the first one closes.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <fstream>
#include <memory>

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

    QProcess& Start(const QStringList& files) {
        auto copy = std::make_unique<QProcess>();
        copy->setWorkingDirectory(m_dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("PELORVANE_MIDI"), QStringLiteral("memory"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
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
