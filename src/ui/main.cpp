#include <QApplication>
#include <QDir>
#include <cstdio>

#include "ui/command_line.h"
#include "ui/pelorvane_app.h"
#include "ui/qt_translations.h"
#include "ui/x11_image_transfer.h"

int main(int argc, char** argv) {
    // --help and --version answer before anything needs a display.
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const CommandLine early = ParseCommandLine(args, QDir::currentPath());
    if (early.action == CommandLine::Action::Help) {
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (early.action == CommandLine::Action::Version) {
        std::fputs(VersionText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    X11ImageTransfer transfer;
    QApplication app(argc, argv);
    transfer.Settle();
    QApplication::setApplicationName(QStringLiteral("Pelorvane"));
    QApplication::setDesktopFileName(QStringLiteral("pelorvane"));
    // Qt has taken its own options (-platform, -display, ...) out by now.
    const CommandLine line =
        ParseCommandLine(QApplication::arguments().mid(1), QDir::currentPath());
    if (line.action == CommandLine::Action::Error) {
        std::fprintf(stderr, "pelorvane: %s\nTry 'pelorvane --help'.\n",
                     line.error.toLocal8Bit().constData());
        return 2;
    }
    InstallQtTranslations(app);
    CPelorvaneApp theApp;
    return theApp.InitInstance(line.files);
}
