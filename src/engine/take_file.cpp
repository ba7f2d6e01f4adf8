#include "engine/take_file.h"

#include <cstdint>

#include "smf/smf.h"
#include "smf/smf_writing.h"

namespace {

// A quarter note lasts a second of a thousand ticks: a tick is a millisecond.
constexpr uint16_t kDivision = 1000;
constexpr uint32_t kMicrosPerQuarter = 1000000;
constexpr uint8_t kSustain = 64;

// The learner's pace rides in a sequencer-specific meta event at the track's start, which every
// reader of MIDI files passes over: the id for non-commercial use, a 'W', then for each event
// whose wait differs from the one before it, the events since the last such (varint) and how
// much longer the song had waited (varint). A take without waits has none, and a take stored
// before it had none either: both play at the song's own pace.
constexpr uint8_t kSequencerSpecific = 0x7F;
constexpr uint8_t kOwnId = 0x7D;
constexpr uint8_t kWaitsTag = 'W';

std::vector<uint8_t> WaitsMeta(const Take& take) {
    std::vector<uint8_t> body{kOwnId, kWaitsTag};
    uint32_t waited = 0;
    size_t last = 0;
    for (size_t i = 0; i < take.size(); ++i) {
        if (take[i].waitedMs > waited) {
            smf::PutVarLen(body, static_cast<uint32_t>(i - last));
            smf::PutVarLen(body, take[i].waitedMs - waited);
            waited = take[i].waitedMs;
            last = i;
        }
    }
    if (body.size() == 2) {
        return {};
    }
    std::vector<uint8_t> meta{0xFF, kSequencerSpecific};
    smf::PutVarLen(meta, static_cast<uint32_t>(body.size()));
    meta.insert(meta.end(), body.begin(), body.end());
    return meta;
}

bool ReadVarLen(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    value = 0;
    for (int n = 0; n < 4 && p < end; ++n) {
        const uint8_t b = *p++;
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) {
            return true;
        }
    }
    return false;
}

// False when the waits are not ours to read well: a damaged record.
bool ApplyWaits(const uint8_t* p, uint32_t length, Take& take) {
    const uint8_t* end = p + length;
    size_t at = 0;
    uint32_t waited = 0;
    while (p < end) {
        uint32_t skip = 0, more = 0;
        if (!ReadVarLen(p, end, skip) || !ReadVarLen(p, end, more) || more == 0 ||
            skip > take.size() - at || at + skip >= take.size()) {
            return false;
        }
        for (size_t i = at; i < at + skip; ++i) {
            take[i].waitedMs = waited;
        }
        at += skip;
        if (waited > UINT32_MAX - more) {
            return false;
        }
        waited += more;
    }
    for (size_t i = at; i < take.size(); ++i) {
        take[i].waitedMs = waited;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> TakeToSmf(const Take& take) {
    std::vector<smf::TimedBytes> events;
    events.reserve(take.size() + 1);
    events.push_back({0,
                      {0xFF, 0x51, 0x03, kMicrosPerQuarter >> 16 & 0xFF,
                       kMicrosPerQuarter >> 8 & 0xFF, kMicrosPerQuarter & 0xFF}});
    if (std::vector<uint8_t> waits = WaitsMeta(take); !waits.empty()) {
        events.push_back({0, std::move(waits)});
    }
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
    const smf::Event* waits = nullptr;
    for (const smf::Event& e : song->Tracks()[0].events) {
        if (e.kind == smf::kMetaBase + kSequencerSpecific && e.length >= 2 &&
            song->Data(e)[0] == kOwnId && song->Data(e)[1] == kWaitsTag) {
            if (waits) {
                return std::nullopt;
            }
            waits = &e;
        }
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
    if (waits && !ApplyWaits(song->Data(*waits) + 2, waits->length - 2, take)) {
        return std::nullopt;
    }
    return take;
}
