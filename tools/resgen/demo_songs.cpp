#include "demo_songs.h"

#include <sstream>
#include <stdexcept>

#include "smf_writer.h"

namespace resgen {
namespace {

// Channel numbers as counted in the file (0 = MIDI channel 1).
constexpr int kMelodyChannel = 0;
constexpr int kDrumChannel = 9;

// GM programs and drum keys.
constexpr int kPiano = 0;
constexpr int kAcousticBass = 32;
constexpr int kFingerBass = 33;
constexpr int kStrings = 48;
constexpr int kClarinet = 71;
constexpr int kFlute = 73;
constexpr int kKick = 36;
constexpr int kSnare = 38;
constexpr int kClosedHat = 42;
constexpr int kCrash = 49;

constexpr uint32_t kBar = 8 * kEighth;

struct Step {
    uint32_t start;   // in eighths from the start of the phrase
    uint32_t length;  // in eighths
    int key;          // -1 for a rest
};

// Pitch names as "C4" (middle C, key 60), "F#3", "Bb2".
int ParsePitch(const std::string& name) {
    static constexpr int kLetter[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.empty() || name[0] < 'A' || name[0] > 'G') {
        throw std::invalid_argument("bad pitch " + name);
    }
    int semitone = kLetter[name[0] - 'A'];
    std::size_t i = 1;
    if (i < name.size() && name[i] == '#') {
        ++semitone;
        ++i;
    } else if (i < name.size() && name[i] == 'b') {
        --semitone;
        ++i;
    }
    const int octave = std::stoi(name.substr(i));
    return (octave + 1) * 12 + semitone;
}

// "C4:2 D4:1 r:2 | ..." -- pitch or r for a rest, then the length in eighths; bars marked with
// | only for the reader.
std::vector<Step> ParseSteps(const std::string& text) {
    std::vector<Step> steps;
    std::istringstream in(text);
    std::string token;
    uint32_t at = 0;
    while (in >> token) {
        if (token == "|") {
            continue;
        }
        const std::size_t colon = token.find(':');
        if (colon == std::string::npos) {
            throw std::invalid_argument("bad step " + token);
        }
        const uint32_t length = static_cast<uint32_t>(std::stoul(token.substr(colon + 1)));
        const std::string pitch = token.substr(0, colon);
        steps.push_back({at, length, pitch == "r" ? -1 : ParsePitch(pitch)});
        at += length;
    }
    return steps;
}

struct Chord {
    uint32_t start;   // in eighths
    uint32_t length;  // in eighths
    int root;         // pitch class 0-11
    bool minor;
};

// "C:4 G:4 Am:8"
std::vector<Chord> ParseChords(const std::string& text) {
    std::vector<Chord> chords;
    std::istringstream in(text);
    std::string token;
    uint32_t at = 0;
    while (in >> token) {
        if (token == "|") {
            continue;
        }
        const std::size_t colon = token.find(':');
        std::string name = token.substr(0, colon);
        const uint32_t length = static_cast<uint32_t>(std::stoul(token.substr(colon + 1)));
        const bool minor = name.size() > 1 && name.back() == 'm';
        if (minor) {
            name.pop_back();
        }
        chords.push_back({at, length, ParsePitch(name + "0") % 12, minor});
        at += length;
    }
    return chords;
}

// Close triad around the octave below middle C, kept out of the melody's range.
std::vector<int> Triad(const Chord& c) {
    int root = 48 + c.root;
    if (c.root > 5) {
        root -= 12;
    }
    return {root, root + (c.minor ? 3 : 4), root + 7};
}

int BassKey(const Chord& c) {
    return 36 + c.root;
}

uint32_t Ticks(uint32_t eighths) {
    return eighths * kEighth;
}

// Notes sound for most of their written length, so repeated notes are heard as repeated.
uint32_t Gate(uint32_t ticks) {
    return ticks * 9 / 10;
}

void AddSteps(SmfTrack& t, int channel, const std::vector<Step>& steps, uint32_t offset,
              int transpose, int velocity) {
    for (const Step& s : steps) {
        if (s.key >= 0) {
            t.Note(offset + Ticks(s.start), Gate(Ticks(s.length)), channel, s.key + transpose,
                   velocity);
        }
    }
}

SmfTrack Conductor(const std::string& title, uint32_t bpm, int sharps) {
    SmfTrack t;
    t.TrackName(title);
    t.Text("Public-domain melody, arranged for Pelorvane");
    t.TimeSignature(0, 4, 2);
    t.KeySignature(0, sharps, false);
    t.Tempo(0, 60000000 / bpm);
    return t;
}

SmfTrack Part(const std::string& name, int channel, int program, int volume, int pan) {
    SmfTrack t;
    t.TrackName(name);
    t.Control(0, channel, 7, volume);
    t.Control(0, channel, 10, pan);
    t.Program(0, channel, program);
    return t;
}

DemoSong Twinkle() {
    const std::vector<Step> melody = ParseSteps(
        "C4:2 C4:2 G4:2 G4:2 | A4:2 A4:2 G4:4 | F4:2 F4:2 E4:2 E4:2 | D4:2 D4:2 C4:4 | "
        "G4:2 G4:2 F4:2 F4:2 | E4:2 E4:2 D4:4 | G4:2 G4:2 F4:2 F4:2 | E4:2 E4:2 D4:4 | "
        "C4:2 C4:2 G4:2 G4:2 | A4:2 A4:2 G4:4 | F4:2 F4:2 E4:2 E4:2 | D4:2 D4:2 C4:4");
    const std::vector<Chord> chords = ParseChords(
        "C:8 | F:4 C:4 | F:4 C:4 | G:4 C:4 | C:4 F:4 | C:4 G:4 | C:4 F:4 | C:4 G:4 | "
        "C:8 | F:4 C:4 | F:4 C:4 | G:4 C:4");

    SmfTrack lead = Part("メロディ", kMelodyChannel, kPiano, 110, 64);
    AddSteps(lead, kMelodyChannel, melody, 0, 0, 100);

    // Broken chords, root-fifth-third-fifth in eighths; the last chord is held.
    SmfTrack accompaniment = Part("伴奏", 1, kPiano, 90, 52);
    for (std::size_t i = 0; i < chords.size(); ++i) {
        const Chord& c = chords[i];
        const std::vector<int> keys = Triad(c);
        if (i + 1 == chords.size()) {
            for (int k : keys) {
                accompaniment.Note(Ticks(c.start), Gate(Ticks(c.length)), 1, k, 64);
            }
            continue;
        }
        static constexpr int kPattern[] = {0, 2, 1, 2};
        for (uint32_t e = 0; e < c.length; ++e) {
            accompaniment.Note(Ticks(c.start + e), Gate(kEighth), 1, keys[kPattern[e % 4]],
                               e % 4 == 0 ? 66 : 56);
        }
    }

    SmfTrack bass = Part("ベース", 2, kAcousticBass, 100, 76);
    for (const Chord& c : chords) {
        bass.Note(Ticks(c.start), Gate(Ticks(c.length)), 2, BassKey(c), 84);
    }

    return {"01_kirakiraboshi.mid", "きらきら星",
            EncodeSmf({Conductor("きらきら星", 92, 0), lead, accompaniment, bass})};
}

DemoSong OdeToJoy() {
    const std::vector<Step> melody = ParseSteps(
        "E4:2 E4:2 F4:2 G4:2 | G4:2 F4:2 E4:2 D4:2 | C4:2 C4:2 D4:2 E4:2 | E4:3 D4:1 D4:4 | "
        "E4:2 E4:2 F4:2 G4:2 | G4:2 F4:2 E4:2 D4:2 | C4:2 C4:2 D4:2 E4:2 | D4:3 C4:1 C4:4 | "
        "D4:2 D4:2 E4:2 C4:2 | D4:2 E4:1 F4:1 E4:2 C4:2 | D4:2 E4:1 F4:1 E4:2 D4:2 | "
        "C4:2 D4:2 G3:4 | "
        "E4:2 E4:2 F4:2 G4:2 | G4:2 F4:2 E4:2 D4:2 | C4:2 C4:2 D4:2 E4:2 | D4:3 C4:1 C4:4");
    const std::vector<Chord> chords = ParseChords(
        "C:8 | G:8 | C:8 | G:8 | C:8 | G:8 | C:8 | G:4 C:4 | "
        "G:4 C:4 | G:4 C:4 | G:4 Em:4 | C:4 G:4 | "
        "C:8 | G:8 | C:8 | G:4 C:4");
    const uint32_t end = Ticks(chords.back().start + chords.back().length);

    SmfTrack lead = Part("メロディ", kMelodyChannel, kPiano, 110, 64);
    AddSteps(lead, kMelodyChannel, melody, 0, 0, 100);

    // Chords on every beat; the final chord rings.
    SmfTrack pad = Part("伴奏", 1, kStrings, 80, 44);
    for (std::size_t i = 0; i < chords.size(); ++i) {
        const Chord& c = chords[i];
        const bool last = i + 1 == chords.size();
        for (uint32_t beat = 0; beat < c.length; beat += 2) {
            for (int k : Triad(c)) {
                pad.Note(Ticks(c.start + beat), last ? Gate(Ticks(c.length - beat)) : kEighth, 1, k,
                         beat == 0 ? 68 : 58);
            }
            if (last) {
                break;
            }
        }
    }

    SmfTrack bass = Part("ベース", 2, kFingerBass, 100, 84);
    for (const Chord& c : chords) {
        for (uint32_t beat = 0; beat < c.length; beat += 4) {
            bass.Note(Ticks(c.start + beat), Gate(2 * kEighth), 2, BassKey(c), 88);
            bass.Note(Ticks(c.start + beat + 2), Gate(2 * kEighth), 2, BassKey(c) + 7, 76);
        }
    }

    SmfTrack drums = Part("ドラム", kDrumChannel, 0, 90, 64);
    for (uint32_t bar = 0; bar * kBar < end; ++bar) {
        const uint32_t at = bar * kBar;
        const bool lastBar = at + kBar >= end;
        if (bar == 0) {
            drums.Note(at, kEighth, kDrumChannel, kCrash, 90);
        }
        for (uint32_t e = 0; e < 8; ++e) {
            if (lastBar && e >= 4) {
                break;
            }
            drums.Note(at + e * kEighth, kEighth / 2, kDrumChannel, kClosedHat, e % 2 ? 52 : 70);
        }
        drums.Note(at, kEighth, kDrumChannel, kKick, 96);
        drums.Note(at + 2 * kEighth, kEighth, kDrumChannel, kSnare, 84);
        if (lastBar) {
            drums.Note(at + 4 * kEighth, 4 * kEighth, kDrumChannel, kKick, 100);
            drums.Note(at + 4 * kEighth, 4 * kEighth, kDrumChannel, kCrash, 96);
        } else {
            drums.Note(at + 4 * kEighth, kEighth, kDrumChannel, kKick, 90);
            drums.Note(at + 6 * kEighth, kEighth, kDrumChannel, kSnare, 84);
        }
    }

    return {"02_yorokobi_no_uta.mid", "よろこびの歌",
            EncodeSmf({Conductor("よろこびの歌", 120, 0), lead, pad, bass, drums})};
}

DemoSong FrogRound() {
    // Sung as a round: each voice enters two bars after the one before.
    const std::vector<Step> melody = ParseSteps(
        "C4:2 D4:2 E4:2 F4:2 | E4:2 D4:2 C4:4 | E4:2 F4:2 G4:2 A4:2 | G4:2 F4:2 E4:4 | "
        "C4:2 r:2 C4:2 r:2 | C4:2 r:2 C4:2 r:2 | "
        "C4:1 C4:1 D4:1 D4:1 E4:1 E4:1 F4:1 F4:1 | E4:2 D4:2 C4:2 r:2");
    constexpr uint32_t kTimes = 2;
    constexpr uint32_t kPhrase = 8 * kBar;
    constexpr uint32_t kEntry = 2 * kBar;

    SmfTrack lead = Part("メロディ", kMelodyChannel, kPiano, 110, 64);
    SmfTrack second = Part("輪唱 2", 1, kClarinet, 92, 40);
    SmfTrack third = Part("輪唱 3", 2, kFlute, 84, 88);
    for (uint32_t n = 0; n < kTimes; ++n) {
        AddSteps(lead, kMelodyChannel, melody, n * kPhrase, 0, 100);
        AddSteps(second, 1, melody, kEntry + n * kPhrase, -12, 80);
        AddSteps(third, 2, melody, 2 * kEntry + n * kPhrase, 12, 72);
    }

    // A drone of tonic and dominant under the voices, ending on a held C.
    SmfTrack bass = Part("ベース", 3, kAcousticBass, 96, 64);
    const uint32_t end = 2 * kEntry + kTimes * kPhrase;
    for (uint32_t at = 0; at < end; at += kBar) {
        if (at + kBar >= end) {
            bass.Note(at, Gate(kBar), 3, 36, 84);
            break;
        }
        bass.Note(at, Gate(4 * kEighth), 3, 36, 84);
        bass.Note(at + 4 * kEighth, Gate(4 * kEighth), 3, 43, 72);
    }

    return {"03_kaeru_no_gassho.mid", "かえるの合唱",
            EncodeSmf({Conductor("かえるの合唱", 132, 0), lead, second, third, bass})};
}

}  // namespace

std::vector<DemoSong> MakeDemoSongs() {
    return {Twinkle(), OdeToJoy(), FrogRound()};
}

}  // namespace resgen
