#include "ui/practice_texts.h"

#include "history/stored_run.h"

QString TimingText(int ms) {
    if (ms == 0) {
        return QString::fromUtf8("ずれなし");
    }
    return ms > 0 ? QString::fromUtf8("%1 ms 遅れ").arg(ms)
                  : QString::fromUtf8("%1 ms 早め").arg(-ms);
}

QString SpeedText(int percent) {
    return QStringLiteral("x") + QString::number(percent / 100.0, 'f', percent % 10 == 0 ? 1 : 2);
}

QString ModeTitle(const QString& storedMode) {
    if (storedMode == QLatin1String("model")) {
        return QString::fromUtf8("お手本演奏");
    }
    if (storedMode == QLatin1String("lesson")) {
        return QString::fromUtf8("マイペースレッスン");
    }
    if (storedMode == QLatin1String("accompaniment")) {
        return QString::fromUtf8("伴奏演奏");
    }
    if (storedMode == QLatin1String("solo")) {
        return QString::fromUtf8("ソロ演奏");
    }
    return storedMode;
}

QString HandSuffix(const QString& storedHand) {
    if (storedHand == QLatin1String("right")) {
        return QString::fromUtf8("（右手）");
    }
    if (storedHand == QLatin1String("left")) {
        return QString::fromUtf8("（左手）");
    }
    return {};
}

QString ModeTitle(const QString& storedMode, const QString& storedHand) {
    return ModeTitle(storedMode) + HandSuffix(storedHand);
}

bool AnythingPlayed(const StoredRun& run) {
    if (run.mode == QLatin1String("lesson")) {
        return run.chords > 0;
    }
    if (run.mode == QLatin1String("accompaniment")) {
        return run.hit > 0 || run.extra > 0;
    }
    return true;
}
