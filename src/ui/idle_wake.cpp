#include "ui/idle_wake.h"

#include <QSocketNotifier>
#include <QTimer>

#include "engine/publish_notice.h"

IdleWake::IdleWake(PublishNotice& notice, PublishNotice* keys, QObject* parent)
    : QObject(parent), m_notice(notice), m_keys(keys) {
    if (m_keys && m_keys->Descriptor() >= 0) {
        m_keysNotifier = new QSocketNotifier(m_keys->Descriptor(), QSocketNotifier::Read, this);
        connect(m_keysNotifier, &QSocketNotifier::activated, this, [this] {
            m_keys->Drain();
            if (m_watchingKeys) {
                WatchKeys(false);
                QTimer::singleShot(0, this, [this] { emit woken(); });
            }
        });
    }
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
    if (m_keys) {
        m_keys->Disarm();
    }
}

void IdleWake::WatchKeys(bool watch) {
    if (!m_keysNotifier || watch == m_watchingKeys) {
        return;
    }
    m_watchingKeys = watch;
    if (watch) {
        m_keys->Arm();
    } else {
        m_keys->Disarm();
    }
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
