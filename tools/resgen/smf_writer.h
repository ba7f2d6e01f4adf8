#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace resgen {

inline constexpr uint32_t kTicksPerQuarter = 480;
inline constexpr uint32_t kEighth = kTicksPerQuarter / 2;

// One track of a format-1 Standard MIDI File, built from events at absolute ticks.
class SmfTrack {
  public:
    void TrackName(const std::string& utf8Name);
    void Text(const std::string& utf8Text);
    void Tempo(uint32_t tick, uint32_t microsPerQuarter);
    void TimeSignature(uint32_t tick, int numerator, int denominatorPower);
    void KeySignature(uint32_t tick, int sharps, bool minor);
    void Program(uint32_t tick, int channel, int program);
    void Control(uint32_t tick, int channel, int controller, int value);
    // Note On at tick, Note Off (release velocity 64) after length ticks.
    void Note(uint32_t tick, uint32_t length, int channel, int key, int velocity);

    // The track chunk: events in tick order (settings, then note ends, then note starts at one
    // tick), delta times, End of Track after the last event.
    std::vector<uint8_t> Encode() const;

  private:
    struct Item {
        uint32_t tick;
        int order;  // 0 meta and settings, 1 note off, 2 note on
        std::vector<uint8_t> bytes;
    };
    void Meta(uint32_t tick, uint8_t type, const std::vector<uint8_t>& data);
    std::vector<Item> m_items;
};

// A format-1 file with the given tracks.
std::vector<uint8_t> EncodeSmf(const std::vector<SmfTrack>& tracks);

}  // namespace resgen
