#pragma once

#include <string_view>

// Diagnostics for developers: one line per message on standard error. A trailing newline in
// the text is dropped so that each message stays one line.
void DebugOutput(std::string_view text);

// Tests capture the lines instead of printing them. nullptr restores standard error.
using DebugSink = void (*)(std::string_view line);
void SetDebugSinkForTest(DebugSink sink);
