#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Note activity of the track check list rows. The clock thread writes it when a note plays; the
// user-interface thread reads it when it paints. Every value is one atomic word, so a reader
// sees the old or the new value, never a torn one.
struct TrackActivity {
    static constexpr int kMaxRows = 16;
    std::array<std::atomic<uint32_t>, kMaxRows> m_noteColor{};     // 0x00RRGGBB
    std::array<std::atomic<uint32_t>, kMaxRows> m_lastNoteTime{};  // clock value of the last note
    std::atomic<uint32_t> m_now{0};  // the repaint clock: value of the last repaint request
};
