// Construction of a Performance and the building of its timeline from a loaded song.

#include <algorithm>
#include <cstring>

#include "engine/performance.h"
#include "smf/huge_pages.h"
#include "smf/smf.h"

Performance::Performance(std::shared_ptr<MidiOut> output) : m_hOutput(std::move(output)) {
    m_volume.fill(100);
}

Performance::~Performance() = default;

const uint8_t* Performance::SysexBytes(const PerformanceEvent& e) const {
    return m_sysexBytes.data() + m_sysex[e.sysex].offset;
}

uint32_t Performance::SysexLength(const PerformanceEvent& e) const {
    return m_sysex[e.sysex].length;
}

void Performance::Build(const smf::Song& song) {
    m_channelUsed.fill(0);
    m_events.clear();
    m_sysex.clear();
    m_sysexBytes.clear();

    size_t total = 0;
    for (const smf::Track& track : song.Tracks()) {
        total += track.events.size();
    }
    m_events.reserve(total);
    // A long song's timeline is tens of megabytes: fewer, larger pages fault in much faster.
    smf::AdviseHugePages(m_events.data(), total * sizeof(PerformanceEvent));
    TimelineRuns runs;

    for (const smf::Track& track : song.Tracks()) {
        // Events of one track come in tick order and many share a tick (chords), so the
        // conversion is only asked again when the tick moves.
        uint32_t lastTick = 0;
        uint32_t lastMs = song.TickToMs(0);
        for (const smf::Event& e : track.events) {
            if (e.kind >= 0x100 || e.kind < 0x80 ||
                (e.kind > 0xEF && e.kind != 0xF0 && e.kind != 0xF7)) {
                continue;  // meta events act only through the tempo map
            }
            if (e.tick != lastTick) {
                lastTick = e.tick;
                lastMs = song.TickToMs(e.tick);
            }
            PerformanceEvent pe;
            pe.time = lastMs;
            const uint8_t* data = song.Data(e);
            if (e.kind <= 0xEF) {
                pe.status = static_cast<uint8_t>(e.kind & 0xF0);
                pe.channel = static_cast<uint8_t>(e.kind & 0x0F);
                pe.data1 = e.length >= 2 ? data[1] : 0;
                const bool twoBytes = pe.status != 0xC0 && pe.status != 0xD0;
                pe.data2 = (twoBytes && e.length >= 3) ? data[2] : 0;
                m_channelUsed[pe.channel] = 1;
            } else {
                pe.status = static_cast<uint8_t>(e.kind);
                pe.sysex = static_cast<uint32_t>(m_sysex.size());
                SysexRef ref;
                ref.offset = static_cast<uint32_t>(m_sysexBytes.size());
                ref.length = e.length;
                m_sysex.push_back(ref);
                m_sysexBytes.insert(m_sysexBytes.end(), data, data + e.length);
            }
            pe.sortKey = TimelineSortKey(pe);
            runs.Add(m_events.size(), SortKeyOf(pe));
            m_events.push_back(pe);
        }
    }
    SortKeyedEvents(m_events, runs);
    ComputeSpareChannel();
}

void Performance::ComputeSpareChannel() {
    m_spareChannel = 0;
    for (int ch = 15; ch >= 1; --ch) {
        if (!m_channelUsed[ch]) {
            m_spareChannel = ch;
            return;
        }
    }
}
