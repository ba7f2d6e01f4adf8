#pragma once

class QSqlDatabase;

// The history's schema, one step per version; PRAGMA user_version holds the version a file has.
inline constexpr int kPracticeSchemaVersion = 2;

// Brings the database up to version upTo in one transaction: a failed step leaves the file as
// it was.
bool MigratePracticeSchema(QSqlDatabase& db, int upTo = kPracticeSchemaVersion);
int PracticeSchemaVersion(QSqlDatabase& db);  // -1 when it cannot be read
