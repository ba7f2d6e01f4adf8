#pragma once

class QSqlError;

// Whether SQLite's answer means the file itself is damaged (SQLITE_CORRUPT, SQLITE_NOTADB), as
// opposed to busy, locked, full, unwritable or any other passing state of the file or the disk.
bool IsDamage(const QSqlError& error);
