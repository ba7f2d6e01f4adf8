#include "ui/command_line.h"

#include <QDir>
#include <QUrl>

#ifndef PV_VERSION
#define PV_VERSION "1.0"
#endif

namespace {

QString AbsoluteFile(const QString& arg, const QString& currentDir) {
    QString path = arg;
    // A file manager may hand over a URL rather than a path.
    if (arg.startsWith(QStringLiteral("file:"))) {
        path = QUrl(arg).toLocalFile();
    }
    return QDir::cleanPath(QDir(currentDir).absoluteFilePath(path));
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args, const QString& currentDir) {
    CommandLine result;
    bool optionsEnded = false;
    for (const QString& arg : args) {
        if (!optionsEnded && arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.startsWith(QLatin1Char('-'))) {
            if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
                result.action = CommandLine::Action::Help;
                return result;
            }
            if (arg == QStringLiteral("--version")) {
                result.action = CommandLine::Action::Version;
                return result;
            }
            // Keep looking: a later --help still answers.
            if (result.action != CommandLine::Action::Error) {
                result.action = CommandLine::Action::Error;
                result.error = QStringLiteral("unknown option: %1").arg(arg);
            }
            continue;
        }
        if (arg.isEmpty()) {
            continue;
        }
        result.files.append(AbsoluteFile(arg, currentDir));
    }
    return result;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: pelorvane [FILE...]\n"
        "Practice player for MIDI keyboards whose keys light up.\n"
        "\n"
        "Each FILE (a Standard MIDI File) is added to the song list, as if dropped on the\n"
        "window; the last one is selected. When Pelorvane already runs in the same working\n"
        "folder, the files go to that window, which comes to the front, and this command ends.\n"
        "\n"
        "  -h, --help     show this help and exit\n"
        "      --version  show the version and exit\n"
        "\n"
        "The song list, the settings and the instrument names are songlist.txt, setting.txt\n"
        "and inst_name_gm.txt in the working folder (the launcher uses\n"
        "$XDG_DATA_HOME/pelorvane, usually ~/.local/share/pelorvane).\n");
}

QString VersionText() {
    return QStringLiteral("Pelorvane %1\n").arg(QStringLiteral(PV_VERSION));
}
