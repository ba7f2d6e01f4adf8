// The program's arguments: files to add, --help and --version.

#include <QProcess>

#include <gtest/gtest.h>

#include "ui/command_line.h"

namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, FilesBecomeCleanAbsolutePathsInTheirOrder) {
    const CommandLine line = ParseCommandLine(
        {QStringLiteral("song.mid"), QStringLiteral("../other/b.MID"), QStringLiteral("/abs/c.mid"),
         QStringLiteral("file:///music/%E6%9B%B2.mid"), QStringLiteral("")},
        QStringLiteral("/home/user/dir"));
    EXPECT_EQ(line.action, Action::Run);
    EXPECT_EQ(line.files,
              (QStringList{QStringLiteral("/home/user/dir/song.mid"),
                           QStringLiteral("/home/user/other/b.MID"), QStringLiteral("/abs/c.mid"),
                           QStringLiteral("/music/曲.mid")}));
}

TEST(CommandLineTest, OptionsEndAtDoubleDashAndUnknownOnesAreErrors) {
    CommandLine line = ParseCommandLine(
        {QStringLiteral("--"), QStringLiteral("-odd.mid"), QStringLiteral("--help")},
        QStringLiteral("/w"));
    EXPECT_EQ(line.action, Action::Run);
    EXPECT_EQ(line.files,
              (QStringList{QStringLiteral("/w/-odd.mid"), QStringLiteral("/w/--help")}));

    line =
        ParseCommandLine({QStringLiteral("a.mid"), QStringLiteral("--play")}, QStringLiteral("/w"));
    EXPECT_EQ(line.action, Action::Error);
    EXPECT_TRUE(line.error.contains(QStringLiteral("--play")));

    // Help wins wherever it stands, also after a wrong option.
    line = ParseCommandLine({QStringLiteral("-x"), QStringLiteral("a.mid"), QStringLiteral("-h")},
                            QStringLiteral("/w"));
    EXPECT_EQ(line.action, Action::Help);
    line = ParseCommandLine({QStringLiteral("--version")}, QStringLiteral("/w"));
    EXPECT_EQ(line.action, Action::Version);
}

// The real program, with no display at all and the X11 platform forced: help and version must
// not try to open one.
TEST(CommandLineTest, HelpAndVersionNeedNoDisplay) {
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PV_PROGRAM), {option});
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << option.toStdString();
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        EXPECT_EQ(out, option == QStringLiteral("--help") ? HelpText() : VersionText());
    }
    QProcess wrong;
    wrong.start(
        QStringLiteral(PV_PROGRAM),
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--bogus")});
    ASSERT_TRUE(wrong.waitForFinished(10000));
    EXPECT_EQ(wrong.exitCode(), 2);
    EXPECT_TRUE(wrong.readAllStandardError().contains("--bogus"));
}

}  // namespace
