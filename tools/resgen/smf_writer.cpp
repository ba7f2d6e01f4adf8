#include "smf_writer.h"

#include <algorithm>

#include "midi_file_writer/midi_file_bytes.h"

namespace resgen {
namespace {

using midi_file::PutVarLen;

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
    std::vector<midi_file::TimedBytes> events;
    events.reserve(items.size());
    for (Item& item : items) {
        events.push_back({item.tick, std::move(item.bytes)});
    }
    return midi_file::TrackChunk(std::move(events));
}

std::vector<uint8_t> EncodeSmf(const std::vector<SmfTrack>& tracks) {
    std::vector<uint8_t> out = midi_file::HeaderChunk(1, static_cast<uint16_t>(tracks.size()),
                                                      static_cast<uint16_t>(kTicksPerQuarter));
    for (const SmfTrack& track : tracks) {
        const std::vector<uint8_t> chunk = track.Encode();
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

}  // namespace resgen
