#pragma once

class QSqlDatabase;
class QSqlError;

// The history's schema, one step per version; PRAGMA user_version holds the version a file has.
inline constexpr int kPracticeSchemaVersion = 5;

// Brings the database up to version upTo in one transaction: a failed step leaves the file as
// it was, and SQLite's answer is in error when asked for.
bool MigratePracticeSchema(QSqlDatabase& db, int upTo = kPracticeSchemaVersion,
                           QSqlError* error = nullptr);
// -1 when it cannot be read (SQLite's answer in error when asked for).
int PracticeSchemaVersion(QSqlDatabase& db, QSqlError* error = nullptr);
