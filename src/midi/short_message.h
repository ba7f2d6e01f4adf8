#pragma once

#include <cstdint>

// The length in bytes of a short MIDI message from its status byte; 0 for a data byte and for
// system exclusive, which goes through SendSysex.
inline constexpr int ShortMessageLength(uint8_t status) {
    if (status < 0x80 || status == 0xF0 || status == 0xF7) {
        return 0;
    }
    if (status < 0xF0) {
        return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        default:
            return 1;
    }
}
