#include <gtest/gtest.h>

#include <array>
#include <bitset>
#include <set>
#include <string>

#include "core_fixture.h"
#include "current_performance.h"
#include "engine/part_map.h"
#include "engine/prepared_song.h"

namespace {

constexpr int kPiano = 1;  // MIDI channel 2: its notes go out on their own channel

std::vector<uint8_t> TrackName(const std::string& name) {
    std::vector<uint8_t> bytes{0xFF, 0x03, static_cast<uint8_t>(name.size())};
    for (char c : name) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
}

// The three shapes of a piano file: the right hand plays 72 then 74, the left 48 then 50, each
// note 200 ms, a chord of both hands at 0 and at 400.
enum class Shape { NamedTracks, UnnamedTracks, OneTrack };

SmfWriter PianoSong(Shape shape) {
    SmfWriter w;
    if (shape == Shape::OneTrack) {
        w.Note(0, kPiano, 72, 200).Note(0, kPiano, 48, 200);
        w.Note(400, kPiano, 74, 200).Note(400, kPiano, 50, 200);
        return w;
    }
    // The named tracks are in the "wrong" order and pitch-wise misleading names would lose:
    // the name decides.
    if (shape == Shape::NamedTracks) {
        w.Add(0, TrackName("Piano Left"));
    }
    w.Note(0, kPiano, 48, 200).Note(400, kPiano, 50, 200);
    w.NewTrack();
    if (shape == Shape::NamedTracks) {
        w.Add(0, TrackName("R.H."));
    }
    w.Note(0, kPiano, 72, 200).Note(400, kPiano, 74, 200);
    return w;
}

// What a synthesizer and a keyboard's lights make of the messages sent: the notes sounding on
// each channel and the keys lit (lights are Note On on channel 1).
struct ModelSynth {
    std::array<std::bitset<128>, 16> sounding{};
    std::bitset<128> lit;
    std::set<std::pair<int, int>> everSounded;  // (channel, key)
    void Take(const std::vector<uint32_t>& messages) {
        for (uint32_t m : messages) {
            const int status = m & 0xF0;
            const int ch = m & 0x0F;
            const int key = (m >> 8) & 0x7F;
            const int velocity = (m >> 16) & 0x7F;
            if (ch == 0 && status == 0x90) {
                lit.set(static_cast<size_t>(key), velocity > 0);
            } else if (status == 0x90 && velocity > 0) {
                sounding[ch].set(static_cast<size_t>(key));
                everSounded.insert({ch, key});
            } else if (status == 0x80 || status == 0x90) {
                sounding[ch].reset(static_cast<size_t>(key));
            } else if (status == 0xB0 && (key == 123 || key == 120)) {
                sounding[ch].reset();
            }
        }
    }
    std::set<int> Sounded(int ch) const {
        std::set<int> keys;
        for (const auto& [c, k] : everSounded) {
            if (c == ch) {
                keys.insert(k);
            }
        }
        return keys;
    }
};

struct HandRig {
    RecordingOutput output;
    Performance p{output.out};
    ModelSynth synth;
    std::vector<std::vector<int>> awaited;  // the lesson's chords, as it waited for them

    HandRig(const SmfWriter& song, PlayMode mode, Hand hand, bool hands = true) {
        p.Use(PreparedSong::Prepare(*song.Load(), PartMap::kDefaultSplitKey, hands));
        p.SetPracticeChoice(PracticeChoice{1u << kPiano, hand});
        const bool lesson = mode == PlayMode::MyPaceLesson;
        p.SetMuteMode(mode == PlayMode::Accompaniment ? MutePractice
                      : mode == PlayMode::Solo        ? MuteNonPractice
                                                      : MuteNone);
        p.SetWaitForPlayer(lesson);
        p.SetPreLight(lesson);
        p.Rewind();
    }
    // Plays to the end every millisecond; in the lesson the learner presses what it waits for.
    std::vector<uint32_t> Play(uint32_t from = 1) {
        std::vector<int> pressed;
        for (uint32_t t = from; t < 2000; ++t) {
            for (int key : pressed) {
                p.SetKeyDown(key, false);
            }
            pressed.clear();
            p.Advance(t);
            p.UpdateKeyLights(t);
            if (p.Waiting()) {
                const Chord& chord = p.GetLesson().AwaitedChord();
                std::vector<int> keys;
                for (int s = 0; s < chord.count; ++s) {
                    if (chord.index[s] != Chord::kPlayed) {
                        keys.push_back(p.GetTimeline()[chord.index[s]].data1);
                    }
                }
                if (awaited.empty() || awaited.back() != keys) {
                    awaited.push_back(keys);
                }
                for (int key : keys) {
                    p.SetKeyDown(key, true);
                    pressed.push_back(key);
                }
            }
        }
        const std::vector<uint32_t> sent = output.service.SentShort();
        synth.Take(sent);
        return sent;
    }
};

TEST(Hands, TracksNamesPitchAndTheSplitKeyDecideEachNotesHand) {
    struct Case {
        Shape shape;
        int split;
        PartMap::Source source;
    };
    for (const Case& c : {Case{Shape::NamedTracks, 60, PartMap::Source::TrackName},
                          Case{Shape::UnnamedTracks, 60, PartMap::Source::TrackPitch},
                          Case{Shape::OneTrack, 60, PartMap::Source::Split}}) {
        const auto song = PianoSong(c.shape).Load();
        const auto prepared = PreparedSong::Prepare(*song, c.split);
        const PartMap& parts = prepared->Parts();
        EXPECT_EQ(parts.Channel(kPiano).source, c.source);
        EXPECT_EQ(parts.Channel(kPiano).right, 2u);
        EXPECT_EQ(parts.Channel(kPiano).left, 2u);
        const Timeline& t = prepared->GetTimeline();
        for (uint32_t i = 0; i < t.Size(); ++i) {
            // Note-offs too: each follows its note-on.
            if (t[i].IsNoteOn() || t[i].IsNoteOff()) {
                EXPECT_EQ(parts.PartOf(t[i], i).hand, t[i].data1 >= 60 ? Hand::Right : Hand::Left)
                    << int(c.shape) << " key " << int(t[i].data1);
            }
        }
        // The spans the view draws carry the same hands.
        for (const NoteSpan& s : prepared->Spans()->Short()) {
            EXPECT_EQ(s.hand, s.key >= 60 ? Hand::Right : Hand::Left);
        }
    }
    // A split above every note leaves one hand: the channel stays whole.
    const auto whole = PreparedSong::Prepare(*PianoSong(Shape::OneTrack).Load(), 100);
    EXPECT_EQ(whole->Parts().Channel(kPiano).source, PartMap::Source::Whole);
    EXPECT_EQ(whole->Parts().DividedChannels(), 0);
    // A note-off from another track than its note-on's follows the note-on.
    SmfWriter crossed;
    crossed.NoteOn(0, kPiano, 64).Note(0, kPiano, 40, 100);
    crossed.NewTrack().Note(0, kPiano, 70, 100).NoteOff(300, kPiano, 64);
    const auto c = PreparedSong::Prepare(*crossed.Load());
    const Timeline& t = c->GetTimeline();
    for (uint32_t i = 0; i < t.Size(); ++i) {
        if (t[i].data1 == 64 && (t[i].IsNoteOn() || t[i].IsNoteOff())) {
            EXPECT_EQ(c->Parts().PartOf(t[i], i).hand, Hand::Left);
        }
    }
}

TEST(Hands, TrackNamesInAnyCaseAndLanguageNameAHand) {
    for (const char* right : {"Piano right", "RIGHT", "rh", "R.H.", "Treble", "右手", "Piano-RH"}) {
        EXPECT_EQ(PartMap::HandOfName(right), Hand::Right) << right;
    }
    for (const char* left : {"Solo-Left", "LH", "l.h.", "bass", "ピアノ左手", "Piano Left Hand"}) {
        EXPECT_EQ(PartMap::HandOfName(left), Hand::Left) << left;
    }
    for (const char* none : {"", "Piano", "Rhythm", "Brightness", "Left and right", "Lefty"}) {
        EXPECT_EQ(PartMap::HandOfName(none), Hand::Both) << none;
    }
    EXPECT_EQ(PartMap::HandOfName(std::string("\x89\x45\x8E\xE8")), Hand::Right);  // Shift_JIS
}

// One hand chosen, in every mode and on every shape of song: the lesson waits for that hand's
// notes alone and the other sounds; the accompaniment sounds the other hand; solo sounds the
// chosen one; the chosen hand's keys light; nothing is left sounding or lit.
TEST(Hands, OneHandIsPractisedInEveryModeAndNothingSticks) {
    const std::set<int> right{72, 74};
    const std::set<int> left{48, 50};
    for (Shape shape : {Shape::NamedTracks, Shape::UnnamedTracks, Shape::OneTrack}) {
        for (Hand hand : {Hand::Right, Hand::Left}) {
            const std::set<int>& chosen = hand == Hand::Right ? right : left;
            const std::set<int>& other = hand == Hand::Right ? left : right;
            std::set<int> both = chosen;
            both.insert(other.begin(), other.end());
            for (PlayMode mode : {PlayMode::MyPaceLesson, PlayMode::Accompaniment, PlayMode::Solo,
                                  PlayMode::ModelPerformance}) {
                SCOPED_TRACE(testing::Message() << "shape " << int(shape) << " hand " << int(hand)
                                                << " mode " << int(mode));
                HandRig rig(PianoSong(shape), mode, hand);
                const std::vector<uint32_t> sent = rig.Play();
                const std::set<int> expected = mode == PlayMode::Accompaniment ? other
                                               : mode == PlayMode::Solo        ? chosen
                                                                               : both;
                EXPECT_EQ(rig.synth.Sounded(kPiano), expected);
                // A channel shared by both hands is never silenced by its volume.
                for (uint32_t m : sent) {
                    EXPECT_FALSE((m & 0xFFFF) == (0xB0u | kPiano | 7u << 8) && (m >> 16) == 0);
                }
                EXPECT_TRUE(rig.synth.sounding[kPiano].none());
                EXPECT_TRUE(rig.synth.lit.none());
                if (mode == PlayMode::MyPaceLesson) {
                    const std::vector<int> c(chosen.begin(), chosen.end());
                    EXPECT_EQ(rig.awaited, (std::vector<std::vector<int>>{{c[0]}, {c[1]}}));
                }
            }
        }
    }
    // A hand silenced while its notes sound still has them ended.
    HandRig rig(PianoSong(Shape::OneTrack), PlayMode::Solo, Hand::Both);
    for (uint32_t t = 1; t < 100; ++t) {
        rig.p.Advance(t);
    }
    rig.p.SetPracticeChoice(PracticeChoice{1u << kPiano, Hand::Right});
    rig.Play(100);
    EXPECT_EQ(rig.synth.Sounded(kPiano), (std::set<int>{48, 72, 74}));
    EXPECT_TRUE(rig.synth.sounding[kPiano].none());
}

// Both hands chosen sends what the song sends when its hands are not told apart at all, message
// for message and at the same milliseconds, in every mode.
TEST(Hands, BothHandsSendExactlyWhatAnUndividedSongSends) {
    for (Shape shape : {Shape::NamedTracks, Shape::OneTrack}) {
        for (PlayMode mode : {PlayMode::MyPaceLesson, PlayMode::Accompaniment, PlayMode::Solo,
                              PlayMode::ModelPerformance}) {
            HandRig divided(PianoSong(shape), mode, Hand::Both);
            HandRig undivided(PianoSong(shape), mode, Hand::Both, false);
            ASSERT_NE(divided.p.Prepared().Parts().DividedChannels(), 0);
            ASSERT_EQ(undivided.p.Prepared().Parts().DividedChannels(), 0);
            for (uint32_t t = 1; t < 1000; ++t) {
                divided.p.Advance(t);
                divided.p.UpdateKeyLights(t);
                undivided.p.Advance(t);
                undivided.p.UpdateKeyLights(t);
                ASSERT_EQ(divided.output.service.SentShort(), undivided.output.service.SentShort())
                    << "mode " << int(mode) << " at " << t;
            }
        }
    }
}

using HandCoreTest = CoreFixture;

TEST_F(HandCoreTest, TheHandReachesThePlayingSongAndTheSplitKeyTheNextStart) {
    core->AddLoadedSong(PianoSong(Shape::OneTrack).Load(), 1u << kPiano);
    EXPECT_FALSE(core->SetHands(Hand::Right, 128));
    EXPECT_FALSE(core->SetHands(Hand::Right, -1));
    EXPECT_EQ(core->PracticeHand(), Hand::Both);
    core->StartPlay(PlayMode::Accompaniment);
    ASSERT_TRUE(core->SetHands(Hand::Left, 49));
    const Performance* p = PerformanceOf(*core);
    EXPECT_EQ(p->GetPlayer().Choice(), (PracticeChoice{1u << kPiano, Hand::Left}));
    EXPECT_EQ(p->Prepared().Parts().SplitKey(), 60);  // a playing song keeps its division
    core->StopPlay();
    core->StartPlay(PlayMode::Accompaniment);
    p = PerformanceOf(*core);
    EXPECT_EQ(p->GetPlayer().Choice(), (PracticeChoice{1u << kPiano, Hand::Left}));
    EXPECT_EQ(p->Prepared().Parts().SplitKey(), 49);
    EXPECT_EQ(p->Prepared().Parts().Channel(kPiano).left, 1u);  // only 48 lies below 49
}

// A run is scored with one hand: a change of hand while playing ends it and starts the next.
TEST_F(HandCoreTest, EachRunKeepsTheHandItWasPlayedWith) {
    core->AddLoadedSong(PianoSong(Shape::NamedTracks).Load(), 1u << kPiano);
    core->StartPlay(PlayMode::Accompaniment);
    AdvanceAndTick(1);
    AdvanceAndTick(50);
    core->SetHands(Hand::Right, PartMap::kDefaultSplitKey);
    AdvanceAndTick(50);
    core->StopPlay();
    const std::vector<PracticeRun> runs = core->Practice().Collect(ManualClock::Get() + 1000, true);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].hand, Hand::Both);
    EXPECT_EQ(runs[1].hand, Hand::Right);
    EXPECT_STREQ(HandName(runs[1].hand), "right");
}

}  // namespace
