#include "ui/song_arrivals.h"

#include <QApplication>
#include <QWidget>

namespace {

// How often a waiting batch looks again whether the dialog in front has closed.
constexpr int kRetryMs = 100;

}  // namespace

SongArrivals::SongArrivals(QWidget& window, AddFiles add)
    : m_window(window), m_add(std::move(add)) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &SongArrivals::Deliver);
}

void SongArrivals::Add(const QStringList& files) {
    if (files.isEmpty()) {
        return;
    }
    m_pending.push_back(files);
    // From the event loop: the sender gets its answer first, and the window may still be
    // on its way to the screen.
    QTimer::singleShot(0, this, &SongArrivals::Deliver);
}

std::vector<QStringList> SongArrivals::TakePending() {
    m_retry.stop();
    std::vector<QStringList> pending;
    pending.swap(m_pending);
    return pending;
}

bool SongArrivals::WindowIsFree(const QWidget& window) {
    if (QApplication::activePopupWidget()) {
        return false;
    }
    const QWidget* modal = QApplication::activeModalWidget();
    return modal == nullptr || modal == &window;
}

void SongArrivals::Deliver() {
    // A load error's message runs its own loop; a batch arriving meanwhile waits for it.
    if (m_delivering) {
        return;
    }
    while (!m_pending.empty()) {
        if (!WindowIsFree(m_window)) {
            m_retry.start();
            return;
        }
        const QStringList files = m_pending.front();
        m_pending.erase(m_pending.begin());
        m_delivering = true;
        m_add(files);
        m_delivering = false;
    }
}
