#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class PracticeDatabase;

// The thread that owns the practice history's connection: every store and every read of the
// history runs there, in the order handed over, so that a writer holding the file (another
// program recording) delays nothing but this thread.
class PracticeStoreThread {
  public:
    using Job = std::function<void(PracticeDatabase&)>;

    explicit PracticeStoreThread(QString folder, int busyTimeoutMs = 2000);
    // Does what was handed over before it ends: no run is lost at close.
    ~PracticeStoreThread();
    PracticeStoreThread(const PracticeStoreThread&) = delete;
    PracticeStoreThread& operator=(const PracticeStoreThread&) = delete;

    // Runs the job on the store's thread after those handed over before it; returns at once.
    void Post(Job job);
    // Returns once every job handed over so far is done.
    void Finish();

  private:
    void Run(const QString& folder, int busyTimeoutMs);

    std::mutex m_lock;
    std::condition_variable m_wake;  // a job came, or the end
    std::condition_variable m_idle;  // the queue ran dry
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
