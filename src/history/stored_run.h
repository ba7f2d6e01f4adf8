#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

#include "engine/practice_run.h"

// One run as the history keeps it.
struct StoredRun {
    QString songPath;
    QDateTime started;                      // UTC
    QString mode;                           // as pelorvane-play --mode names it
    QString hand = QStringLiteral("both");  // as pelorvane-play --hand names it
    int speed = 100;                        // percent
    int firstBar = 1;
    int lastBar = 1;
    int durationMs = 0;
    int notes = 0, hit = 0, missed = 0, extra = 0;
    int chords = 0, waitP50 = 0, wrong = 0;
    double accuracy = 0;  // 0-1
    int timingP50 = 0;
    int timingSpread = 0;
    // The channels practised, a bit each, and the key the song's hands divided at; -1 for a run
    // stored before they were kept.
    int channels = -1;
    int splitKey = -1;
    // Storing: the take as a Standard MIDI File (see take_file.h), none when empty. Reading:
    // left empty; hasTake tells whether one is kept, and id reads it (TakeOf).
    QByteArray take;
    bool hasTake = false;
    qint64 id = 0;
};

// What the run practised, as a start carries it; none for a run stored before it was kept.
std::optional<PracticeChoice> PartsOf(const StoredRun& run);

StoredRun ToStoredRun(const PracticeRun& run, const PracticeSummary& summary,
                      const QDateTime& started);
