#include "full_disk_child.h"

#include <sys/resource.h>

#include <QTextStream>
#include <csignal>

#include "history/practice_database.h"

namespace {

// Writes past this many bytes of any file fail (EFBIG), as they would on a full disk; the hard
// limit stays, so the child can lift it again.
bool LimitWrites(rlim_t bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

StoredRun Run(const QString& song, int minute) {
    StoredRun r;
    r.songPath = song;
    r.started = QDateTime(QDate(2026, 12, 3), QTime(8, minute), Qt::UTC);
    r.mode = QStringLiteral("lesson");
    return r;
}

}  // namespace

int StoreOnAFullDisk(const QString& folder, const QString& song) {
    QTextStream out(stdout);
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending us
    PracticeDatabase db(folder, 50);
    if (!db.Open()) {
        out << "not opened\n";
        return 1;
    }
    // Full while a run ends: kept, and stored once there is room again.
    if (!LimitWrites(1024)) {
        return 2;
    }
    out << "stored " << db.Store(Run(song, 1)) << " kept " << db.PendingCount() << "\n";
    out << "message " << db.TakeMessage() << "\n";
    if (!LimitWrites(RLIM_INFINITY)) {
        return 2;
    }
    out << "stored later " << db.StorePending() << "\n";
    // Still full at close: told once, the file left as it is.
    if (!LimitWrites(1024)) {
        return 2;
    }
    db.Store(Run(song, 2));
    out << "settled " << db.Settle(150) << "\n";
    out << "message " << db.TakeMessage() << "\n";
    return 0;
}
