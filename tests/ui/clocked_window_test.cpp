#include "clocked_window_test.h"

#include "engine/performance.h"
#include "platform/clock.h"

void ClockedWindowTest::SetUp() {
    WindowTest::SetUp();
    ManualClock::Install();
    ManualClock::Set(1024);
}

void ClockedWindowTest::TearDown() {
    WindowTest::TearDown();
    ManualClock::Uninstall();
}

void ClockedWindowTest::Tick(uint32_t ms) {
    ManualClock::Advance(ms);
    const uint32_t now = ManualClock::Get();
    ASSERT_TRUE(WaitFor([&]() -> bool {
        CheckedLock lock(m_window->Core().Session().PlayLock());
        Performance* p = m_window->Core().Session().CurrentPerformance();
        return !p || p->GetKeyLights().LastLightTime() == now ||
               m_window->Core().CurrentPlayState() == Stopped;
    }));
}

uint32_t ClockedWindowTest::SongTime() {
    CheckedLock lock(m_window->Core().Session().PlayLock());
    const Performance* p = m_window->Core().Session().CurrentPerformance();
    return p ? p->SongTime() : 0;
}

bool ClockedWindowTest::Waiting() {
    CheckedLock lock(m_window->Core().Session().PlayLock());
    const Performance* p = m_window->Core().Session().CurrentPerformance();
    return p && p->Waiting();
}
