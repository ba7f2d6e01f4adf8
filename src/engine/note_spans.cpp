#include "engine/note_spans.h"

#include <algorithm>
#include <array>
#include <utility>

#include "engine/part_map.h"
#include "smf/smf.h"

std::shared_ptr<const NoteSpans> NoteSpans::FromSong(const smf::Song& song, const PartMap* parts) {
    std::vector<NoteEvent> events;
    uint32_t trackIndex = 0;
    for (const smf::Track& track : song.Tracks()) {
        const uint32_t thisTrack = trackIndex++;
        uint32_t lastTick = 0;
        uint32_t lastMs = song.TickToMs(0);
        for (const smf::Event& e : track.events) {
            const int status = e.kind & 0xF0;
            if (e.kind >= 0x100 || (status != 0x80 && status != 0x90) || e.length < 3) {
                continue;
            }
            if (e.tick != lastTick) {
                lastTick = e.tick;
                lastMs = song.TickToMs(e.tick);
            }
            const uint8_t* data = song.Data(e);
            const auto channel = static_cast<uint8_t>(e.kind & 0x0F);
            const auto key = static_cast<uint8_t>(data[1] & 0x7F);
            const Hand hand = parts ? parts->HandOfNote(channel, thisTrack, key) : Hand::Both;
            events.push_back({lastMs, status == 0x90 && data[2] != 0, channel, key, hand});
        }
    }
    // Tracks interleave; within one millisecond a note-off ends the earlier note before a
    // note-on of the same key starts the next, as the player sends them.
    std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        return a.time != b.time ? a.time < b.time : (!a.on && b.on);
    });
    return FromEvents(std::move(events));
}

std::shared_ptr<const NoteSpans> NoteSpans::FromEvents(std::vector<NoteEvent> events) {
    auto spans = std::make_shared<NoteSpans>();
    // Notes of one channel and key still sounding, oldest first: a note-off ends the oldest,
    // as a synthesizer that stacks repeated notes would.
    std::array<std::vector<size_t>, 16 * 128> open;
    for (const NoteEvent& e : events) {
        std::vector<size_t>& sounding = open[size_t{e.channel} * 128 + e.key];
        if (e.on) {
            sounding.push_back(spans->m_spans.size());
            spans->m_spans.push_back({e.time, e.time, e.key, e.channel, e.hand});
        } else if (!sounding.empty()) {
            spans->m_spans[sounding.front()].end = e.time;
            sounding.erase(sounding.begin());
        }
    }
    // A note never ended lasts to the song's last event.
    const uint32_t last = events.empty() ? 0 : events.back().time;
    for (const std::vector<size_t>& sounding : open) {
        for (size_t i : sounding) {
            spans->m_spans[i].end = last;
        }
    }
    std::vector<NoteSpan> all = std::move(spans->m_spans);
    spans->m_spans.clear();
    for (const NoteSpan& s : all) {
        (s.end - s.start < kLongMs ? spans->m_spans : spans->m_long).push_back(s);
    }
    return spans;
}

std::pair<size_t, size_t> NoteSpans::Within(uint32_t fromMs, uint32_t toMs) const {
    const uint32_t earliest = fromMs > kLongMs ? fromMs - kLongMs : 0;
    auto byStart = [](const NoteSpan& s, uint32_t t) { return s.start < t; };
    const auto first = std::lower_bound(m_spans.begin(), m_spans.end(), earliest, byStart);
    const auto last = std::upper_bound(first, m_spans.end(), toMs,
                                       [](uint32_t t, const NoteSpan& s) { return t < s.start; });
    return {static_cast<size_t>(first - m_spans.begin()),
            static_cast<size_t>(last - m_spans.begin())};
}
