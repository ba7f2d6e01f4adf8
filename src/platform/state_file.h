#pragma once

#include <cstdint>
#include <string>

// The program's own files (the song list, the settings, the window's state) are read and
// replaced only when they are what they claim to be. Opening a FIFO waits for a writer for good,
// renaming over a device node replaces it, and a file that could not be read holds something
// the learner would lose if it were replaced unseen.

enum class StateFile {
    Missing,     // nothing there (or a symbolic link to nothing): may be created
    Usable,      // a regular file (a symbolic link to one counts) that can be read, of a sane size
    NotRegular,  // a FIFO, a device, a socket or a folder
    TooLarge,    // larger than anything this program writes
    Unreadable,  // there, but this process may not read it
};

// Text files: far more than any song list the learner could gather.
inline constexpr std::uint64_t kMaxTextFileBytes = 16u * 1024u * 1024u;
// The window's state and the remembered passages.
inline constexpr std::uint64_t kMaxSettingsFileBytes = 1024u * 1024u;

// Looks at path without opening it.
StateFile CheckStateFile(const std::string& path, std::uint64_t maxBytes);

// Reads the whole file when it is usable; else returns what it is and leaves content empty. The
// file is opened without waiting and looked at again once open, so one swapped in after the
// check cannot make the read hang or run long.
StateFile ReadStateFile(const std::string& path, std::uint64_t maxBytes, std::string& content);

// "a FIFO, a device or a folder", ... for messages on standard error.
const char* DescribeStateFile(StateFile kind);
