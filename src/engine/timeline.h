#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/performance_event.h"

namespace smf {
class Song;
}

// A song's messages in the order they are played, and the system exclusive bytes they refer
// to. Nothing changes it once it is built, so any number of readers on any thread may share it
// without a lock.
class Timeline {
  public:
    static std::shared_ptr<const Timeline> Build(const smf::Song& song);
    Timeline() = default;  // empty: a performance before Build

    const std::vector<PerformanceEvent>& Events() const { return m_events; }
    uint32_t Size() const { return static_cast<uint32_t>(m_events.size()); }
    const PerformanceEvent& operator[](uint32_t index) const { return m_events[index]; }

    const uint8_t* SysexBytes(const PerformanceEvent& e) const {
        return m_sysexBytes.data() + m_sysex[e.sysex].offset;
    }
    uint32_t SysexLength(const PerformanceEvent& e) const { return m_sysex[e.sysex].length; }
    const std::vector<SysexRef>& SysexTable() const { return m_sysex; }
    const std::vector<uint8_t>& SysexPool() const { return m_sysexBytes; }

    bool ChannelUsed(int channel) const { return m_channelUsed[channel & 0x0F] != 0; }
    // The highest channel the song leaves unused, channel 1 apart (0: none): it takes the song's
    // channel-1 events while channel 1 lights the keys.
    int32_t SpareChannel() const { return m_spareChannel; }

  private:
    std::vector<PerformanceEvent> m_events;
    std::vector<SysexRef> m_sysex;
    std::vector<uint8_t> m_sysexBytes;
    std::array<uint8_t, 16> m_channelUsed{};
    int32_t m_spareChannel = 0;
    void ComputeSpareChannel();
};
