#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

#include "engine/performance_event.h"

// What one channel of a synthesizer holds apart from its sounding notes, as a song's messages
// have left it: bank and program, controllers, pitch bend, channel pressure, and the registered
// and non-registered parameters with their data. A jump into the middle of a song sends it
// again, so that the song sounds as if it had been played from its start.
//
// What a song sets on a channel anywhere in it. A jump sends the power-on value of what is not
// set yet at the place jumped to but is set elsewhere: a jump back must undo what came later.
struct ChannelTouch {
    std::bitset<128> controller;
    bool program = false;
    bool bend = false;
    bool pressure = false;
};

// Controllers 98-101 select a parameter and 6/38 (data entry) and 96/97 (increment, decrement
// by one step of the data entry MSB) change the selected one; Reset All Controllers (121) sets
// what it resets back to the power-on values, as General MIDI has it.
class ChannelState {
  public:
    void Apply(const PerformanceEvent& e);
    void Clear() { *this = ChannelState{}; }
    // Appends the messages that bring the channel from power-on to this state, in this order:
    // bank select and program, Reset All Controllers when one came, the other controllers,
    // pitch bend, channel pressure, the data of each parameter, then the selection as it
    // stands. Nothing for what the song never set.
    // What the song sets later is sent at its power-on value (General MIDI's), the data of
    // parameters excepted: those have no value common to every synthesizer.
    void Restore(uint8_t channel, const ChannelTouch& touched,
                 std::vector<PerformanceEvent>& out) const;

  private:
    static constexpr int8_t kUnset = -1;
    struct Parameter {
        bool nrpn = false;
        uint8_t msb = 0;
        uint8_t lsb = 0;
        int8_t dataMsb = kUnset;
        int8_t dataLsb = kUnset;
    };
    Parameter* Selected();

    std::array<int8_t, 128> m_controller = Unset();
    int8_t m_program = kUnset;
    int8_t m_programBankMsb = kUnset;  // bank select as it stood at the program change
    int8_t m_programBankLsb = kUnset;
    int16_t m_bend = kUnset;
    int8_t m_pressure = kUnset;
    bool m_resetSeen = false;
    bool m_nrpnSelected = false;  // which kind of parameter the last selection chose
    std::vector<Parameter> m_parameters;

    static std::array<int8_t, 128> Unset() {
        std::array<int8_t, 128> a;
        a.fill(kUnset);
        return a;
    }
};

// The state of all sixteen channels.
using SongChannelState = std::array<ChannelState, 16>;
using SongChannelTouch = std::array<ChannelTouch, 16>;

// Marks in touch what a channel message of the song sets.
void Touch(ChannelTouch& touch, const PerformanceEvent& e);

// The value a General MIDI synthesizer gives a controller when it starts.
uint8_t PowerOnValue(uint8_t controller);

// True for a system exclusive message that resets a whole synthesizer: General MIDI on (1 and
// 2), a GS reset, an XG system on.
bool IsSystemReset(const uint8_t* bytes, uint32_t length);
