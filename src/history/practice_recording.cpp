#include "history/practice_recording.h"

#include "engine/practice_log.h"
#include "history/practice_database.h"
#include "platform/clock.h"
#include "smf/meter_map.h"

std::vector<RecordedRun> CollectFinishedRuns(PracticeLog& log, bool flush) {
    const uint32_t now = NowMs();
    const QDateTime nowUtc = QDateTime::currentDateTimeUtc();
    std::vector<RecordedRun> recorded;
    for (PracticeRun& run : log.Collect(now, flush)) {
        RecordedRun r;
        const auto meter = log.MeterOf(run.song);
        const smf::MeterMap fallback;
        const smf::MeterMap& m = meter ? *meter : fallback;
        r.summary = Summarize(run, m);
        r.hardestBars = HardestBars(run, m);
        r.played = AnythingPlayed(run);
        const QDateTime started = nowUtc.addMSecs(-static_cast<qint64>(now - run.startClockMs));
        r.stored = ToStoredRun(run, r.summary, started);
        r.run = std::move(run);
        recorded.push_back(std::move(r));
    }
    return recorded;
}

std::vector<RecordedRun> RecordFinishedRuns(PracticeLog& log, PracticeDatabase& db, bool flush) {
    std::vector<RecordedRun> recorded = CollectFinishedRuns(log, flush);
    for (RecordedRun& r : recorded) {
        r.saved = db.Store(r.stored);
    }
    return recorded;
}
