#include "smf_writer.h"

#include <algorithm>

namespace resgen {
namespace {

void PutVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = v & 0x7F;
        v >>= 7;
    } while (v != 0);
    while (n > 1) {
        out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    }
    out.push_back(groups[0]);
}

void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

uint8_t Byte7(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 127));
}

}  // namespace

void SmfTrack::Meta(uint32_t tick, uint8_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {0xFF, type};
    PutVarLen(bytes, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    m_items.push_back({tick, 0, std::move(bytes)});
}

void SmfTrack::TrackName(const std::string& utf8Name) {
    Meta(0, 0x03, std::vector<uint8_t>(utf8Name.begin(), utf8Name.end()));
}

void SmfTrack::Text(const std::string& utf8Text) {
    Meta(0, 0x01, std::vector<uint8_t>(utf8Text.begin(), utf8Text.end()));
}

void SmfTrack::Tempo(uint32_t tick, uint32_t microsPerQuarter) {
    Meta(tick, 0x51,
         {static_cast<uint8_t>(microsPerQuarter >> 16), static_cast<uint8_t>(microsPerQuarter >> 8),
          static_cast<uint8_t>(microsPerQuarter)});
}

void SmfTrack::TimeSignature(uint32_t tick, int numerator, int denominatorPower) {
    Meta(tick, 0x58,
         {static_cast<uint8_t>(numerator), static_cast<uint8_t>(denominatorPower), 24, 8});
}

void SmfTrack::KeySignature(uint32_t tick, int sharps, bool minor) {
    Meta(tick, 0x59, {static_cast<uint8_t>(static_cast<int8_t>(sharps)), uint8_t(minor ? 1 : 0)});
}

void SmfTrack::Program(uint32_t tick, int channel, int program) {
    m_items.push_back({tick, 0, {static_cast<uint8_t>(0xC0 | (channel & 0x0F)), Byte7(program)}});
}

void SmfTrack::Control(uint32_t tick, int channel, int controller, int value) {
    m_items.push_back(
        {tick,
         0,
         {static_cast<uint8_t>(0xB0 | (channel & 0x0F)), Byte7(controller), Byte7(value)}});
}

void SmfTrack::Note(uint32_t tick, uint32_t length, int channel, int key, int velocity) {
    const uint8_t ch = static_cast<uint8_t>(channel & 0x0F);
    m_items.push_back({tick, 2, {static_cast<uint8_t>(0x90 | ch), Byte7(key), Byte7(velocity)}});
    m_items.push_back({tick + length, 1, {static_cast<uint8_t>(0x80 | ch), Byte7(key), 64}});
}

std::vector<uint8_t> SmfTrack::Encode() const {
    std::vector<Item> items = m_items;
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    std::vector<uint8_t> body;
    uint32_t now = 0;
    for (const Item& item : items) {
        PutVarLen(body, item.tick - now);
        now = item.tick;
        body.insert(body.end(), item.bytes.begin(), item.bytes.end());
    }
    PutVarLen(body, 0);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> chunk = {'M', 'T', 'r', 'k'};
    Put32Be(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

std::vector<uint8_t> EncodeSmf(const std::vector<SmfTrack>& tracks) {
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    out.push_back(static_cast<uint8_t>(tracks.size() >> 8));
    out.push_back(static_cast<uint8_t>(tracks.size()));
    out.push_back(static_cast<uint8_t>(kTicksPerQuarter >> 8));
    out.push_back(static_cast<uint8_t>(kTicksPerQuarter & 0xFF));
    for (const SmfTrack& track : tracks) {
        const std::vector<uint8_t> chunk = track.Encode();
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

}  // namespace resgen
