// Time to store one practice run, as the window does at the end of each run: a fresh history in
// a temporary folder, then RUNS runs handed one after another to the history's own thread, each
// stored in its own transaction there. Prints `store p50=… p99=… max=… runs=…` in ms, measured
// on that thread, with the time of the first store, which creates the file and its tables; and
// `handover p50=… p99=… max=…` in ms, what handing a run over costs the thread that hands it
// (the window's).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <vector>

#include "history/practice_database.h"
#include "history/practice_store_thread.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 500;
    QTemporaryDir dir;
    std::vector<double> ms;
    std::vector<double> handover;
    double first = 0;
    std::atomic<bool> failed{false};
    {
        PracticeStoreThread store(dir.path());
        for (int i = 0; i <= runs; ++i) {
            StoredRun r;
            r.songPath = QStringLiteral("/songs/%1.mid").arg(i % 20);
            r.started = QDateTime::currentDateTimeUtc().addSecs(i);
            r.mode = QStringLiteral("accompaniment");
            r.notes = 120;
            r.hit = 100;
            QElapsedTimer h;
            h.start();
            store.Post([&, r, i](PracticeDatabase& db) {
                QElapsedTimer t;
                t.start();
                if (!db.Store(r)) {
                    failed = true;
                }
                const double took = static_cast<double>(t.nsecsElapsed()) / 1e6;
                (i == 0 ? first : ms.emplace_back()) = took;
            });
            handover.push_back(static_cast<double>(h.nsecsElapsed()) / 1e6);
            // One run at a time, as runs end in practice; the next comes after this is stored.
            store.Finish();
        }
    }
    if (failed) {
        QTextStream(stderr) << "store failed\n";
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    QTextStream(stdout) << QStringLiteral("store first=%1 p50=%2 p99=%3 max=%4 runs=%5\n")
                               .arg(first, 0, 'f', 2)
                               .arg(ms[ms.size() / 2], 0, 'f', 2)
                               .arg(ms[ms.size() * 99 / 100], 0, 'f', 2)
                               .arg(ms.back(), 0, 'f', 2)
                               .arg(runs);
    std::sort(handover.begin(), handover.end());
    QTextStream(stdout) << QStringLiteral("handover p50=%1 p99=%2 max=%3\n")
                               .arg(handover[handover.size() / 2], 0, 'f', 3)
                               .arg(handover[handover.size() * 99 / 100], 0, 'f', 3)
                               .arg(handover.back(), 0, 'f', 3);
    return 0;
}
