#include "history/practice_store_thread.h"

#include "history/practice_database.h"
#include "platform/thread_name.h"

PracticeStoreThread::PracticeStoreThread(QString folder, int busyTimeoutMs, int retryMs)
    : m_thread([this, folder = std::move(folder), busyTimeoutMs, retryMs] {
          Run(folder, busyTimeoutMs, retryMs);
      }) {}

PracticeStoreThread::~PracticeStoreThread() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void PracticeStoreThread::Post(Job job) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void PracticeStoreThread::Finish() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_jobs.empty() && !m_busy; });
}

bool PracticeStoreThread::WaitUntilStored(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_idle.wait_for(hold, limit, [this] { return m_jobs.empty() && !m_busy && !m_kept; });
}

void PracticeStoreThread::Run(const QString& folder, int busyTimeoutMs, int retryMs) {
    NameThisThread("pv-store");
    // Made and closed on this thread: a connection belongs to the thread that opened it.
    PracticeDatabase db(folder, busyTimeoutMs);
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        const auto due = [this] { return m_stop || !m_jobs.empty(); };
        if (!m_kept) {
            m_wake.wait(hold, due);
        } else if (!m_wake.wait_for(hold, std::chrono::milliseconds(retryMs), due)) {
            // Nothing handed over for a while, and runs still wait: the file may take them now.
            m_busy = true;
            hold.unlock();
            db.StorePending();
            hold.lock();
            m_busy = false;
            m_kept = db.PendingCount() > 0;
            m_idle.notify_all();
            continue;
        }
        if (m_jobs.empty()) {
            break;  // stopping, with nothing left to store
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        hold.unlock();
        job(db);
        job = nullptr;
        hold.lock();
        m_busy = false;
        m_kept = db.PendingCount() > 0;
        if (m_jobs.empty()) {
            m_idle.notify_all();
        }
    }
    m_idle.notify_all();
}
