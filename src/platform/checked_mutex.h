#pragma once

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

#include "platform/thread_annotations.h"

// std::mutex as a lock the thread-safety analysis knows. It also knows its holder, so that code
// reached through a callback, which the analysis cannot follow, can check that the lock is held.
class CAPABILITY("mutex") CheckedMutex {
  public:
    void lock() ACQUIRE() {
        m_mutex.lock();
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    void unlock() RELEASE() {
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
        m_mutex.unlock();
    }
    bool try_lock() TRY_ACQUIRE(true) {
        if (!m_mutex.try_lock()) {
            return false;
        }
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    // True when the calling thread holds the lock.
    bool HeldByThisThread() const {
        return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }
    // For code reached through a callback while the lock is held: tells the analysis the lock
    // is held, and checks so in debug builds.
    void AssertHeld() const ASSERT_CAPABILITY(this) { assert(HeldByThisThread()); }

  private:
    std::mutex m_mutex;
    // Written only by the holder; another thread reading it sees either its own id or not.
    std::atomic<std::thread::id> m_owner{};
};

// Holds a checked lock for its own lifetime, as std::lock_guard does, in a way the analysis
// follows.
template <class Mutex>
class SCOPED_CAPABILITY CheckedLock {
  public:
    explicit CheckedLock(Mutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~CheckedLock() RELEASE() { m_mutex.unlock(); }

    CheckedLock(const CheckedLock&) = delete;
    CheckedLock& operator=(const CheckedLock&) = delete;

  private:
    Mutex& m_mutex;
};
