#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// One of our programs run by a test: its environment is the test's with some variables added,
// its standard output and error go to files beside each other. A child still running when this
// goes is killed, so that a failed test leaves nothing behind.
class ChildProcess {
  public:
    using Variables = std::vector<std::pair<std::string, std::string>>;

    // outputBase names the files: outputBase.out and outputBase.err.
    ChildProcess(const std::vector<std::string>& argv, const Variables& variables,
                 const std::string& outputBase)
        : m_out(outputBase + ".out"), m_err(outputBase + ".err") {
        // Everything the child needs is made before the fork: the test's other threads (JACK's
        // among them) may hold the allocator's lock at that moment, so the child only opens,
        // duplicates and executes.
        std::vector<std::string> environment;
        for (char** v = environ; *v; ++v) {
            const std::string entry = *v;
            bool replaced = false;
            for (const auto& [name, value] : variables) {
                replaced = replaced || entry.starts_with(name + "=");
            }
            if (!replaced) {
                environment.push_back(entry);
            }
        }
        for (const auto& [name, value] : variables) {
            environment.push_back(name + "=" + value);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid != 0) {
            return;
        }
        const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ~ChildProcess() {
        if (m_pid > 0 && !m_code) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // True while the child has not ended.
    bool Running() {
        Reap(WNOHANG);
        return m_pid > 0 && !m_code;
    }
    // Its exit code (128 and the signal when a signal ended it), once it has ended within the
    // limit; nothing while it still runs.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Running() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_code;
    }
    std::string Out() const { return Read(m_out); }
    std::string Err() const { return Read(m_err); }

  private:
    void Reap(int options) {
        if (m_pid <= 0 || m_code) {
            return;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, options) == m_pid) {
            m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    std::optional<int> m_code;
};
