#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Writes OUT.mid: the song of songPath with the take of a run (as the history keeps it) as a
// track of its own named with the run's date. Written beside the target and renamed over it, so
// that a failed write leaves nothing half written. False with what went wrong in message (to
// show as it is) when nothing was written.
bool ExportTake(const QString& songPath, const QByteArray& take, const QDateTime& started,
                const QString& outPath, QString* message);

// The take track's name: the run's start in local time.
QString TakeTrackName(const QDateTime& started);
