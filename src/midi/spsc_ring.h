#pragma once

#include <array>
#include <atomic>
#include <cstddef>

// A ring of fixed capacity between one writer and one reader that never wait on each other: the
// reader may be a real-time thread (JACK's process callback) that can neither lock nor allocate.
// The writer may change threads as long as the hand-over between them is ordered (a lock).
template <typename T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "a power of two");

  public:
    // Writer: false, with nothing written, when the ring is full.
    bool Push(const T& item) {
        const std::size_t write = m_write.load(std::memory_order_relaxed);
        if (write - m_read.load(std::memory_order_acquire) == Capacity) {
            return false;
        }
        m_items[write & (Capacity - 1)] = item;
        m_write.store(write + 1, std::memory_order_release);
        return true;
    }

    // Reader: the oldest item, or null when the ring is empty. It stays until Pop().
    T* Front() {
        const std::size_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &m_items[read & (Capacity - 1)];
    }
    void Pop() {
        m_read.store(m_read.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Either side, or anyone once both have stopped.
    std::size_t Size() const {
        return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
    }

  private:
    alignas(64) std::atomic<std::size_t> m_write{0};
    alignas(64) std::atomic<std::size_t> m_read{0};
    std::array<T, Capacity> m_items{};
};
