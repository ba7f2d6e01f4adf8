#include "engine/channel_state.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint8_t kBankMsb = 0;
constexpr uint8_t kBankLsb = 32;
constexpr uint8_t kDataMsb = 6;
constexpr uint8_t kDataLsb = 38;
constexpr uint8_t kIncrement = 96;
constexpr uint8_t kDecrement = 97;
constexpr uint8_t kNrpnLsb = 98;
constexpr uint8_t kNrpnMsb = 99;
constexpr uint8_t kRpnLsb = 100;
constexpr uint8_t kRpnMsb = 101;
constexpr uint8_t kAllSoundOff = 120;
constexpr uint8_t kResetAllControllers = 121;
constexpr uint8_t kAllNotesOff = 123;
constexpr uint8_t kNull = 127;  // a selection byte that is not set reads as the null parameter

// Controllers that Reset All Controllers sets back (with pitch bend and channel pressure).
constexpr uint8_t kResetControllers[] = {1, 11, 64, 65, 66, 67, 98, 99, 100, 101};

bool IsParameterController(uint8_t cc) {
    return cc == kDataMsb || cc == kDataLsb || cc == kIncrement || cc == kDecrement;
}

// Messages that change no lasting state: notes are stopped by the jump itself.
bool IsMomentary(uint8_t cc) {
    return cc == kAllSoundOff || cc == kResetAllControllers || cc == kAllNotesOff;
}

PerformanceEvent Short(uint8_t status, uint8_t channel, uint8_t data1, uint8_t data2) {
    PerformanceEvent e;
    e.status = status;
    e.channel = channel;
    e.sortKey = channel;
    e.data1 = data1;
    e.data2 = data2;
    return e;
}

uint8_t OrNull(int8_t v) {
    return v == -1 ? kNull : static_cast<uint8_t>(v);
}
}  // namespace

ChannelState::Parameter* ChannelState::Selected() {
    const uint8_t msb = OrNull(m_controller[m_nrpnSelected ? kNrpnMsb : kRpnMsb]);
    const uint8_t lsb = OrNull(m_controller[m_nrpnSelected ? kNrpnLsb : kRpnLsb]);
    if (msb == kNull && lsb == kNull) {
        return nullptr;  // data entry to the null parameter changes nothing
    }
    for (Parameter& p : m_parameters) {
        if (p.nrpn == m_nrpnSelected && p.msb == msb && p.lsb == lsb) {
            return &p;
        }
    }
    Parameter p;
    p.nrpn = m_nrpnSelected;
    p.msb = msb;
    p.lsb = lsb;
    m_parameters.push_back(p);
    return &m_parameters.back();
}

void ChannelState::Apply(const PerformanceEvent& e) {
    switch (e.status) {
        case 0xB0: {
            const uint8_t cc = e.data1 & 0x7F;
            const int8_t value = static_cast<int8_t>(e.data2 & 0x7F);
            if (cc == kResetAllControllers) {
                for (uint8_t c : kResetControllers) {
                    m_controller[c] = kUnset;
                }
                m_bend = kUnset;
                m_pressure = kUnset;
                m_nrpnSelected = false;
                m_resetSeen = true;
                return;
            }
            if (IsMomentary(cc)) {
                return;
            }
            if (IsParameterController(cc)) {
                Parameter* p = Selected();
                if (p == nullptr) {
                    return;
                }
                if (cc == kDataMsb) {
                    p->dataMsb = value;
                } else if (cc == kDataLsb) {
                    p->dataLsb = value;
                } else {
                    const int step = cc == kIncrement ? 1 : -1;
                    p->dataMsb = static_cast<int8_t>(
                        std::clamp((p->dataMsb == kUnset ? 0 : p->dataMsb) + step, 0, 127));
                }
                return;
            }
            m_controller[cc] = value;
            if (cc == kNrpnMsb || cc == kNrpnLsb) {
                m_nrpnSelected = true;
            } else if (cc == kRpnMsb || cc == kRpnLsb) {
                m_nrpnSelected = false;
            }
            return;
        }
        case 0xC0:
            m_program = static_cast<int8_t>(e.data1 & 0x7F);
            m_programBankMsb = m_controller[kBankMsb];
            m_programBankLsb = m_controller[kBankLsb];
            return;
        case 0xD0:
            m_pressure = static_cast<int8_t>(e.data1 & 0x7F);
            return;
        case 0xE0:
            m_bend = static_cast<int16_t>((e.data1 & 0x7F) | (e.data2 & 0x7F) << 7);
            return;
        default:
            return;  // notes and key pressure end with the notes
    }
}

void Touch(ChannelTouch& touch, const PerformanceEvent& e) {
    switch (e.status) {
        case 0xB0: {
            const uint8_t cc = e.data1 & 0x7F;
            if (cc == kResetAllControllers) {
                touch.bend = touch.pressure = true;
                for (uint8_t c : kResetControllers) {
                    touch.controller.set(c);
                }
            } else if (!IsMomentary(cc) && !IsParameterController(cc)) {
                touch.controller.set(cc);
            }
            return;
        }
        case 0xC0:
            touch.program = true;
            return;
        case 0xD0:
            touch.pressure = true;
            return;
        case 0xE0:
            touch.bend = true;
            return;
        default:
            return;
    }
}

uint8_t PowerOnValue(uint8_t controller) {
    switch (controller) {
        case 7:
            return 100;  // volume
        case 10:
            return 64;  // pan: centre
        case 11:
            return 127;  // expression
        case 91:
            return 40;  // reverb send
        case kNrpnLsb:
        case kNrpnMsb:
        case kRpnLsb:
        case kRpnMsb:
            return kNull;
        default:
            return 0;
    }
}

void ChannelState::Restore(uint8_t channel, const ChannelTouch& touched,
                           std::vector<PerformanceEvent>& out) const {
    // The value a controller is to have: the song's, or its power-on value where the song sets
    // it only later.
    auto effective = [&](uint8_t cc) -> int {
        if (m_controller[cc] != kUnset) {
            return m_controller[cc];
        }
        return touched.controller.test(cc) ? PowerOnValue(cc) : kUnset;
    };
    auto controller = [&](uint8_t cc, int value) {
        if (value != kUnset) {
            out.push_back(Short(0xB0, channel, cc, static_cast<uint8_t>(value)));
        }
    };
    // The bank a program was chosen from (the power-on bank where the song had chosen none
    // yet), the program, then the bank as it stands if it has moved since.
    const int bankMsb = effective(kBankMsb);
    const int bankLsb = effective(kBankLsb);
    auto bankAtProgram = [&](uint8_t cc, int8_t latched) -> int {
        if (m_program != kUnset && latched != kUnset) {
            return latched;
        }
        return touched.controller.test(cc) ? 0 : kUnset;
    };
    const int programBankMsb = bankAtProgram(kBankMsb, m_programBankMsb);
    const int programBankLsb = bankAtProgram(kBankLsb, m_programBankLsb);
    if (m_program != kUnset || touched.program) {
        controller(kBankMsb, programBankMsb);
        controller(kBankLsb, programBankLsb);
        out.push_back(
            Short(0xC0, channel, static_cast<uint8_t>(m_program != kUnset ? m_program : 0), 0));
    }
    const bool programSent = m_program != kUnset || touched.program;
    if (!programSent || bankMsb != programBankMsb) {
        controller(kBankMsb, bankMsb);
    }
    if (!programSent || bankLsb != programBankLsb) {
        controller(kBankLsb, bankLsb);
    }
    if (m_resetSeen) {
        out.push_back(Short(0xB0, channel, kResetAllControllers, 0));
    }
    for (int cc = 0; cc < 128; ++cc) {
        const auto c = static_cast<uint8_t>(cc);
        if (c == kBankMsb || c == kBankLsb || (c >= kNrpnLsb && c <= kRpnMsb) ||
            IsParameterController(c) || IsMomentary(c)) {
            continue;
        }
        controller(c, effective(c));
    }
    if (m_bend != kUnset || touched.bend) {
        const int bend = m_bend != kUnset ? m_bend : 8192;
        out.push_back(Short(0xE0, channel, static_cast<uint8_t>(bend & 0x7F),
                            static_cast<uint8_t>(bend >> 7)));
    }
    if (m_pressure != kUnset || touched.pressure) {
        out.push_back(
            Short(0xD0, channel, static_cast<uint8_t>(m_pressure != kUnset ? m_pressure : 0), 0));
    }
    for (const Parameter& p : m_parameters) {
        if (p.dataMsb == kUnset && p.dataLsb == kUnset) {
            continue;
        }
        out.push_back(Short(0xB0, channel, p.nrpn ? kNrpnMsb : kRpnMsb, p.msb));
        out.push_back(Short(0xB0, channel, p.nrpn ? kNrpnLsb : kRpnLsb, p.lsb));
        controller(kDataMsb, p.dataMsb);
        controller(kDataLsb, p.dataLsb);
    }
    // The selection as the song left it, the kind chosen last going last.
    const bool anySelection = m_controller[kNrpnMsb] != kUnset ||
                              m_controller[kNrpnLsb] != kUnset || m_controller[kRpnMsb] != kUnset ||
                              m_controller[kRpnLsb] != kUnset;
    bool parametersSent = false;
    for (const Parameter& p : m_parameters) {
        parametersSent |= p.dataMsb != kUnset || p.dataLsb != kUnset;
    }
    if (anySelection || parametersSent) {
        const uint8_t first[2] = {m_nrpnSelected ? kRpnMsb : kNrpnMsb,
                                  m_nrpnSelected ? kRpnLsb : kNrpnLsb};
        const uint8_t last[2] = {m_nrpnSelected ? kNrpnMsb : kRpnMsb,
                                 m_nrpnSelected ? kNrpnLsb : kRpnLsb};
        for (uint8_t cc : first) {
            out.push_back(Short(0xB0, channel, cc, OrNull(m_controller[cc])));
        }
        for (uint8_t cc : last) {
            out.push_back(Short(0xB0, channel, cc, OrNull(m_controller[cc])));
        }
    }
}

bool IsSystemReset(const uint8_t* bytes, uint32_t length) {
    static const uint8_t kGmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    static const uint8_t kGm2On[] = {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7};
    auto is = [&](const uint8_t* pattern, uint32_t n) {
        return length == n && std::memcmp(bytes, pattern, n) == 0;
    };
    if (is(kGmOn, sizeof kGmOn) || is(kGm2On, sizeof kGm2On)) {
        return true;
    }
    // GS reset: F0 41 <device> 42 12 40 00 7F 00 41 F7. XG system on: F0 43 1n 4C 00 00 7E 00 F7.
    if (length == 11 && bytes[0] == 0xF0 && bytes[1] == 0x41 && bytes[3] == 0x42 &&
        bytes[4] == 0x12 && bytes[5] == 0x40 && bytes[6] == 0x00 && bytes[7] == 0x7F) {
        return true;
    }
    return length == 9 && bytes[0] == 0xF0 && bytes[1] == 0x43 && (bytes[2] & 0xF0) == 0x10 &&
           bytes[3] == 0x4C && bytes[4] == 0x00 && bytes[5] == 0x00 && bytes[6] == 0x7E;
}
