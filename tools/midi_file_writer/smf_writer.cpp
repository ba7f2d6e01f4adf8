#include "midi_file_writer/smf_writer.h"

#include <stdexcept>

#include "midi_file_writer/midi_file_bytes.h"

SmfWriter& SmfWriter::NewTrack() {
    m_tracks.emplace_back();
    return *this;
}

SmfWriter& SmfWriter::Add(uint32_t tick, std::vector<uint8_t> bytes) {
    m_tracks.back().push_back({tick, std::move(bytes)});
    return *this;
}

SmfWriter& SmfWriter::NoteOn(uint32_t tick, int channel, int key, int velocity) {
    return Add(tick, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                      static_cast<uint8_t>(velocity)});
}

SmfWriter& SmfWriter::NoteOff(uint32_t tick, int channel, int key) {
    return Add(tick, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 64});
}

SmfWriter& SmfWriter::Note(uint32_t tick, int channel, int key, uint32_t length, int velocity) {
    NoteOn(tick, channel, key, velocity);
    return NoteOff(tick + length, channel, key);
}

SmfWriter& SmfWriter::Control(uint32_t tick, int channel, int controller, int value) {
    return Add(tick, {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
                      static_cast<uint8_t>(value)});
}

SmfWriter& SmfWriter::Tempo(uint32_t tick, uint32_t us) {
    return Add(tick, {0xFF, 0x51, 3, static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                      static_cast<uint8_t>(us)});
}

std::vector<uint8_t> SmfWriter::Bytes() const {
    std::vector<uint8_t> out =
        midi_file::HeaderChunk(1, static_cast<uint16_t>(m_tracks.size()), m_division);
    for (const std::vector<Item>& items : m_tracks) {
        std::vector<midi_file::TimedBytes> events;
        events.reserve(items.size());
        for (const Item& item : items) {
            const std::vector<uint8_t>& b = item.bytes;
            if (b.empty()) {
                throw std::invalid_argument("empty event");
            }
            std::vector<uint8_t> encoded;
            if (b[0] == 0xF0 || b[0] == 0xF7) {
                // The status byte, then the length of what follows it.
                encoded.push_back(b[0]);
                midi_file::PutVarLen(encoded, static_cast<uint32_t>(b.size() - 1));
                encoded.insert(encoded.end(), b.begin() + 1, b.end());
            } else if (b[0] == 0xFF) {
                encoded = {0xFF, b[1]};
                midi_file::PutVarLen(encoded, static_cast<uint32_t>(b.size() - 3));
                encoded.insert(encoded.end(), b.begin() + 3, b.end());
            } else {
                encoded = b;
            }
            events.push_back({item.tick, std::move(encoded)});
        }
        const std::vector<uint8_t> chunk = midi_file::TrackChunk(std::move(events));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

std::unique_ptr<smf::Song> SmfWriter::Load() const {
    const std::vector<uint8_t> bytes = Bytes();
    auto song = smf::LoadFromMemory(bytes.data(), bytes.size());
    if (!song) {
        throw std::runtime_error("the test song did not load");
    }
    return song;
}
