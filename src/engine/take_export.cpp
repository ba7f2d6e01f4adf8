#include "engine/take_export.h"

#include <algorithm>

#include "smf/smf.h"
#include "smf/smf_writing.h"

namespace {

constexpr uint32_t kEndOfTrack = smf::kMetaBase + 0x2F;
constexpr uint8_t kSustain = 64;

// An event of the song as it stands in a track, with its length where it has one.
std::vector<uint8_t> EventBytes(const smf::Song& song, const smf::Event& e) {
    const uint8_t* data = song.Data(e);
    std::vector<uint8_t> out;
    if (e.kind >= smf::kMetaBase) {
        out = {0xFF, static_cast<uint8_t>(e.kind - smf::kMetaBase)};
        smf::PutVarLen(out, e.length);
        out.insert(out.end(), data, data + e.length);
    } else if (e.kind == 0xF0) {
        // Kept as it is sent: F0 and the data after it.
        out = {0xF0};
        smf::PutVarLen(out, e.length > 0 ? e.length - 1 : 0);
        if (e.length > 1) {
            out.insert(out.end(), data + 1, data + e.length);
        }
    } else if (e.kind == 0xF7) {
        out = {0xF7};
        smf::PutVarLen(out, e.length);
        out.insert(out.end(), data, data + e.length);
    } else {
        out.assign(data, data + e.length);
    }
    return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> SongWithTake(const smf::Song& song, const Take& take,
                                                 const std::string& trackName) {
    if (song.Format() == 2 || song.Tracks().size() >= 0xFFFF) {
        return std::nullopt;
    }
    const auto trackCount = static_cast<uint16_t>(song.Tracks().size() + 1);
    std::vector<uint8_t> out = smf::HeaderChunk(1, trackCount, song.Division());
    uint32_t songEnd = 0;
    for (const smf::Track& track : song.Tracks()) {
        std::vector<smf::TimedBytes> events;
        events.reserve(track.events.size());
        uint32_t end = 0;
        for (const smf::Event& e : track.events) {
            end = std::max(end, e.tick);
            if (e.kind != kEndOfTrack) {
                events.push_back({e.tick, EventBytes(song, e)});
            }
        }
        songEnd = std::max(songEnd, end);
        const std::vector<uint8_t> chunk = smf::TrackChunk(std::move(events), end);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    // The take on MIDI channel 1, as the keyboard sent it.
    std::vector<smf::TimedBytes> events;
    events.reserve(take.size() + 1);
    events.push_back({0, smf::MetaBytes(0x03, trackName)});
    for (const TakeEvent& e : take) {
        const uint32_t tick = song.Tempo().MsToTick(e.songMs);
        switch (e.kind) {
            case TakeEvent::NoteOn:
                events.push_back({tick, {0x90, e.key, e.value}});
                break;
            case TakeEvent::NoteOff:
                events.push_back({tick, {0x80, e.key, 0}});
                break;
            case TakeEvent::Pedal:
                events.push_back({tick, {0xB0, kSustain, e.value}});
                break;
        }
    }
    const std::vector<uint8_t> chunk = smf::TrackChunk(std::move(events), songEnd);
    out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}
