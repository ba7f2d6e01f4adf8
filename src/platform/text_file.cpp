#include "platform/text_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/debug_output.h"
#include "platform/state_file.h"

namespace {

// Number of bytes of the UTF-8 sequence that starts at data[i], or 0 when it is not a valid,
// shortest-form sequence of a scalar value.
std::size_t Utf8SequenceLength(const unsigned char* data, std::size_t size, std::size_t i) {
    unsigned char c = data[i];
    if (c < 0x80) {
        return 1;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (c == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) {
            low = 0x90;
        } else if (c == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (size - i < length) {
        return 0;
    }
    if (data[i + 1] < low || data[i + 1] > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if ((data[i + k] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// CP932 (Windows Japanese) through iconv; false when iconv lacks it or the bytes are not CP932.
bool Cp932ToUtf8(const std::string& bytes, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        static std::atomic<bool> reported{false};
        if (!reported.exchange(true)) {
            DebugOutput("text: iconv has no CP932; legacy text is read as Latin-1");
        }
        return false;
    }
    out.clear();
    // Each CP932 byte becomes at most three UTF-8 bytes.
    std::string buffer(bytes.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    bool ok = result != static_cast<std::size_t>(-1) && inLeft == 0;
    if (ok) {
        // Flush any shift state (CP932 has none, but the call is cheap and correct).
        ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    }
    iconv_close(cd);
    if (!ok) {
        return false;
    }
    out.assign(buffer.data(), buffer.size() - outLeft);
    return true;
}

// Hands out one decoded line in pieces of at most kMaxLinePiece characters, never splitting a
// UTF-8 sequence. An empty line is one empty piece.
void EmitLine(const std::string& raw, const std::function<void(const std::string&)>& onLine) {
    std::string text = DecodeLegacyText(raw);
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t start = 0;
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (count == kMaxLinePiece) {
            onLine(text.substr(start, i - start));
            start = i;
            count = 0;
        }
        std::size_t length = Utf8SequenceLength(data, text.size(), i);
        i += length == 0 ? 1 : length;  // decoded text is valid; stay safe regardless
        ++count;
    }
    if (count > 0 || text.empty()) {
        onLine(text.substr(start));
    }
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    const StateFile kind = ReadStateFile(path, kMaxTextFileBytes, content);
    if (kind != StateFile::Usable && kind != StateFile::Missing) {
        DebugOutput("text: " + path + " is " + DescribeStateFile(kind) + "; not read");
    }
    return kind == StateFile::Usable;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

// A symbolic link at path is kept: the file it points to is replaced instead.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t length = Utf8SequenceLength(data, bytes.size(), i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string DecodeLegacyText(const std::string& bytes) {
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    std::string decoded;
    if (Cp932ToUtf8(bytes, decoded) && IsValidUtf8(decoded)) {
        return decoded;
    }
    return Latin1ToUtf8(bytes);
}

namespace {

void SplitLines(const char* data, std::size_t size, bool inPieces,
                const std::function<void(const std::string&)>& onLine) {
    std::string_view text(data, size);
    // A byte order mark written by some Windows editors is not part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (inPieces) {
            EmitLine(std::string(line), onLine);
        } else {
            onLine(DecodeLegacyText(std::string(line)));
        }
    }
}

bool ReadFileLines(const std::string& path, bool inPieces,
                   const std::function<void(const std::string&)>& onLine) {
    std::string content;
    if (!ReadWholeFile(path, content)) {
        return false;
    }
    SplitLines(content.data(), content.size(), inPieces, onLine);
    return true;
}

}  // namespace

void ReadTextLinesFromBuffer(const char* data, std::size_t size,
                             const std::function<void(const std::string&)>& onLine) {
    SplitLines(data, size, true, onLine);
}

bool ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine) {
    return ReadFileLines(path, true, onLine);
}

void ReadWholeTextLinesFromBuffer(const char* data, std::size_t size,
                                  const std::function<void(const std::string&)>& onLine) {
    SplitLines(data, size, false, onLine);
}

bool ReadWholeTextLines(const std::string& path,
                        const std::function<void(const std::string&)>& onLine) {
    return ReadFileLines(path, false, onLine);
}

bool WriteTextFileAtomically(const std::string& path, const std::vector<std::string>& lines) {
    if (path.empty()) {
        return false;
    }
    const std::string target = ResolveTarget(path);
    const std::string directory = DirectoryOf(target);
    // Only a regular file is replaced, and only one that could be read: anything else was not
    // written by this program, or holds what the learner would lose unseen.
    const StateFile kind = CheckStateFile(target, kMaxTextFileBytes);
    if (kind != StateFile::Missing && kind != StateFile::Usable) {
        DebugOutput("text: " + target + " is " + DescribeStateFile(kind) + "; not replaced");
        return false;
    }
    // A file the user has made read-only stays as it is, as it would if written in place.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        DebugOutput("text: " + target + " is read-only");
        return false;
    }

    std::string content;
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }

    // The temporary file lives beside the target so that the rename stays on one file system.
    static std::atomic<unsigned> counter{0};
    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath = target + ".tmp-" + std::to_string(::getpid()) + "-" +
                   std::to_string(counter.fetch_add(1));
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        DebugOutput("text: cannot create a temporary file beside " + target);
        return false;
    }

    // Keep the permissions the user gave the old file.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }

    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        DebugOutput("text: cannot write " + target);
        return false;
    }

    // Make the rename itself durable.
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
