// The sleeping clock against the clock that ticks every millisecond: the same scripted session,
// played once each way on the manual clock, must reach the output as the same messages in the
// same order at the same clock milliseconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

#include "engine_test_support.h"
#include "platform/clock.h"

namespace {

enum class Kind { Start, Stop, Speed, Ticks, Seek, Loop, Metronome, CountIn, LoopCountIn, Percent };

// A command of the window at a clock millisecond (an offset from the session's start): before
// that millisecond's tick, or just after the first tick at or past it.
struct Command {
    uint32_t at;
    bool afterTick;
    Kind kind;
    int value;  // mode, slider position, practice mask, song time, or loop A << 16 | B (0: none)
};

struct Session {
    const SmfWriter* song;
    uint32_t practiceMask;
    PlayMode mode;
    int speedPosition;
    uint32_t startClock;
    uint32_t lengthMs;
    std::vector<Command> commands;
};

constexpr uint32_t kPlayerPeriod = 20;  // the player looks at the lesson every 20 ms
constexpr uint32_t kPlayerPhase = 7;
constexpr uint32_t kHoldMs = 30;  // and lets a key go after holding it this long

bool IsPlayerMoment(uint32_t offset) {
    return offset % kPlayerPeriod == kPlayerPhase;
}

// One session on its own core and in-memory devices.
class Rig {
  public:
    explicit Rig(const Session& session) : m_session(session) {
        ManualClock::Set(session.startClock);
        m_core = std::make_unique<TestCore>(m_service, m_dir.Path());
        m_core->OpenMidiDevices();
        m_core->AddLoadedSong(session.song->Load(), session.practiceMask);
        m_core->m_slider = session.speedPosition;
        m_service.ClearSent();
    }
    ~Rig() { m_core.reset(); }

    // Plays the session, ticking every millisecond; `after` holds the offset at which each
    // after-tick command was given in the sleeping run.
    std::vector<RecordedMessage> PlayTickingEveryMs(const std::vector<uint32_t>& after) {
        for (uint32_t o = 0; o <= m_session.lengthMs; ++o) {
            ManualClock::Set(m_session.startClock + o);
            RunCommands(o, nullptr);
            if (IsPlayerMoment(o)) {
                Player(o);
            }
            Tick(o);
            for (size_t i = 0; i < m_session.commands.size(); ++i) {
                if (m_session.commands[i].afterTick && after[i] == o) {
                    Apply(m_session.commands[i]);
                }
            }
        }
        return m_service.Sent();
    }

    // Plays the session as the clock thread does: a tick at each moment the last tick planned,
    // and one at once for whatever wakes the clock (a command, a key of the player).
    std::vector<RecordedMessage> PlaySleeping(std::vector<uint32_t>& after) {
        constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
        after.assign(m_session.commands.size(), kNone);
        std::vector<bool> done(m_session.commands.size(), false);
        uint32_t nextTick = 0;
        uint32_t nextPlayer = kPlayerPhase;
        while (true) {
            uint32_t nextCommand = kNone;
            for (size_t i = 0; i < m_session.commands.size(); ++i) {
                if (!done[i] && !m_session.commands[i].afterTick) {
                    nextCommand = std::min(nextCommand, m_session.commands[i].at);
                }
            }
            const uint32_t o = std::min({nextTick, nextCommand, nextPlayer});
            if (o > m_session.lengthMs) {
                break;
            }
            ManualClock::Set(m_session.startClock + o);
            bool woken = false;
            if (o == nextCommand) {
                RunCommands(o, &done);
                woken = true;
            }
            if (o == nextPlayer) {
                woken = Player(o) || woken;
                nextPlayer += kPlayerPeriod;
            }
            if (!woken && o != nextTick) {
                continue;  // nothing woke the clock: it goes on sleeping
            }
            Tick(o);
            bool commanded = false;
            for (size_t i = 0; i < m_session.commands.size(); ++i) {
                const Command& c = m_session.commands[i];
                if (c.afterTick && !done[i] && c.at <= o) {
                    Apply(c);
                    done[i] = true;
                    after[i] = o;
                    commanded = true;
                }
            }
            // A command in the millisecond of a tick wakes the clock, which looks again at the
            // next millisecond; while it rests (stopped, nothing to light) only a wake moves it.
            if (commanded) {
                nextTick = o + 1;
            } else if (m_core->Session().ClockRests()) {
                nextTick = kNone;
            } else {
                nextTick = o + m_core->Session().PlannedTickMs();
            }
        }
        return m_service.Sent();
    }

    int Ticks() const { return m_ticks; }

  private:
    void Tick(uint32_t) {
        m_core->Session().OnClockTick();
        ++m_ticks;
    }

    // The commands given before the tick of offset o.
    void RunCommands(uint32_t o, std::vector<bool>* done) {
        for (size_t i = 0; i < m_session.commands.size(); ++i) {
            const Command& c = m_session.commands[i];
            if (c.at == o && !c.afterTick && !(done && (*done)[i])) {
                Apply(c);
                if (done) {
                    (*done)[i] = true;
                }
            }
        }
    }

    void Apply(const Command& c) {
        switch (c.kind) {
            case Kind::Start:
                m_core->StartPlay(static_cast<PlayMode>(c.value));
                break;
            case Kind::Stop:
                m_core->StopPlay();
                break;
            case Kind::Speed:
                m_core->m_slider = c.value;
                m_core->ApplySpeedFromSlider();
                break;
            case Kind::Ticks: {
                std::vector<std::pair<int, bool>> rows;
                for (int ch = 0; ch < 16; ++ch) {
                    rows.push_back({ch, ((c.value >> ch) & 1) != 0});
                }
                m_core->OnTrackCheckChangeCore(rows);
                break;
            }
            case Kind::Seek:
                m_core->SeekTo(static_cast<uint32_t>(c.value));
                break;
            case Kind::Loop: {
                const auto a = static_cast<uint32_t>(c.value) >> 16;
                const auto b = static_cast<uint32_t>(c.value) & 0xFFFF;
                m_core->SetLoop(b == 0 ? std::nullopt : std::optional<LoopSpan>(LoopSpan{a, b}));
                break;
            }
            case Kind::Metronome:
                m_core->SetMetronome(c.value != 0);
                break;
            case Kind::CountIn:
                m_core->SetCountInBars(c.value);
                break;
            case Kind::LoopCountIn:
                m_core->SetLoopCountIn(c.value != 0);
                break;
            case Kind::Percent:
                m_core->SetSpeedPercent(c.value);
                break;
        }
    }

    // A player at the keyboard: lets go of keys held long enough, presses a key now and then,
    // and while the lesson waits presses one more key of the awaited chord, now and then a wrong
    // one with it. True when a key moved.
    bool Player(uint32_t o) {
        std::vector<uint32_t> messages;
        for (size_t i = 0; i < m_held.size();) {
            if (o - m_held[i].second >= kHoldMs) {
                messages.push_back(Msg(0x80, m_held[i].first, 0));
                m_held.erase(m_held.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        // Every half second a key of its own, in every mode.
        if (o % 500 == kPlayerPhase) {
            const int key = 50 + static_cast<int>(o / 500 % 12);
            if (!IsHeld(key)) {
                messages.push_back(Msg(0x90, key, 80));
                m_held.push_back({key, o});
            }
        }
        {
            CheckedLock lock(m_core->Session().PlayLock());
            const Performance* p = m_core->Session().CurrentPerformance();
            if (p && m_core->CurrentPlayState() != Stopped && p->Waiting()) {
                std::vector<int> awaited;
                for (int s = 0; s < p->GetLesson().AwaitedChord().count; ++s) {
                    if (p->GetLesson().AwaitedChord().index[s] != Chord::kPlayed) {
                        awaited.push_back(p->GetTimeline()
                                              .Events()[p->GetLesson().AwaitedChord().index[s]]
                                              .data1);
                    }
                }
                for (int key : awaited) {
                    if (IsHeld(key)) {
                        continue;
                    }
                    messages.push_back(Msg(0x90, key, 100));
                    m_held.push_back({key, o});
                    const int wrong = key + 1;
                    if (++m_presses % 4 == 0 && wrong < 128 && !IsHeld(wrong) &&
                        std::find(awaited.begin(), awaited.end(), wrong) == awaited.end()) {
                        messages.push_back(Msg(0x90, wrong, 90));
                        m_held.push_back({wrong, o});
                    }
                    break;
                }
            }
        }
        for (uint32_t m : messages) {
            m_service.InjectInput(m);
        }
        if (!messages.empty()) {
            m_service.WaitForInputIdle();
        }
        return !messages.empty();
    }

    bool IsHeld(int key) const {
        return std::any_of(m_held.begin(), m_held.end(),
                           [key](const std::pair<int, uint32_t>& h) { return h.first == key; });
    }

    const Session& m_session;
    InMemoryMidiService m_service{{"Digital Keyboard-1"}, {"Digital Keyboard-1"}};
    TempDir m_dir;
    std::unique_ptr<TestCore> m_core;
    std::vector<std::pair<int, uint32_t>> m_held;  // key, offset pressed
    int m_presses = 0;
    int m_ticks = 0;
};

std::string Describe(const RecordedMessage& m) {
    std::ostringstream s;
    s << "ms " << m.timeMs << " device " << m.deviceId << ": ";
    if (m.sysex) {
        s << "sysex of " << m.bytes.size() << " bytes";
    } else {
        s << std::hex << m.packed;
    }
    return s.str();
}

bool Same(const RecordedMessage& a, const RecordedMessage& b) {
    return a.timeMs == b.timeMs && a.deviceId == b.deviceId && a.sysex == b.sysex &&
           a.packed == b.packed && a.bytes == b.bytes;
}

// Where two records first part, or an empty string when they are the same.
std::string FirstDifference(const std::vector<RecordedMessage>& ticking,
                            const std::vector<RecordedMessage>& sleeping) {
    const size_t n = std::min(ticking.size(), sleeping.size());
    for (size_t i = 0; i < n; ++i) {
        if (!Same(ticking[i], sleeping[i])) {
            return "message " + std::to_string(i) + ": every ms sent " + Describe(ticking[i]) +
                   ", sleeping sent " + Describe(sleeping[i]);
        }
    }
    if (ticking.size() != sleeping.size()) {
        return "every ms sent " + std::to_string(ticking.size()) + " messages, sleeping " +
               std::to_string(sleeping.size());
    }
    return {};
}

// --- Songs ------------------------------------------------------------------------------------

// Shaped like a real song: a chord part, a melody with repeated notes, a bass, drums, program
// changes, volumes and pitch bends, resets by system exclusive message, three tempos, and a
// silent bar in the middle.
SmfWriter RealShapedSong(uint32_t seed) {
    std::mt19937 rng(seed);
    SmfWriter w;
    w.Add(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    w.Tempo(0, 500000).Tempo(2000, 400000).Tempo(4600, 650000);
    for (int ch : {0, 1, 2, 9}) {
        w.Add(0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(rng() % 128)});
        w.Control(0, ch, 7, 100);
    }
    w.NewTrack();  // chords on channel 1
    for (uint32_t t = 240; t < 5600; t += 250 + rng() % 200) {
        if (t > 2600 && t < 3900) {
            continue;  // the silent bar
        }
        const int root = 55 + static_cast<int>(rng() % 12);
        for (int k : {0, 4, 7}) {
            // Drawn one by one: the order of a call's arguments differs between compilers, and
            // the fingerprint below needs the same song from each.
            const auto velocity = 70 + rng() % 40;
            const auto length = 180 + rng() % 150;
            const auto offset = rng() % 6;
            w.Note(t + offset, 0, root + k, length, velocity);
        }
    }
    w.NewTrack();  // melody, with repeated notes
    int key = 72;
    for (uint32_t t = 0; t < 5600; t += 120 + rng() % 160) {
        if (t > 2600 && t < 3900) {
            continue;
        }
        if (rng() % 3 != 0) {
            key = 64 + static_cast<int>(rng() % 20);
        }
        w.Note(t, 1, key, 60 + rng() % 140);
        if (rng() % 5 == 0) {
            w.Add(t + 30, {0xE1, static_cast<uint8_t>(rng() % 128), 0x40});
        }
    }
    w.Control(1500, 1, 7, 80);
    w.NewTrack();  // bass and drums
    for (uint32_t t = 0; t < 5600; t += 250) {
        if (t > 2600 && t < 3900) {
            continue;
        }
        w.Note(t, 2, 36 + static_cast<int>(rng() % 12), 200);
        w.Note(t, 9, 36, 20).Note(t + 125, 9, 42, 20);
    }
    w.Control(3000, 2, 7, 90);
    w.Add(4100, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    return w;
}

// The engine tests' chord songs: chords at the very start (pre-lit at once), a chord of twelve
// notes (the eleventh begins the next chord), notes a few milliseconds apart.
SmfWriter ChordSong() {
    SmfWriter w;
    for (int ch = 0; ch < 4; ++ch) {
        w.Note(0, ch, 60 + ch, 100);
    }
    w.Note(500, 1, 70, 100);
    for (int k = 0; k < 12; ++k) {
        w.Note(900 + static_cast<uint32_t>(k), 0, 48 + 2 * k, 300);
    }
    w.Note(1400, 0, 60, 50).Note(1404, 0, 64, 50).Note(1411, 0, 67, 50);
    w.Note(1600, 0, 60, 40).Note(1650, 0, 60, 40);  // the same key again while lit
    w.Note(2200, 0, 72, 500).Note(2200, 2, 40, 500);
    return w;
}

// Long rests: planned sleeps far beyond the 100 ms a stall may move the song.
SmfWriter SparseSong() {
    SmfWriter w;
    w.Note(0, 1, 50, 100);
    w.Note(1800, 0, 60, 300).Note(1800, 1, 52, 2400);
    w.Note(4300, 0, 62, 200);
    w.Note(6900, 0, 64, 100).Note(6950, 1, 55, 10);
    return w;
}

// Every channel in use: no spare channel, so no key lights are sent.
SmfWriter SixteenChannelSong() {
    SmfWriter w;
    for (int ch = 0; ch < 16; ++ch) {
        for (uint32_t t = static_cast<uint32_t>(ch) * 37; t < 4000; t += 600) {
            w.Note(t, ch, 40 + ch, 150);
        }
    }
    return w;
}

std::vector<Command> Script(PlayMode mode, int speed, uint32_t mask) {
    const int m = static_cast<int>(mode);
    const int other = static_cast<int>(mask ^ 0b10u);
    return {
        {5, false, Kind::Start, m},
        {600, false, Kind::Speed, (speed + 1) % 5},
        {1100, true, Kind::Ticks, other},
        {1700, false, Kind::Speed, speed},
        {2300, true, Kind::Start, (m + 1) % 4},
        {2900, false, Kind::Speed, (speed + 3) % 5},
        {3400, false, Kind::Start, m},
        {4000, true, Kind::Ticks, static_cast<int>(mask)},
        {4700, true, Kind::Speed, (speed + 4) % 5},
        {6000, false, Kind::Stop, 0},
        {6200, false, Kind::Start, m},
        {7500, false, Kind::Speed, speed},
    };
}

// Jumps and a loop at fixed moments: playing, across the loop's end, stopped.
std::vector<Command> PassageScript(PlayMode mode, int speed) {
    const int m = static_cast<int>(mode);
    return {
        {5, false, Kind::Start, m},      {300, true, Kind::Loop, 1000 << 16 | 2500},
        {900, true, Kind::Seek, 2000},   {1500, false, Kind::Speed, (speed + 2) % 5},
        {2600, false, Kind::Seek, 500},  {5200, true, Kind::Loop, 0},
        {5600, false, Kind::Seek, 3000}, {7000, false, Kind::Stop, 0},
        {7100, true, Kind::Seek, 1500},  {7200, false, Kind::Start, m},
    };
}

class SleepingClock : public ::testing::Test {
  protected:
    void SetUp() override { ManualClock::Install(); }
    void TearDown() override { ManualClock::Uninstall(); }

    void PlayEveryModeAndSpeed(const SmfWriter& song, uint32_t mask, uint32_t startClock) {
        for (int mode = 0; mode < 4; ++mode) {
            for (int speed = 0; speed < 5; ++speed) {
                SCOPED_TRACE("mode " + std::to_string(mode) + " speed " + std::to_string(speed));
                Session session{&song,
                                mask,
                                static_cast<PlayMode>(mode),
                                speed,
                                startClock,
                                9000,
                                Script(static_cast<PlayMode>(mode), speed, mask)};
                PlayBothWays(session);
            }
        }
    }

    // The session played with the sleeping clock, then ticking every millisecond.
    static void PlayBothWays(const Session& session) {
        std::vector<uint32_t> after;
        Rig sleepingRig(session);
        const std::vector<RecordedMessage> sleeping = sleepingRig.PlaySleeping(after);
        Rig tickingRig(session);
        const std::vector<RecordedMessage> ticking = tickingRig.PlayTickingEveryMs(after);
        ASSERT_EQ(FirstDifference(ticking, sleeping), "");
        EXPECT_GT(ticking.size(), 300u);
        // It did sleep: most milliseconds passed without a tick.
        EXPECT_LT(sleepingRig.Ticks() * 3, tickingRig.Ticks());
    }
};

TEST_F(SleepingClock, JumpsAndLoopsSendAsTheClockTickingEveryMillisecond) {
    const SmfWriter song = RealShapedSong(3);
    for (int mode = 0; mode < 4; ++mode) {
        for (int speed : {1, 3}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " speed " + std::to_string(speed));
            Session session{&song,
                            0b101,
                            static_cast<PlayMode>(mode),
                            speed,
                            200000,
                            9000,
                            PassageScript(static_cast<PlayMode>(mode), speed)};
            PlayBothWays(session);
        }
    }
}

// What every mode sends with nothing of the time keeping switched on, as recorded before it
// existed: a fingerprint of every message, its millisecond and its device.
TEST_F(SleepingClock, WithoutTimeKeepingEveryModeSendsAsBefore) {
    const SmfWriter song = RealShapedSong(5);
    std::vector<uint64_t> prints;
    for (int mode = 0; mode < 4; ++mode) {
        for (const bool passage : {false, true}) {
            Session session{&song,
                            0b101,
                            static_cast<PlayMode>(mode),
                            1,
                            300000,
                            9000,
                            passage ? PassageScript(static_cast<PlayMode>(mode), 1)
                                    : Script(static_cast<PlayMode>(mode), 1, 0b101)};
            std::vector<uint32_t> after;
            Rig sleeping(session);
            sleeping.PlaySleeping(after);
            Rig ticking(session);
            uint64_t print = 1469598103934665603ull;
            for (const RecordedMessage& m : ticking.PlayTickingEveryMs(after)) {
                for (const uint32_t v :
                     {m.timeMs - session.startClock, static_cast<uint32_t>(m.deviceId), m.packed,
                      static_cast<uint32_t>(m.bytes.size())}) {
                    print = (print ^ v) * 1099511628211ull;
                }
            }
            prints.push_back(print);
        }
    }
    const std::vector<uint64_t> before = {
        0x1a75655ca9dd6de7ull, 0x3bf3961e90575832ull, 0x258a569b18a44d92ull, 0x3260d4ab90caf1f4ull,
        0xf18fe2e1ca5f1bf3ull, 0x6981d96ab26f809bull, 0x7dc7cbea5ab3b1bcull, 0x3ee5f9529b08f169ull};
    EXPECT_EQ(prints, before);
}

// The metronome's clicks and the count-in's, before a start and before each pass of a loop,
// with exact speeds, jumps and a loop, in a song whose meter changes.
TEST_F(SleepingClock, ClicksAndCountInsSendAsTheClockTickingEveryMillisecond) {
    SmfWriter song = RealShapedSong(6);
    song.Add(0, {0xFF, 0x58, 0x04, 0x03, 0x02, 24, 8});
    song.Add(2000, {0xFF, 0x58, 0x04, 0x07, 0x03, 24, 8});
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::vector<Command> script = PassageScript(static_cast<PlayMode>(mode), 3);
        const std::vector<Command> timeKeeping = {
            {0, false, Kind::Metronome, 1},   {0, false, Kind::CountIn, 1},
            {0, false, Kind::LoopCountIn, 1}, {1200, false, Kind::Percent, 65},
            {3100, true, Kind::Metronome, 0}, {3800, false, Kind::Metronome, 1},
            {4300, true, Kind::Percent, 135}, {6900, false, Kind::CountIn, 2}};
        script.insert(script.begin(), timeKeeping.begin(), timeKeeping.end());
        Session session{&song, 0b101, static_cast<PlayMode>(mode), 3, 400000, 9000, script};
        PlayBothWays(session);
    }
}

TEST_F(SleepingClock, RealShapedSongsSendAsTheClockTickingEveryMillisecond) {
    const SmfWriter first = RealShapedSong(1);
    PlayEveryModeAndSpeed(first, 0b101, 100000);
    // Across the wrap of the 32-bit clock.
    const SmfWriter second = RealShapedSong(2);
    PlayEveryModeAndSpeed(second, 0b001, 0xFFFFFFFFu - 3000);
}

TEST_F(SleepingClock, ChordSparseAndSixteenChannelSongsSendAsTheClockTickingEveryMillisecond) {
    const SmfWriter chords = ChordSong();
    PlayEveryModeAndSpeed(chords, 0b001, 7);
    const SmfWriter sparse = SparseSong();
    PlayEveryModeAndSpeed(sparse, 0b011, 50000);
    const SmfWriter sixteen = SixteenChannelSong();
    PlayEveryModeAndSpeed(sixteen, 0b001, 1234567);
}

}  // namespace
