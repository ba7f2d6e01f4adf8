#pragma once

#include <QString>

#include "history/stored_run.h"

// The line pelorvane-history prints for a run.
QString HistoryLine(const StoredRun& run);
