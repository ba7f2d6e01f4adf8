// The devices as the window chooses them: their names, setting.txt, and telling the learner what
// opening or losing them meant.

#include <string>

#include "engine/window_core.h"
#include "midi/device_enum.h"
#include "midi/settings_file.h"

void CPelorvaneCore::OpenMidiDevices() {
    ReopenMidiDevices(false);
}

void CPelorvaneCore::ReopenMidiDevices(bool discardPerformance) {
    DeviceOpening opened =
        m_session.OpenDevices(m_inMidiDeviceName, m_outMidiDeviceName, discardPerformance);
    m_inMidiDeviceName = std::move(opened.inName);
    m_outMidiDeviceName = std::move(opened.outName);
    for (const std::string& text : opened.messages) {
        m_host.ShowMessage(text);
    }
}

void CPelorvaneCore::CheckDevices() {
    const DeviceLoss loss = m_session.CheckDevices();
    if (loss == DeviceLoss::Output) {
        m_outputLostTold = true;
        m_host.ShowMessage(DeviceLossText(loss));
        return;
    }
    if (loss == DeviceLoss::None) {
        return;
    }
    m_inputLost = true;
    // A keyboard pulled out takes both its ports; the learner has already been asked to plug it
    // in again and choose it in the settings.
    if (!m_outputLostTold) {
        m_host.ShowMessage(DeviceLossText(loss));
    }
}

void CPelorvaneCore::LoadSettings() {
    LoadSettingsFile(DataPath(kSettingsFileName), m_inMidiDeviceName, m_outMidiDeviceName);
}

bool CPelorvaneCore::SaveSettings() {
    const std::string path = DataPath(kSettingsFileName);
    if (SaveSettingsFile(path, m_inMidiDeviceName, m_outMidiDeviceName)) {
        return true;
    }
    SaveFailed(path);
    return false;
}

bool CPelorvaneCore::ApplyDeviceNames(const std::string& inName, const std::string& outName) {
    bool changed = false;
    if (!DeviceNamesEqual(m_inMidiDeviceName, inName)) {
        m_inMidiDeviceName = inName;
        changed = true;
    }
    if (!DeviceNamesEqual(m_outMidiDeviceName, outName)) {
        m_outMidiDeviceName = outName;
        changed = true;
    }
    // A device found gone is opened again under its old name too: it may have come back.
    const bool lost = m_session.DeviceGone() || m_inputLost;
    if (!changed && !lost) {
        return false;
    }
    // The performance goes before the old output does: the clock never sees the new devices
    // with a performance that still holds the old output.
    m_inputLost = false;
    m_outputLostTold = false;
    ReopenMidiDevices(true);
    return true;
}

void CPelorvaneCore::SetDeviceNames(const std::string& inName, const std::string& outName) {
    m_inMidiDeviceName = inName;
    m_outMidiDeviceName = outName;
}
