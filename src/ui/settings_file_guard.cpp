#include "ui/settings_file_guard.h"

#include <QFile>
#include <QSet>

#include "platform/debug_output.h"
#include "platform/state_file.h"

bool SettingsFileUsable(const QString& path) {
    const StateFile kind =
        CheckStateFile(QFile::encodeName(path).toStdString(), kMaxSettingsFileBytes);
    if (kind == StateFile::Missing || kind == StateFile::Usable) {
        return true;
    }
    // Every read and write asks again; one line says it.
    static QSet<QString> reported;
    const QString key = path + QLatin1Char('\n') + QString::number(static_cast<int>(kind));
    if (!reported.contains(key)) {
        reported.insert(key);
        DebugOutput("state: " + path.toStdString() + " is " + DescribeStateFile(kind) +
                    "; left as it is");
    }
    return false;
}
