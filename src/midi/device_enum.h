#pragma once

#include <string>

class MidiService;

// Device names are compared ignoring letter case (ASCII letters; other characters exactly).
bool DeviceNamesEqual(const std::string& a, const std::string& b);

// Resolves a stored input and output device name to current device ids. A name that matches no
// device (compared ignoring case) falls back to device 0 and takes that device's name.
class CMidiDeviceEnum {
  public:
    void SetDeviceNames(MidiService& service, const std::string& inName,
                        const std::string& outName);
    // The name when the id is 0 or greater, else an empty string.
    std::string GetInDevice(int& id) const;
    std::string GetOutDevice(int& id) const;

    std::string m_inDeviceName;
    std::string m_outDeviceName;
    int m_inDeviceId = -1;
    int m_outDeviceId = -1;
};
