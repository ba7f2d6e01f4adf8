#include "engine/publish_notice.h"

#include <sys/eventfd.h>
#include <unistd.h>

PublishNotice::PublishNotice() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PublishNotice::~PublishNotice() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

void PublishNotice::Published() {
    m_count.fetch_add(1, std::memory_order_release);
    if (m_fd >= 0 && m_armed.load(std::memory_order_relaxed) &&
        m_armed.exchange(false, std::memory_order_acq_rel)) {
        const uint64_t one = 1;
        // A full counter (never, in practice) already wakes the reader; nothing is lost.
        [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
    }
}

void PublishNotice::Arm() {
    m_armed.store(true, std::memory_order_release);
}

void PublishNotice::Disarm() {
    m_armed.store(false, std::memory_order_release);
}

void PublishNotice::Drain() {
    if (m_fd >= 0) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = read(m_fd, &value, sizeof value);
    }
}
