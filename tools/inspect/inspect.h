#pragma once

#include <cstdio>

// pelorvane-inspect [--summary] FILE: loads the file as the program does and prints what it
// made of it, one item a line. Returns the exit status: 0, 1 file not found, 2 not a MIDI
// file, 64 wrong arguments.
int RunInspect(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
