// Time to store one practice run, as the window does at the end of each run: a fresh history in
// a temporary folder, then RUNS runs one after another, each in its own transaction. Prints
// `store p50=… p99=… max=… runs=…` in ms, and the time of the first store, which creates the
// file and its tables.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "history/practice_database.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 500;
    QTemporaryDir dir;
    PracticeDatabase db(dir.path());
    std::vector<double> ms;
    double first = 0;
    for (int i = 0; i <= runs; ++i) {
        StoredRun r;
        r.songPath = QStringLiteral("/songs/%1.mid").arg(i % 20);
        r.started = QDateTime::currentDateTimeUtc().addSecs(i);
        r.mode = QStringLiteral("accompaniment");
        r.notes = 120;
        r.hit = 100;
        QElapsedTimer t;
        t.start();
        if (!db.Store(r)) {
            QTextStream(stderr) << "store failed\n";
            return 1;
        }
        const double took = static_cast<double>(t.nsecsElapsed()) / 1e6;
        (i == 0 ? first : ms.emplace_back()) = took;
    }
    std::sort(ms.begin(), ms.end());
    QTextStream(stdout) << QStringLiteral("store first=%1 p50=%2 p99=%3 max=%4 runs=%5\n")
                               .arg(first, 0, 'f', 2)
                               .arg(ms[ms.size() / 2], 0, 'f', 2)
                               .arg(ms[ms.size() * 99 / 100], 0, 'f', 2)
                               .arg(ms.back(), 0, 'f', 2)
                               .arg(runs);
    return 0;
}
