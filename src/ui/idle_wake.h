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
    explicit IdleWake(PublishNotice& notice, QObject* parent = nullptr);
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

  signals:
    void woken();

  private:
    void Wake();

    PublishNotice& m_notice;
    QSocketNotifier* m_notifier = nullptr;
    bool m_asleep = false;
};
