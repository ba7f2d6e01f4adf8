// What a take costs: a scripted 10-minute take (8 keys a second with velocities, the pedal
// changed every 2 seconds) cut from the input stream, made into the form the history keeps, and
// stored with its run; then the size of a fresh history after RUNS such runs of one song.
// Prints `cut=… ms encode=… ms blob=… bytes`, `store p50=… max=… ms` and
// `file after N runs=… bytes` (the database with its journal folded in). With `lesson`, the
// learner keeps the song waiting 0.2 to 1.5 s at a chord every second, and the take keeps
// those waits too.
//   pelorvane-bench-takes [RUNS] [MINUTES] [lesson]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "engine/take_file.h"
#include "engine/take_recorder.h"
#include "history/practice_database.h"

namespace {

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

std::vector<PlayerAction> Script(uint32_t minutes, bool lesson, uint32_t& clockEnd) {
    std::vector<PlayerAction> actions;
    const uint32_t end = minutes * 60000;
    uint32_t waited = 0;  // how far the clock is ahead of the song
    for (uint32_t ms = 0; ms < end; ms += 125) {
        const auto key = static_cast<uint8_t>(48 + (ms / 125 * 7) % 36);
        if (lesson && ms % 1000 == 0) {
            waited += 200 + (ms / 1000 * 131) % 1300;
        }
        actions.push_back({PlayerAction::KeyDown, PlayerAction::Device, key,
                           static_cast<uint8_t>(40 + ms % 80), true, ms + waited, ms});
        actions.push_back({PlayerAction::KeyUp, PlayerAction::Device, key, 0, true,
                           ms + 100 + waited, ms + 100});
        if (ms % 2000 == 0) {
            actions.push_back({PlayerAction::Pedal, PlayerAction::Device, 0,
                               static_cast<uint8_t>(ms % 4000 == 0 ? 127 : 0), true, ms + waited,
                               ms});
        }
    }
    clockEnd = end + waited;
    return actions;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const uint32_t minutes = argc > 2 ? static_cast<uint32_t>(std::max(1, atoi(argv[2]))) : 10;
    const bool lesson = argc > 3 && QByteArray(argv[3]) == "lesson";
    TakeRecorder recorder;
    uint32_t clockEnd = 0;
    recorder.Feed(Script(minutes, lesson, clockEnd));
    PracticeRun run;
    run.durationMs = clockEnd + 1000;
    run.endSongMs = minutes * 60000 + 1000;
    QElapsedTimer t;
    t.start();
    const Take take = recorder.TakeOf(run);
    const double cut = Ms(t);
    t.restart();
    const std::vector<uint8_t> smf = TakeToSmf(take);
    const double encode = Ms(t);
    QTextStream out(stdout);
    out << QStringLiteral("cut=%1 ms encode=%2 ms blob=%3 bytes events=%4\n")
               .arg(cut, 0, 'f', 2)
               .arg(encode, 0, 'f', 2)
               .arg(smf.size())
               .arg(take.size());

    QTemporaryDir dir;
    std::vector<double> store;
    {
        PracticeDatabase db(dir.path());
        for (int i = 0; i < runs; ++i) {
            StoredRun r;
            r.songPath = QStringLiteral("/songs/one.mid");
            r.started = QDateTime::currentDateTimeUtc().addSecs(i);
            r.mode = QStringLiteral("accompaniment");
            r.accuracy = (i * 37 % 100) / 100.0;
            r.take = QByteArray(reinterpret_cast<const char*>(smf.data()),
                                static_cast<qsizetype>(smf.size()));
            t.restart();
            if (!db.Store(r)) {
                QTextStream(stderr) << "store failed: " << db.TakeMessage() << "\n";
                return 1;
            }
            store.push_back(Ms(t));
        }
    }
    std::vector<double> sorted = store;
    std::sort(sorted.begin(), sorted.end());
    out << QStringLiteral("store first=%1 p50=%2 max=%3 ms\n")
               .arg(store.front(), 0, 'f', 2)
               .arg(sorted[sorted.size() / 2], 0, 'f', 2)
               .arg(sorted.back(), 0, 'f', 2);
    const QString file = QDir(dir.path()).filePath(QStringLiteral("practice.sqlite"));
    out << QStringLiteral("file after %1 runs=%2 bytes\n").arg(runs).arg(QFileInfo(file).size());
    return 0;
}
