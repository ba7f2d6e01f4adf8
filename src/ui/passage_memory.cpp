#include "ui/passage_memory.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include "ui/settings_file_guard.h"

namespace {

// Paths may hold any character; a group name of their hash holds none that QSettings treats
// specially.
QString GroupOf(const QString& songPath) {
    return QStringLiteral("song-") +
           QString::fromLatin1(
               QCryptographicHash::hash(songPath.toUtf8(), QCryptographicHash::Sha1).toHex());
}

std::optional<uint32_t> Number(const QSettings& settings, const QString& key) {
    bool ok = false;
    const qulonglong value = settings.value(key).toString().toULongLong(&ok);
    if (!ok || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

QString PassageMemory::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pelorvane/passages.conf");
}

SongPassage PassageMemory::Read(const QString& songPath) const {
    SongPassage passage;
    if (m_path.isEmpty() || !SettingsFileUsable(m_path)) {
        return passage;
    }
    QSettings settings(m_path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return passage;
    }
    settings.beginGroup(GroupOf(songPath));
    if (settings.value(QStringLiteral("path")).toString() != songPath) {
        return passage;  // nothing stored, or another song's (a hash collision)
    }
    passage.start = Number(settings, QStringLiteral("start")).value_or(0);
    const auto a = Number(settings, QStringLiteral("loopA"));
    const auto b = Number(settings, QStringLiteral("loopB"));
    if (a && b && *a < *b) {
        passage.loop = LoopSpan{*a, *b};
    }
    const QString hand = settings.value(QStringLiteral("hand")).toString();
    passage.hand = hand == QStringLiteral("right")  ? Hand::Right
                   : hand == QStringLiteral("left") ? Hand::Left
                                                    : Hand::Both;
    const auto split = Number(settings, QStringLiteral("split"));
    if (split && *split <= 127) {
        passage.splitKey = static_cast<int>(*split);
    }
    return passage;
}

void PassageMemory::Write(const QString& songPath, const SongPassage& passage) {
    if (m_path.isEmpty() || !SettingsFileUsable(m_path)) {
        return;  // another song's place and loop may be in it
    }
    {
        const QSettings probe(m_path, QSettings::IniFormat);
        if (probe.status() == QSettings::AccessError) {
            return;  // not damaged, only out of reach this time
        }
        if (probe.status() != QSettings::NoError) {
            QFile::remove(m_path);  // damaged: nothing of it is carried over
        }
    }
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(GroupOf(songPath));
    if (passage == SongPassage{}) {
        settings.remove(QString());  // the song as it comes: nothing to remember
    } else {
        settings.setValue(QStringLiteral("path"), songPath);
        settings.setValue(QStringLiteral("start"), QString::number(passage.start));
        if (passage.loop) {
            settings.setValue(QStringLiteral("loopA"), QString::number(passage.loop->a));
            settings.setValue(QStringLiteral("loopB"), QString::number(passage.loop->b));
        } else {
            settings.remove(QStringLiteral("loopA"));
            settings.remove(QStringLiteral("loopB"));
        }
        if (passage.hand != Hand::Both) {
            settings.setValue(QStringLiteral("hand"), passage.hand == Hand::Right
                                                          ? QStringLiteral("right")
                                                          : QStringLiteral("left"));
        } else {
            settings.remove(QStringLiteral("hand"));
        }
        if (passage.splitKey != PartMap::kDefaultSplitKey) {
            settings.setValue(QStringLiteral("split"), QString::number(passage.splitKey));
        } else {
            settings.remove(QStringLiteral("split"));
        }
    }
    settings.endGroup();
    settings.sync();
}
