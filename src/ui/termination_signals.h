#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP into a call on the user-interface thread. The signal handler
// only writes one byte into a socket pair; the notifier reads it in the event loop, where the
// window can be closed the normal way (sound stopped, files saved).
class TerminationSignals : public QObject {
  public:
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals() override;

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool IsInstalled() const { return m_notifier != nullptr; }

  private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
