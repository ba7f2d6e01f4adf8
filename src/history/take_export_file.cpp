#include "history/take_export_file.h"

#include <QDir>
#include <QSaveFile>

#include "engine/take_export.h"
#include "engine/take_file.h"
#include "smf/smf.h"

namespace {

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

bool Fail(QString* message, const QString& text) {
    if (message) {
        *message = text;
    }
    return false;
}

}  // namespace

QString TakeTrackName(const QDateTime& started) {
    return started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

bool ExportTake(const QString& songPath, const QByteArray& take, const QDateTime& started,
                const QString& outPath, QString* message) {
    const std::optional<Take> played = TakeFromSmf(
        reinterpret_cast<const uint8_t*>(take.constData()), static_cast<size_t>(take.size()));
    if (!played) {
        return Fail(message, QStringLiteral("この回の演奏の記録は壊れているため読めません。"));
    }
    const std::unique_ptr<smf::Song> song = smf::LoadFromFile(songPath.toStdString());
    if (!song) {
        return Fail(message, QStringLiteral("ファイル\"%1\"はMIDIファイルではないか、読めません。")
                                 .arg(Shown(songPath)));
    }
    const std::optional<std::vector<uint8_t>> bytes =
        SongWithTake(*song, *played, TakeTrackName(started).toStdString());
    if (!bytes) {
        return Fail(message, QStringLiteral("ファイル\"%1\"は形式 2 の MIDI ファイルのため、演奏を"
                                            "重ねて保存できません。")
                                 .arg(Shown(songPath)));
    }
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<qint64>(bytes->size())) != static_cast<qint64>(bytes->size()) ||
        !out.commit()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return Fail(
            message,
            QStringLiteral("ファイル\"%1\"に書き込めません（%2）。").arg(Shown(outPath), why));
    }
    return true;
}
