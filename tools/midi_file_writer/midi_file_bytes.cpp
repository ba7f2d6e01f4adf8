#include "midi_file_writer/midi_file_bytes.h"

#include "smf/smf_writing.h"

#include <algorithm>

namespace midi_file {

void PutVarLen(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
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

std::vector<uint8_t> VarLen(uint32_t value) {
    std::vector<uint8_t> out;
    PutVarLen(out, value);
    return out;
}

// The chunks are the program's own writer's; only the delta times differ (see PutVarLen).
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    smf::Put32(out, value);
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
    smf::PutChunk(out, id, body);
}

std::vector<uint8_t> HeaderChunk(uint16_t format, uint16_t tracks, uint16_t division) {
    return smf::HeaderChunk(format, tracks, division);
}

std::vector<uint8_t> TrackChunk(std::vector<TimedBytes> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
    std::vector<uint8_t> body;
    uint32_t last = 0;
    for (const TimedBytes& event : events) {
        PutVarLen(body, event.tick - last);
        last = event.tick;
        body.insert(body.end(), event.bytes.begin(), event.bytes.end());
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> chunk;
    PutChunk(chunk, "MTrk", body);
    return chunk;
}

}  // namespace midi_file
