#include "engine/seek_index.h"

#include <algorithm>

void NoteOnOff(NoteSet& notes, const PerformanceEvent& e) {
    if (e.IsSysex()) {
        return;
    }
    std::bitset<128>& channel = notes[e.channel & 0x0F];
    if (e.IsNoteOn()) {
        channel.set(e.data1 & 0x7F);
    } else if (e.IsNoteOff()) {
        channel.reset(e.data1 & 0x7F);
    } else if (e.status == 0xB0 && (e.data1 == 120 || e.data1 >= 123)) {
        channel.reset();  // All Sound Off, All Notes Off and the mode messages that imply it
    }
}

void SeekIndex::Apply(SongChannelState& state, const PerformanceEvent& e) const {
    if (e.IsSysex()) {
        if (e.sysex < m_isReset.size() && m_isReset[e.sysex]) {
            for (ChannelState& channel : state) {
                channel.Clear();
            }
        }
        return;
    }
    state[e.channel & 0x0F].Apply(e);
}

void SeekIndex::Build(const std::vector<PerformanceEvent>& events,
                      const std::vector<SysexRef>& sysex, const std::vector<uint8_t>& sysexBytes) {
    m_checkpoints.clear();
    m_sysexPositions.clear();
    m_isReset.assign(sysex.size(), 0);
    for (std::size_t i = 0; i < sysex.size(); ++i) {
        const SysexRef& ref = sysex[i];
        if (uint64_t{ref.offset} + ref.length <= sysexBytes.size()) {
            m_isReset[i] = IsSystemReset(sysexBytes.data() + ref.offset, ref.length) ? 1 : 0;
        }
    }
    SongChannelState state;
    NoteSet notes;
    m_touched = {};
    m_checkpoints.reserve(events.size() / kCheckpointInterval + 1);
    m_checkpoints.push_back({0, state, notes});
    for (uint32_t i = 0; i < events.size(); ++i) {
        if (i != 0 && i % kCheckpointInterval == 0) {
            m_checkpoints.push_back({i, state, notes});
        }
        const PerformanceEvent& e = events[i];
        if (e.IsSysex()) {
            m_sysexPositions.push_back(i);
        } else {
            Touch(m_touched[e.channel & 0x0F], e);
        }
        Apply(state, e);
        NoteOnOff(notes, e);
    }
}

void SeekIndex::StateBefore(const std::vector<PerformanceEvent>& events, uint32_t position,
                            std::vector<PerformanceEvent>& out) const {
    position = std::min<uint32_t>(position, static_cast<uint32_t>(events.size()));
    for (uint32_t i : m_sysexPositions) {
        if (i >= position) {
            break;
        }
        out.push_back(events[i]);
    }
    if (m_checkpoints.empty()) {
        return;
    }
    const std::size_t k =
        std::min<std::size_t>(position / kCheckpointInterval, m_checkpoints.size() - 1);
    SongChannelState state = m_checkpoints[k].channels;
    for (uint32_t i = m_checkpoints[k].position; i < position; ++i) {
        Apply(state, events[i]);
    }
    for (uint8_t ch = 0; ch < 16; ++ch) {
        state[ch].Restore(ch, m_touched[ch], out);
    }
}

void SeekIndex::SoundingBefore(const std::vector<PerformanceEvent>& events, uint32_t position,
                               NoteSet& out) const {
    position = std::min<uint32_t>(position, static_cast<uint32_t>(events.size()));
    if (m_checkpoints.empty()) {
        out = {};
        return;
    }
    const std::size_t k =
        std::min<std::size_t>(position / kCheckpointInterval, m_checkpoints.size() - 1);
    out = m_checkpoints[k].notes;
    for (uint32_t i = m_checkpoints[k].position; i < position; ++i) {
        NoteOnOff(out, events[i]);
    }
}

uint32_t SeekIndex::PositionAt(const std::vector<PerformanceEvent>& events, uint32_t songTime) {
    const auto it =
        std::lower_bound(events.begin(), events.end(), songTime,
                         [](const PerformanceEvent& e, uint32_t t) { return e.time < t; });
    return static_cast<uint32_t>(it - events.begin());
}
