#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

class QWidget;

// Files that reach the window from outside a drop (the command line, a later start) wait here
// until the window can take them as it takes a drop: not while one of its dialogs, messages or
// menus is open. Each batch becomes one drop.
class SongArrivals : public QObject {
  public:
    using AddFiles = std::function<void(const QStringList&)>;

    SongArrivals(QWidget& window, AddFiles add);

    // Queues a batch; it is added from the event loop, at once when nothing else is open.
    void Add(const QStringList& files);
    // The batches not added yet (the window is closing); the queue is empty afterwards.
    std::vector<QStringList> TakePending();
    bool HasPending() const { return !m_pending.empty(); }

    // True when no dialog, message or menu stands in front of the window.
    static bool WindowIsFree(const QWidget& window);

  private:
    void Deliver();

    QWidget& m_window;
    AddFiles m_add;
    std::vector<QStringList> m_pending;
    QTimer m_retry;
    bool m_delivering = false;
};
