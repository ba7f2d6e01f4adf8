#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelorvane-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data())) {
            m_path = made;
            // Others may pass through, so that a test can act as an unprivileged user inside.
            ::chmod(m_path.c_str(), 0755);
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs work as an ordinary user: root may write anywhere, so under root the work runs in a
// child process that has given up its privileges. Returns work's answer.
inline bool RunAsOrdinaryUser(const std::function<bool()>& work) {
    if (::geteuid() != 0) {
        return work();
    }
    std::fflush(nullptr);
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
        std::fprintf(stderr, "RunAsOrdinaryUser: the child could not drop its privileges\n");
        std::abort();
    }
    return WEXITSTATUS(status) == 1;
}

// Runs work without write permission on the folder.
inline bool RunWithoutWriteAccess(const std::string& folder, const std::function<bool()>& work) {
    ::chmod(folder.c_str(), 0555);
    bool result = RunAsOrdinaryUser(work);
    ::chmod(folder.c_str(), 0755);
    return result;
}
