#include "midi/device_enum.h"

#include <vector>

#include "midi/midi_port.h"

namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Resolves one side: the last device whose name matches wins; without a match, device 0 and its
// name; without any device, -1 and the name unchanged.
void Resolve(const std::vector<std::string>& names, std::string& name, int& id) {
    id = -1;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        if (DeviceNamesEqual(names[i], name)) {
            id = i;
        }
    }
    if (id == -1 && !names.empty()) {
        id = 0;
        name = names[0];
    }
}

}  // namespace

bool DeviceNamesEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

void CMidiDeviceEnum::SetDeviceNames(MidiService& service, const std::string& inName,
                                     const std::string& outName) {
    m_inDeviceName = inName;
    m_outDeviceName = outName;
    Resolve(service.InputNames(), m_inDeviceName, m_inDeviceId);
    Resolve(service.OutputNames(), m_outDeviceName, m_outDeviceId);
}

std::string CMidiDeviceEnum::GetInDevice(int& id) const {
    id = m_inDeviceId;
    return m_inDeviceId >= 0 ? m_inDeviceName : std::string();
}

std::string CMidiDeviceEnum::GetOutDevice(int& id) const {
    id = m_outDeviceId;
    return m_outDeviceId >= 0 ? m_outDeviceName : std::string();
}
