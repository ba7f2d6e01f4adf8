// The key state an on-screen keyboard shows.

#include "engine/key_state.h"

#include <algorithm>

#include "engine/performance.h"
#include "engine/publish_notice.h"

void KeyState::SetHeld(int key, bool down) {
    std::atomic<uint64_t>& word = m_held[static_cast<unsigned>(key) >> 6 & 1];
    const uint64_t bit = uint64_t{1} << (key & 63);
    const uint64_t before = down ? word.fetch_or(bit, std::memory_order_release)
                                 : word.fetch_and(~bit, std::memory_order_release);
    if ((before & bit) != (down ? bit : 0)) {
        Told();
        if (m_heldNotice) {
            m_heldNotice->Published();
        }
    }
}

void KeyState::Told() {
    if (m_notice) {
        m_notice->Published();
    }
}

KeyBits KeyState::Held() const {
    return Load(m_held);
}

bool KeyState::Store(std::array<std::atomic<uint64_t>, 2>& to, const KeyBits& from) {
    bool changed = false;
    for (size_t w = 0; w < 2; ++w) {
        // Skipping unchanged words keeps the readers' cache lines quiet while nothing moves.
        if (to[w].load(std::memory_order_relaxed) != from[w]) {
            to[w].store(from[w], std::memory_order_release);
            changed = true;
        }
    }
    return changed;
}

KeyBits KeyState::Load(const std::array<std::atomic<uint64_t>, 2>& from) {
    return {from[0].load(std::memory_order_acquire), from[1].load(std::memory_order_acquire)};
}

void KeyState::Publish(const Performance* p, bool playing) {
    KeyBits lit{}, preLit{}, awaited{};
    const KeyBits held = Held();
    if (p) {
        for (int k = 0; k < 128; ++k) {
            const KeyLight& light = p->GetKeyLights().Key(k);
            if (light.lit) {
                SetKey(lit, k);
            }
            if (light.preLit) {
                SetKey(preLit, k);
            }
        }
    }
    const bool lesson = p && playing && p->GetLesson().WaitForPlayer();
    if (lesson && p->Waiting()) {
        // The awaited chord crosses off its played notes, so its keys are taken from the notes
        // it sounded ahead of their turn: those between the cursor, which stands while the
        // lesson waits, and the end of the chord.
        const Timeline& timeline = p->GetTimeline();
        const Lesson& lesson = p->GetLesson();
        const uint32_t end = std::min(lesson.ChordSearchFrom(), timeline.Size());
        for (uint32_t i = p->GetPlayer().Cursor(); i < end; ++i) {
            const PerformanceEvent& e = timeline[i];
            if (lesson.SentAhead(i) && e.IsNoteOn()) {
                SetKey(awaited, e.data1 & 0x7F);
            }
        }
        // A flashing key belongs to the next chord: pressed early, it plays that chord.
        for (size_t w = 0; w < 2; ++w) {
            m_wrongLatch[w] |= held[w] & ~awaited[w] & ~preLit[w];
        }
    }
    // A wrong key stays marked until it is released, even once the lesson has moved on.
    for (size_t w = 0; w < 2; ++w) {
        m_wrongLatch[w] = lesson ? (m_wrongLatch[w] & held[w]) : 0;
    }
    bool changed = Store(m_lit, lit);
    changed |= Store(m_preLit, preLit);
    changed |= Store(m_awaited, awaited);
    changed |= Store(m_wrong, m_wrongLatch);
    if (changed) {
        Told();
    }
}

KeyState::Snapshot KeyState::Read() const {
    Snapshot s;
    s.held = Load(m_held);
    s.lit = Load(m_lit);
    s.preLit = Load(m_preLit);
    s.awaited = Load(m_awaited);
    s.wrong = Load(m_wrong);
    return s;
}
