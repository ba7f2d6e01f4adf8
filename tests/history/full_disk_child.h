#pragma once

#include <QString>

// Run in a child process of the history tests (the test binary started again with
// --store-on-a-full-disk FOLDER SONG): stores runs while the file size limit stops every write,
// as a full disk would, and prints what the history did. The limit is the child's own, so the
// test process and its other files are never held by it.
int StoreOnAFullDisk(const QString& folder, const QString& song);
