#include "ui/idle_wake.h"

#include <QSocketNotifier>
#include <QTimer>

#include "engine/publish_notice.h"

IdleWake::IdleWake(PublishNotice& notice, QObject* parent) : QObject(parent), m_notice(notice) {
    if (m_notice.Descriptor() >= 0) {
        m_notifier = new QSocketNotifier(m_notice.Descriptor(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            m_notice.Drain();
            Wake();
        });
    }
}

IdleWake::~IdleWake() {
    m_notice.Disarm();
}

void IdleWake::Sleep(uint64_t seen) {
    if (!CanSleep()) {
        return;
    }
    m_asleep = true;
    m_notice.Arm();
    // Published while the routine ran: it runs again at once.
    if (m_notice.Count() != seen) {
        Wake();
    }
}

void IdleWake::Stay() {
    m_asleep = false;
    m_notice.Disarm();
}

void IdleWake::Input() {
    Wake();
}

void IdleWake::Wake() {
    if (!m_asleep) {
        return;
    }
    Stay();
    // Posted: what woke the routine is handled first, as a command is before an idle run.
    QTimer::singleShot(0, this, [this] { emit woken(); });
}
