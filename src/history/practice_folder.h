#pragma once

#include <QString>

inline constexpr const char* kPracticeDatabaseName = "practice.sqlite";

// The window's working folder, where the tools find the same history: $XDG_DATA_HOME/pelorvane,
// or ~/.local/share/pelorvane.
QString PracticeFolder();
