#pragma once

#include <QString>

// QSettings opens, reads and replaces its file without asking what it is: a FIFO would hang the
// window, a link to a device would have the device replaced, and an unreadable file would be
// replaced by one that keeps nothing of it. Ask here first.

// True when the settings file at path may be read and replaced: it is missing, or a regular
// file (a link to one counts) that can be read and is of a sane size. Otherwise the file is left
// alone, and that is said once per file on standard error.
bool SettingsFileUsable(const QString& path);
