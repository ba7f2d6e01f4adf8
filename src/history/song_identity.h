#pragma once

#include <QString>

// The hash of a song file's content (SHA-256, hex): a moved or renamed file keeps its history.
// Empty when the file cannot be read.
QString SongContentHash(const QString& path);
