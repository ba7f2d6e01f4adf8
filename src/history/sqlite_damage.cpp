#include "history/sqlite_damage.h"

#include <QSqlError>

namespace {
// SQLite's primary result codes, as Qt's driver passes them on; the extended codes carry the
// primary one in their low byte.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;
}  // namespace

bool IsDamage(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == kSqliteCorrupt || code == kSqliteNotADatabase);
}
