#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

#include "engine/channel_state.h"
#include "engine/performance_event.h"

// The notes sounding on each channel.
using NoteSet = std::array<std::bitset<128>, 16>;
// A note-on starts its note, a note-off (or All Sound Off, All Notes Off) ends it.
void NoteOnOff(NoteSet& notes, const PerformanceEvent& e);

// What a jump to any place of a timeline must send so that the song sounds from there as if it
// had played from its start: every system exclusive message before the place, in order, then
// the state of each channel. Built once per timeline; a jump then replays at most one
// checkpoint interval instead of the whole song.
class SeekIndex {
  public:
    static constexpr uint32_t kCheckpointInterval = 4096;  // events

    void Build(const std::vector<PerformanceEvent>& events, const std::vector<SysexRef>& sysex,
               const std::vector<uint8_t>& sysexBytes);

    // The messages that restore the state in which the events before position (an index into
    // the timeline) have left the synthesizer; no note among them. The events must be those the
    // index was built from.
    void StateBefore(const std::vector<PerformanceEvent>& events, uint32_t position,
                     std::vector<PerformanceEvent>& out) const;

    // The song's notes that the events before position have left sounding.
    void SoundingBefore(const std::vector<PerformanceEvent>& events, uint32_t position,
                        NoteSet& out) const;

    // The first event at or after a song time.
    static uint32_t PositionAt(const std::vector<PerformanceEvent>& events, uint32_t songTime);

  private:
    struct Checkpoint {
        uint32_t position = 0;  // state after the events before this index
        SongChannelState channels;
        NoteSet notes;
    };
    void Apply(SongChannelState& state, const PerformanceEvent& e) const;

    std::vector<Checkpoint> m_checkpoints;
    SongChannelTouch m_touched;              // what the song sets anywhere
    std::vector<uint32_t> m_sysexPositions;  // every system exclusive event, in timeline order
    std::vector<uint8_t> m_isReset;          // per system exclusive table entry
};
