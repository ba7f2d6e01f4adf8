#pragma once

#include <QObject>
#include <cstdint>

class PublishNotice;
class QSocketNotifier;

// Lets the window's idle routine sleep while nothing moves: the first publication of the engine
// (a key held on the MIDI keyboard, a key light, the song clock) or the first input of the
// learner after Sleep() wakes it once, soon enough that nothing shows late.
class IdleWake : public QObject {
    Q_OBJECT

  public:
    // keys, where given, tells of the keys the learner plays alone (see WatchKeys).
    explicit IdleWake(PublishNotice& notice, PublishNotice* keys = nullptr,
                      QObject* parent = nullptr);
    ~IdleWake() override;

    // False when the system gave no way to be woken: the routine then has to keep asking.
    bool CanSleep() const { return m_notifier != nullptr; }
    // The routine has seen everything up to publication count seen and sleeps until the next.
    void Sleep(uint64_t seen);
    // The routine keeps its own pace.
    void Stay();
    bool Asleep() const { return m_asleep; }
    // The learner did something: the routine runs once it has been handled.
    void Input();
    // While the routine keeps a slow pace of its own (riding the falling notes' frames), a key
    // the learner plays on the MIDI keyboard still runs it at once: their own keys never lag.
    void WatchKeys(bool watch);

  signals:
    void woken();

  private:
    void Wake();

    PublishNotice& m_notice;
    QSocketNotifier* m_notifier = nullptr;
    PublishNotice* m_keys;
    QSocketNotifier* m_keysNotifier = nullptr;
    bool m_watchingKeys = false;
    bool m_asleep = false;
};
