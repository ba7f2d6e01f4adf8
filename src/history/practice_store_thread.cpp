#include "history/practice_store_thread.h"

#include "history/practice_database.h"

PracticeStoreThread::PracticeStoreThread(QString folder, int busyTimeoutMs)
    : m_thread([this, folder = std::move(folder), busyTimeoutMs] { Run(folder, busyTimeoutMs); }) {}

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

void PracticeStoreThread::Run(const QString& folder, int busyTimeoutMs) {
    // Made and closed on this thread: a connection belongs to the thread that opened it.
    PracticeDatabase db(folder, busyTimeoutMs);
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_stop || !m_jobs.empty(); });
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
        if (m_jobs.empty()) {
            m_idle.notify_all();
        }
    }
    m_idle.notify_all();
}
