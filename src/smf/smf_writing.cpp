#include "smf/smf_writing.h"

#include <algorithm>

namespace smf {

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
    out.insert(out.end(), id, id + 4);
    Put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

void PutVarLen(std::vector<uint8_t>& out, uint32_t value) {
    // Delta times and lengths hold 28 bits.
    value &= 0x0FFFFFFFu;
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1) {
        out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    }
    out.push_back(groups[0]);
}

std::vector<uint8_t> MetaBytes(uint8_t type, const std::string& data) {
    std::vector<uint8_t> out{0xFF, type};
    PutVarLen(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> HeaderChunk(uint16_t format, uint16_t tracks, uint16_t division) {
    std::vector<uint8_t> out;
    PutChunk(out, "MThd",
             {static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
              static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks),
              static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
    return out;
}

std::vector<uint8_t> TrackChunk(std::vector<TimedBytes> events, uint32_t endTick) {
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
    std::vector<uint8_t> body;
    uint32_t last = 0;
    for (const TimedBytes& event : events) {
        // A gap wider than a delta time holds is bridged by empty text events.
        while (event.tick - last > 0x0FFFFFFFu) {
            last += 0x0FFFFFFFu;
            PutVarLen(body, 0x0FFFFFFFu);
            body.insert(body.end(), {0xFF, 0x01, 0x00});
        }
        PutVarLen(body, event.tick - last);
        last = event.tick;
        body.insert(body.end(), event.bytes.begin(), event.bytes.end());
    }
    PutVarLen(body, endTick > last ? std::min(endTick - last, 0x0FFFFFFFu) : 0);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> chunk;
    PutChunk(chunk, "MTrk", body);
    return chunk;
}

}  // namespace smf
