#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <memory>

#include "smf/huge_pages.h"
#include "smf/smf.h"

namespace smf {

namespace {

// Closes the descriptor on every way out.
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

std::unique_ptr<Song> LoadFromFile(const std::string& path) {
    // Non-blocking: opening a named pipe would otherwise wait for a writer forever.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        return nullptr;
    }
    struct stat info {};
    // Only regular files: a device or a pipe could be endless or block forever.
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        return nullptr;
    }
    // Data offsets inside a song are 32-bit.
    if (static_cast<uint64_t>(info.st_size) > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) {
        return nullptr;
    }
    AdviseHugePages(buffer.get(), size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(file.fd, buffer.get() + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // the file shrank while we read it: take what is there
        }
        got += static_cast<std::size_t>(n);
    }
    return LoadFromMemory(buffer.get(), got);
}

}  // namespace smf
