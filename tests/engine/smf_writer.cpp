#include "smf_writer.h"

#include <algorithm>
#include <stdexcept>

namespace {

void PutVarLen(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1) {
        out.push_back(groups[--n] | 0x80);
    }
    out.push_back(groups[0]);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

}  // namespace

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
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    out.push_back(static_cast<uint8_t>(m_tracks.size() >> 8));
    out.push_back(static_cast<uint8_t>(m_tracks.size()));
    out.push_back(static_cast<uint8_t>(m_division >> 8));
    out.push_back(static_cast<uint8_t>(m_division));
    for (std::vector<Item> items : m_tracks) {
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.tick < b.tick; });
        std::vector<uint8_t> body;
        uint32_t last = 0;
        for (const Item& item : items) {
            PutVarLen(body, item.tick - last);
            last = item.tick;
            const std::vector<uint8_t>& b = item.bytes;
            if (b.empty()) {
                throw std::invalid_argument("empty event");
            }
            if (b[0] == 0xF0 || b[0] == 0xF7) {
                // The status byte, then the length of what follows it.
                body.push_back(b[0]);
                PutVarLen(body, static_cast<uint32_t>(b.size() - 1));
                body.insert(body.end(), b.begin() + 1, b.end());
            } else if (b[0] == 0xFF) {
                body.push_back(0xFF);
                body.push_back(b[1]);
                PutVarLen(body, static_cast<uint32_t>(b.size() - 3));
                body.insert(body.end(), b.begin() + 3, b.end());
            } else {
                body.insert(body.end(), b.begin(), b.end());
            }
        }
        PutVarLen(body, 0);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        Put32(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
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
