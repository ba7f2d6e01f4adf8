// pelorvane-history: prints the practice runs of one song from the history the window and
// pelorvane-play --record keep, oldest first.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstring>

#include "history/history_line.h"
#include "history/practice_database.h"
#include "history/practice_folder.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        (argc == 2 ? out : err) << "usage: pelorvane-history FILE\n"
                                   "Prints the practice runs of the MIDI file FILE, oldest "
                                   "first, from practice.sqlite in\n"
                                   "$XDG_DATA_HOME/pelorvane (usually ~/.local/share/pelorvane).\n";
        return argc == 2 ? 0 : 2;
    }
    PracticeDatabase db(PracticeFolder());
    if (!QFile::exists(db.FilePath())) {
        return 0;  // nothing practised yet
    }
    const QString song = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const std::vector<StoredRun> runs = db.RunsOf(song);
    const QString message = db.TakeMessage();
    if (!message.isEmpty()) {
        err << "pelorvane-history: " << message << "\n";
    }
    for (const StoredRun& run : runs) {
        out << HistoryLine(run) << "\n";
    }
    return 0;
}
