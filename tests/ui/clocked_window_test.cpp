#include "clocked_window_test.h"

#include <fstream>

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

void ClockedWindowTest::OpenWithSong(const SmfWriter& song, const std::string& fileName) {
    const std::string path = m_path + "/" + fileName;
    const std::vector<uint8_t> bytes = song.Bytes();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    WriteSongList({path});
    OpenWindow();
    ClickSongRow(0);
}

void ClockedWindowTest::Tick(uint32_t ms) {
    ManualClock::Advance(ms);
    const uint32_t now = ManualClock::Get();
    ASSERT_TRUE(WaitFor([&]() -> bool {
        CheckedLock lock(m_window->Core().PlayLock());
        Performance* p = m_window->Core().CurrentPerformance();
        return !p || p->GetKeyLights().LastLightTime() == now ||
               m_window->Core().CurrentPlayState() == Stopped;
    }));
}

uint32_t ClockedWindowTest::SongTime() {
    CheckedLock lock(m_window->Core().PlayLock());
    const Performance* p = m_window->Core().CurrentPerformance();
    return p ? p->SongTime() : 0;
}

bool ClockedWindowTest::Waiting() {
    CheckedLock lock(m_window->Core().PlayLock());
    const Performance* p = m_window->Core().CurrentPerformance();
    return p && p->Waiting();
}
