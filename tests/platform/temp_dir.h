#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it. Others may
// pass through it, so that a test can act as an ordinary user inside.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pv-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
        ::chmod(m_path.c_str(), 0755);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs work as an ordinary user: root may write anywhere, so under root the work runs in a child
// that has given up its privileges. Returns work's answer.
inline bool RunAsOrdinaryUser(const std::function<bool()>& work) {
    if (::geteuid() != 0) {
        return work();
    }
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(3);
        }
        ::_exit(work() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
        std::abort();  // could not drop privileges: the test would prove nothing
    }
    return WEXITSTATUS(status) == 1;
}

// Runs work on another thread; while it waits for the other end of the FIFO, that end is
// opened and closed again so that the test ends, and false is returned.
inline bool EndsWithoutAPeer(const std::string& fifo, const std::function<void()>& work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        return true;
    }
    do {
        ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
    } while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready);
    return false;
}
