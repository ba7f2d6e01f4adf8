#include "engine/part_map.h"

#include <algorithm>
#include <cctype>
#include <deque>

#include "engine/timeline.h"
#include "platform/text_file.h"
#include "smf/smf.h"

namespace {

constexpr uint32_t kTrackName = smf::kMetaBase + 0x03;

Hand Other(Hand hand) {
    return hand == Hand::Right ? Hand::Left : Hand::Right;
}

bool IsNoteOn(const smf::Song& song, const smf::Event& e) {
    return (e.kind & 0xF0) == 0x90 && e.kind <= 0xEF && e.length >= 3 && song.Data(e)[2] != 0;
}

std::string TrackName(const smf::Song& song, const smf::Track& track) {
    for (const smf::Event& e : track.events) {
        if (e.kind == kTrackName) {
            return std::string(reinterpret_cast<const char*>(song.Data(e)), e.length);
        }
    }
    return {};
}

int UpperMedian(std::vector<uint8_t> keys) {
    const auto middle = keys.begin() + static_cast<std::ptrdiff_t>(keys.size() / 2);
    std::nth_element(keys.begin(), middle, keys.end());
    return *middle;
}

}  // namespace

Hand PartMap::HandOfName(const std::string& bytes) {
    const std::string name = DecodeLegacyText(bytes);
    // Words of letters and digits; the dots of "R.H." join its letters into one word.
    std::vector<std::string> words(1);
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && std::isalnum(u)) {
            words.back() += static_cast<char>(std::tolower(u));
        } else if (c != '.' && !words.back().empty()) {
            words.emplace_back();
        }
    }
    bool right = name.find("右手") != std::string::npos;
    bool left = name.find("左手") != std::string::npos;
    for (const std::string& w : words) {
        right = right || w == "right" || w == "rh" || w == "treble" || w == "righthand";
        left = left || w == "left" || w == "lh" || w == "bass" || w == "lefthand";
    }
    if (right == left) {
        return Hand::Both;  // neither, or a name that says both
    }
    return right ? Hand::Right : Hand::Left;
}

Hand PartMap::HandOfNote(int channel, uint32_t track, int key) const {
    const int ch = channel & 0x0F;
    if (!(m_divided >> ch & 1u)) {
        return Hand::Both;
    }
    const std::vector<uint8_t>& tracks = m_trackHands[static_cast<size_t>(ch)];
    const Hand byTrack = track < tracks.size() ? static_cast<Hand>(tracks[track]) : Hand::Both;
    if (byTrack != Hand::Both) {
        return byTrack;
    }
    return key >= m_splitKey ? Hand::Right : Hand::Left;
}

PartMap PartMap::Build(const smf::Song& song, const Timeline& timeline, int splitKey, bool hands) {
    PartMap map;
    map.m_splitKey = splitKey >= 0 && splitKey <= 127 ? splitKey : kDefaultSplitKey;
    if (!hands) {
        return map;
    }
    const std::vector<smf::Track>& tracks = song.Tracks();
    const uint32_t trackCount =
        static_cast<uint32_t>(std::min<size_t>(tracks.size(), PerformanceEvent::kMaxTrack));
    // The keys each track plays on each channel.
    std::array<std::vector<std::vector<uint8_t>>, 16> keys;
    for (uint32_t t = 0; t < trackCount; ++t) {
        for (const smf::Event& e : tracks[t].events) {
            if (IsNoteOn(song, e)) {
                std::vector<std::vector<uint8_t>>& perTrack = keys[e.kind & 0x0F];
                perTrack.resize(trackCount);
                perTrack[t].push_back(song.Data(e)[1] & 0x7F);
            }
        }
    }
    for (size_t ch = 0; ch < 16; ++ch) {
        std::vector<uint32_t> playing;
        for (uint32_t t = 0; t < keys[ch].size(); ++t) {
            if (!keys[ch][t].empty()) {
                playing.push_back(t);
            }
        }
        if (playing.empty()) {
            continue;
        }
        std::vector<uint8_t>& trackHands = map.m_trackHands[ch];
        trackHands.assign(trackCount, static_cast<uint8_t>(Hand::Both));
        ChannelHands& info = map.m_channels[ch];
        auto set = [&trackHands](uint32_t t, Hand hand) {
            trackHands[t] = static_cast<uint8_t>(hand);
        };
        if (playing.size() == 1) {
            info.source = Source::Split;
        } else if (playing.size() == 2) {
            const uint32_t a = playing[0];
            const uint32_t b = playing[1];
            const Hand nameA = HandOfName(TrackName(song, tracks[a]));
            const Hand nameB = HandOfName(TrackName(song, tracks[b]));
            if (nameA != Hand::Both && nameA != nameB) {
                info.source = Source::TrackName;
                set(a, nameA);
                set(b, Other(nameA));
            } else if (nameB != Hand::Both && nameA == Hand::Both) {
                info.source = Source::TrackName;
                set(a, Other(nameB));
                set(b, nameB);
            } else {
                // Equal medians leave the earlier track the right hand.
                info.source = Source::TrackPitch;
                const bool aHigher = UpperMedian(keys[ch][a]) >= UpperMedian(keys[ch][b]);
                set(a, aHigher ? Hand::Right : Hand::Left);
                set(b, aHigher ? Hand::Left : Hand::Right);
            }
        } else {
            info.source = Source::TrackPitch;
            for (uint32_t t : playing) {
                const Hand named = HandOfName(TrackName(song, tracks[t]));
                if (named != Hand::Both) {
                    info.source = Source::TrackName;
                    set(t, named);
                } else {
                    set(t, UpperMedian(keys[ch][t]) >= map.m_splitKey ? Hand::Right : Hand::Left);
                }
            }
        }
        map.m_divided = static_cast<uint16_t>(map.m_divided | 1u << ch);
        for (uint32_t t : playing) {
            for (uint8_t key : keys[ch][t]) {
                (map.HandOfNote(static_cast<int>(ch), t, key) == Hand::Right ? info.right
                                                                             : info.left)++;
            }
        }
        if (info.right == 0 || info.left == 0) {
            map.m_divided = static_cast<uint16_t>(map.m_divided & ~(1u << ch));
            info.source = Source::Whole;
            trackHands.clear();
        }
    }
    if (map.m_divided == 0) {
        return map;
    }
    // A note-off goes with the note it ends, whichever track it comes from: the oldest note of
    // its key still sounding, as the synthesizer stacks them.
    map.m_hands.assign(timeline.Size(), static_cast<uint8_t>(Hand::Both));
    map.m_noteOnOf.assign(timeline.Size(), kNoNote);
    std::vector<std::deque<uint32_t>> sounding(16 * 128);
    for (uint32_t i = 0; i < timeline.Size(); ++i) {
        const PerformanceEvent& e = timeline[i];
        if (e.IsSysex() || !(map.m_divided >> e.channel & 1u) ||
            (!e.IsNoteOn() && !e.IsNoteOff())) {
            continue;
        }
        std::deque<uint32_t>& open = sounding[size_t{e.channel} * 128 + (e.data1 & 0x7F)];
        if (e.IsNoteOn()) {
            const Hand hand = map.HandOfNote(e.channel, e.Track(), e.data1 & 0x7F);
            map.m_hands[i] = static_cast<uint8_t>(hand);
            open.push_back(i);
        } else if (!open.empty()) {
            map.m_noteOnOf[i] = open.front();
            map.m_hands[i] = map.m_hands[open.front()];
            open.pop_front();
        } else {
            map.m_hands[i] = static_cast<uint8_t>(map.HandOfNote(e.channel, e.Track(), e.data1));
        }
    }
    return map;
}
