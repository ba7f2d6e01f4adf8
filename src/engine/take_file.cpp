#include "engine/take_file.h"

#include "smf/smf.h"
#include "smf/smf_writing.h"

namespace {

// A quarter note lasts a second of a thousand ticks: a tick is a millisecond.
constexpr uint16_t kDivision = 1000;
constexpr uint32_t kMicrosPerQuarter = 1000000;
constexpr uint8_t kSustain = 64;

}  // namespace

std::vector<uint8_t> TakeToSmf(const Take& take) {
    std::vector<smf::TimedBytes> events;
    events.reserve(take.size() + 1);
    events.push_back({0,
                      {0xFF, 0x51, 0x03, kMicrosPerQuarter >> 16 & 0xFF,
                       kMicrosPerQuarter >> 8 & 0xFF, kMicrosPerQuarter & 0xFF}});
    for (const TakeEvent& e : take) {
        switch (e.kind) {
            case TakeEvent::NoteOn:
                events.push_back({e.songMs, {0x90, e.key, e.value}});
                break;
            case TakeEvent::NoteOff:
                events.push_back({e.songMs, {0x80, e.key, 0}});
                break;
            case TakeEvent::Pedal:
                events.push_back({e.songMs, {0xB0, kSustain, e.value}});
                break;
        }
    }
    std::vector<uint8_t> out = smf::HeaderChunk(0, 1, kDivision);
    const std::vector<uint8_t> track = smf::TrackChunk(std::move(events));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

std::optional<Take> TakeFromSmf(const uint8_t* data, size_t size) {
    // Our reader makes the best of a cut file, as a song's should be; a record cut short is
    // damaged, and a take that lost its end would pass for a shorter one.
    constexpr size_t kHeader = 14, kTrackHeader = 8;
    if (!data || size < kHeader + kTrackHeader + 3) {
        return std::nullopt;
    }
    const uint8_t* length = data + kHeader + 4;
    const size_t trackBytes = size_t{length[0]} << 24 | size_t{length[1]} << 16 |
                              size_t{length[2]} << 8 | size_t{length[3]};
    if (kHeader + kTrackHeader + trackBytes != size || data[size - 3] != 0xFF ||
        data[size - 2] != 0x2F || data[size - 1] != 0x00) {
        return std::nullopt;
    }
    const std::unique_ptr<smf::Song> song = smf::LoadFromMemory(data, size);
    if (!song || song->Tracks().size() != 1 || song->Division() != kDivision) {
        return std::nullopt;
    }
    Take take;
    for (const smf::Event& e : song->Tracks()[0].events) {
        if (e.kind >= smf::kMetaBase) {
            continue;
        }
        const uint8_t* d = song->Data(e);
        if (e.length != 3) {
            return std::nullopt;
        }
        const uint32_t ms = song->TickToMs(e.tick);
        if (d[0] == 0x90 && d[2] != 0) {
            take.push_back({ms, TakeEvent::NoteOn, d[1], d[2]});
        } else if (d[0] == 0x80 || d[0] == 0x90) {
            take.push_back({ms, TakeEvent::NoteOff, d[1], 0});
        } else if (d[0] == 0xB0 && d[1] == kSustain) {
            take.push_back({ms, TakeEvent::Pedal, 0, d[2]});
        } else {
            return std::nullopt;
        }
    }
    return take;
}
