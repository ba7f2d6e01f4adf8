#include "history/stored_run.h"

#include "engine/take_file.h"

std::optional<PracticeChoice> PartsOf(const StoredRun& run) {
    if (run.channels < 0) {
        return std::nullopt;
    }
    PracticeChoice parts;
    parts.channels = static_cast<uint16_t>(run.channels);
    parts.hand = run.hand == QLatin1String("right")  ? Hand::Right
                 : run.hand == QLatin1String("left") ? Hand::Left
                                                     : Hand::Both;
    return parts;
}

StoredRun ToStoredRun(const PracticeRun& run, const PracticeSummary& s, const QDateTime& started) {
    StoredRun r;
    r.songPath = QString::fromStdString(run.songPath);
    r.started = started.toUTC();
    r.mode = QString::fromLatin1(PlayModeName(run.mode));
    r.hand = QString::fromLatin1(HandName(run.hand));
    r.speed = run.speedPercent;
    r.channels = run.channels;
    r.splitKey = run.splitKey;
    r.firstBar = static_cast<int>(s.firstBar);
    r.lastBar = static_cast<int>(s.lastBar);
    r.durationMs = static_cast<int>(run.durationMs);
    r.notes = static_cast<int>(s.notes);
    r.hit = static_cast<int>(s.hit);
    r.missed = static_cast<int>(s.missed);
    r.extra = static_cast<int>(s.extra);
    r.chords = static_cast<int>(s.chords);
    r.waitP50 = static_cast<int>(s.waitP50);
    r.wrong = static_cast<int>(s.wrong);
    r.accuracy = s.accuracy;
    r.timingP50 = s.timingP50;
    r.timingSpread = s.timingSpread;
    if (!run.take.empty()) {
        const std::vector<uint8_t> smf = TakeToSmf(run.take);
        r.take = QByteArray(reinterpret_cast<const char*>(smf.data()),
                            static_cast<qsizetype>(smf.size()));
    }
    return r;
}
