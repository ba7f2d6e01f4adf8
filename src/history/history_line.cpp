#include "history/history_line.h"

QString HistoryLine(const StoredRun& r) {
    return QStringLiteral(
               "run %1 %2 %3 bars=%4-%5 notes=%6 hit=%7 missed=%8 extra=%9 chords=%10 "
               "wait_p50=%11 wrong=%12 hand=%13")
        .arg(r.started.toUTC().toString(Qt::ISODate), r.mode)
        .arg(r.speed)
        .arg(r.firstBar)
        .arg(r.lastBar)
        .arg(r.notes)
        .arg(r.hit)
        .arg(r.missed)
        .arg(r.extra)
        .arg(r.chords)
        .arg(r.waitP50)
        .arg(r.wrong)
        .arg(r.hand);
}
