#pragma once

#include <QString>

// The program's string table: the About entry and the tooltip of each control, keyed by the
// control's id. An id without a string yields an empty text.
QString LoadString(int id);
