#pragma once

#include <atomic>
#include <cstdint>

// Tells the screen that the engine has published something new (a key held or let go, a key
// light, the song clock), so that a window with nothing moving can sleep until then instead of
// asking again and again. Publishers on any thread, the clock's and the input callback's
// included, only count; a reader that has armed the notice is woken once, through a file
// descriptor it can wait on with its other events.
class PublishNotice {
  public:
    PublishNotice();
    ~PublishNotice();
    PublishNotice(const PublishNotice&) = delete;
    PublishNotice& operator=(const PublishNotice&) = delete;

    // Any thread; never blocks, and costs a system call only for the first publication after
    // Arm().
    void Published();

    // How many publications there have been; a reader that saw the same count has seen it all.
    uint64_t Count() const { return m_count.load(std::memory_order_acquire); }

    // The reader. After Arm(), the next publication makes Descriptor() readable; -1 when the
    // system gave none, and the reader then has to keep asking.
    int Descriptor() const { return m_fd; }
    void Arm();
    void Disarm();
    // Empties the descriptor after it has become readable.
    void Drain();

  private:
    int m_fd = -1;
    std::atomic<uint64_t> m_count{0};
    std::atomic<bool> m_armed{false};
};
