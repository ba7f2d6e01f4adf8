#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class PracticeDatabase;

// The thread that owns the practice history's connection: every store and every read of the
// history runs there, in the order handed over, so that a writer holding the file (another
// program recording) delays nothing but this thread. Runs the file could not take yet (busy,
// full) are tried again every retryMs while nothing else is to be done.
class PracticeStoreThread {
  public:
    using Job = std::function<void(PracticeDatabase&)>;

    explicit PracticeStoreThread(QString folder, int busyTimeoutMs = 2000, int retryMs = 5000);
    // Does what was handed over before it ends: no run handed over is lost at close. Runs the
    // file has not taken by then are the owner's to settle first (PracticeDatabase::Settle, in a
    // job), so that their loss can be told.
    ~PracticeStoreThread();
    PracticeStoreThread(const PracticeStoreThread&) = delete;
    PracticeStoreThread& operator=(const PracticeStoreThread&) = delete;

    // Runs the job on the store's thread after those handed over before it; returns at once.
    void Post(Job job);
    // Returns once every job handed over so far is done.
    void Finish();
    // Returns once every job handed over is done and no run is waiting to be stored, or false
    // when that has not come by the limit.
    bool WaitUntilStored(std::chrono::milliseconds limit);

  private:
    void Run(const QString& folder, int busyTimeoutMs, int retryMs);

    std::mutex m_lock;
    std::condition_variable m_wake;  // a job came, or the end
    std::condition_variable m_idle;  // the queue ran dry, or a retry ended
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_kept = false;  // runs wait to be stored
    bool m_stop = false;
    std::thread m_thread;
};
