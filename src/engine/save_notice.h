#pragma once

#include <string>
#include <vector>

// The program's own files (the song list, the settings) are written at exit, and setting.txt
// once more by the window's destructor. When a write fails (disk full, read-only folder) the old
// file stays whole and the data stays in memory, so a later write can still succeed; the learner
// is told once per file and run, not at every attempt.
class SaveNotice {
  public:
    // Notes a failed write of path; true the first time, when the learner is to be told.
    bool FirstFailure(const std::string& path);

  private:
    std::vector<std::string> m_told;
};

// The message for a file that could not be written.
std::string SaveFailureText(const std::string& path);
