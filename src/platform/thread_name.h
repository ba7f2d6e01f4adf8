#pragma once

// Names the calling thread as the system shows it (top -H, /proc/PID/task/*/comm), so that a
// thread's share of the processor and its wake-ups can be told apart from the others'. At most
// 15 characters are kept.
void NameThisThread(const char* name);
