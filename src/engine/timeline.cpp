// The building of a timeline from a loaded song.

#include "engine/timeline.h"

#include "engine/timeline_sort.h"
#include "smf/huge_pages.h"
#include "smf/smf.h"

std::shared_ptr<const Timeline> Timeline::Build(const smf::Song& song) {
    auto timeline = std::make_shared<Timeline>();
    std::vector<PerformanceEvent>& events = timeline->m_events;
    std::vector<SysexRef>& sysex = timeline->m_sysex;
    std::vector<uint8_t>& sysexBytes = timeline->m_sysexBytes;

    size_t total = 0;
    for (const smf::Track& track : song.Tracks()) {
        total += track.events.size();
    }
    events.reserve(total);
    // A long song's timeline is tens of megabytes: fewer, larger pages fault in much faster.
    smf::AdviseHugePages(events.data(), total * sizeof(PerformanceEvent));
    TimelineRuns runs;

    size_t trackIndex = 0;
    for (const smf::Track& track : song.Tracks()) {
        const size_t thisTrack = trackIndex++;
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
            pe.SetTrack(thisTrack);
            const uint8_t* data = song.Data(e);
            if (e.kind <= 0xEF) {
                pe.status = static_cast<uint8_t>(e.kind & 0xF0);
                pe.channel = static_cast<uint8_t>(e.kind & 0x0F);
                pe.data1 = e.length >= 2 ? data[1] : 0;
                const bool twoBytes = pe.status != 0xC0 && pe.status != 0xD0;
                pe.data2 = (twoBytes && e.length >= 3) ? data[2] : 0;
                timeline->m_channelUsed[pe.channel] = 1;
            } else {
                pe.status = static_cast<uint8_t>(e.kind);
                pe.sysex = static_cast<uint32_t>(sysex.size());
                SysexRef ref;
                ref.offset = static_cast<uint32_t>(sysexBytes.size());
                ref.length = e.length;
                sysex.push_back(ref);
                sysexBytes.insert(sysexBytes.end(), data, data + e.length);
            }
            pe.sortKey = TimelineSortKey(pe);
            runs.Add(events.size(), SortKeyOf(pe));
            events.push_back(pe);
        }
    }
    SortKeyedEvents(events, runs);
    timeline->ComputeSpareChannel();
    return timeline;
}

void Timeline::ComputeSpareChannel() {
    m_spareChannel = 0;
    for (int ch = 15; ch >= 1; --ch) {
        if (!m_channelUsed[ch]) {
            m_spareChannel = ch;
            return;
        }
    }
}
