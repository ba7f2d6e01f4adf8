// pelorvane-history: prints the practice runs of one song from the history the window and
// pelorvane-play --record keep, oldest first, or exports the take of one of them. It only reads
// the history: the file is opened read-only, and a history it cannot read is reported, never
// moved, made or brought forward.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstring>

#include "history/history_line.h"
#include "history/practice_database.h"
#include "history/practice_folder.h"
#include "history/take_export_file.h"

namespace {

// --take N --export OUT.mid: N counts the runs as printed, from 1.
struct TakeExport {
    long run = 0;
    QString out;
};

bool ParseTakeExport(int argc, char** argv, TakeExport& e) {
    if (argc != 6 || std::strcmp(argv[2], "--take") != 0 || std::strcmp(argv[4], "--export") != 0) {
        return false;
    }
    char* end = nullptr;
    e.run = std::strtol(argv[3], &end, 10);
    e.out = QString::fromLocal8Bit(argv[5]);
    return end != argv[3] && *end == '\0' && e.run >= 1 && !e.out.isEmpty();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    TakeExport exportTake;
    const bool exporting = argc == 6 && ParseTakeExport(argc, argv, exportTake);
    if ((argc != 2 && !exporting) || std::strcmp(argv[1], "--help") == 0) {
        (argc == 2 ? out : err)
            << "usage: pelorvane-history FILE [--take N --export OUT.mid]\n"
               "Prints the practice runs of the MIDI file FILE, oldest first, from "
               "practice.sqlite in\n"
               "$XDG_DATA_HOME/pelorvane (usually ~/.local/share/pelorvane).\n"
               "With --take N --export OUT.mid, writes the song with what was played in the\n"
               "N-th run printed (from 1) as a track of its own to OUT.mid instead.\n";
        return argc == 2 ? 0 : 2;
    }
    PracticeDatabase db(PracticeFolder(), 2000, HistoryAccess::ReadOnly);
    if (!QFile::exists(db.FilePath())) {
        if (exporting) {
            err << "pelorvane-history: no run " << exportTake.run << " of " << argv[1] << "\n";
            return 1;
        }
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
    if (exporting) {
        if (static_cast<size_t>(exportTake.run) > runs.size()) {
            err << "pelorvane-history: no run " << exportTake.run << " of " << argv[1] << "\n";
            return 1;
        }
        const StoredRun& run = runs[static_cast<size_t>(exportTake.run - 1)];
        const std::optional<QByteArray> take =
            run.hasTake ? db.TakeOf(run.id) : std::optional<QByteArray>();
        if (!take) {
            const QString why = db.TakeMessage();
            err << "pelorvane-history: "
                << (why.isEmpty() ? QStringLiteral("run %1 has no take kept").arg(exportTake.run)
                                  : why)
                << "\n";
            return 1;
        }
        QString message;
        if (!ExportTake(song, *take, run.started, exportTake.out, &message)) {
            err << "pelorvane-history: " << message << "\n";
            return 1;
        }
        return 0;
    }
    for (const StoredRun& run : runs) {
        out << HistoryLine(run) << "\n";
    }
    return 0;
}
