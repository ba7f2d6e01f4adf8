#include "platform/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

StateFile Classify(const struct stat& st, std::uint64_t maxBytes) {
    if (!S_ISREG(st.st_mode)) {
        return StateFile::NotRegular;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return StateFile::TooLarge;
    }
    return StateFile::Usable;
}

}  // namespace

StateFile CheckStateFile(const std::string& path, std::uint64_t maxBytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? StateFile::Missing : StateFile::Unreadable;
    }
    const StateFile kind = Classify(st, maxBytes);
    if (kind != StateFile::Usable) {
        return kind;
    }
    return ::access(path.c_str(), R_OK) == 0 ? StateFile::Usable : StateFile::Unreadable;
}

StateFile ReadStateFile(const std::string& path, std::uint64_t maxBytes, std::string& content) {
    content.clear();
    const StateFile checked = CheckStateFile(path, maxBytes);
    if (checked != StateFile::Usable) {
        return checked;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? StateFile::Missing : StateFile::Unreadable;
    }
    struct stat st {};
    StateFile kind = ::fstat(fd, &st) == 0 ? Classify(st, maxBytes) : StateFile::Unreadable;
    char buffer[65536];
    while (kind == StateFile::Usable) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno != EINTR) {
                kind = StateFile::Unreadable;
            }
            continue;
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
        // The file may grow while it is read.
        if (content.size() > maxBytes) {
            kind = StateFile::TooLarge;
        }
    }
    ::close(fd);
    if (kind != StateFile::Usable) {
        content.clear();
    }
    return kind;
}

const char* DescribeStateFile(StateFile kind) {
    switch (kind) {
        case StateFile::Missing:
            return "missing";
        case StateFile::Usable:
            return "a regular file";
        case StateFile::NotRegular:
            return "not a regular file (a FIFO, a device, a socket or a folder)";
        case StateFile::TooLarge:
            return "too large to be a file of this program";
        case StateFile::Unreadable:
            return "not readable";
    }
    return "";
}
