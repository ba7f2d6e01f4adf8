// pelorvane-history: prints the practice runs of one song from the history the window and
// pelorvane-play --record keep, oldest first. It only reads: the file is opened read-only, and a
// history it cannot read is reported, never moved, made or brought forward.

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
    PracticeDatabase db(PracticeFolder(), 2000, HistoryAccess::ReadOnly);
    if (!QFile::exists(db.FilePath())) {
        return 0;  // nothing practised yet
    }
    const QString song = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    bool read = false;
    const std::vector<StoredRun> runs = db.RunsOf(song, &read);
    const QString message = db.TakeMessage();
    if (!message.isEmpty()) {
        err << "pelorvane-history: " << message << "\n";
    }
    if (!read) {
        if (message.isEmpty()) {
            err << "pelorvane-history: cannot read " << db.FilePath() << "\n";
        }
        return 1;
    }
    for (const StoredRun& run : runs) {
        out << HistoryLine(run) << "\n";
    }
    return 0;
}
