// Device opening and the settings file, as the window core sees them.

#include "engine/performance.h"
#include "engine/window_core.h"
#include "midi/device_enum.h"
#include "midi/device_opening.h"
#include "midi/settings_file.h"

void CPelorvaneCore::OpenMidiDevices() {
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    CloseMidiDevices();
    OpenDevicesByName(m_service, m_inMidiDeviceName, m_outMidiDeviceName, m_hMidiOut, m_hMidiIn,
                      &CPelorvaneCore::MidiInProc, this, *this);
}

void CPelorvaneCore::CloseMidiDevices() {
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    CloseDevices(m_hMidiOut, m_hMidiIn);
}

void CPelorvaneCore::CheckDevices() {
    if (m_deviceLoss.exchange(kNoLoss, std::memory_order_acq_rel) == kOutputLost) {
        ShowMessage(kOutputLostText);
        return;
    }
    if (m_playState == Stopped || !m_hMidiIn || m_hMidiIn->StillPresent()) {
        return;
    }
    StopPlay();
    ShowMessage(kInputLostText);
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
    const bool lost =
        (m_hMidiOut && m_hMidiOut->Gone()) || (m_hMidiIn && !m_hMidiIn->StillPresent());
    if (!changed && !lost) {
        return false;
    }
    // One locked step: the clock never sees the new devices with a performance that still
    // holds the old output, and the input callback is switched away from the discarded
    // performance before it goes.
    std::lock_guard<std::recursive_mutex> lock(m_playLock);
    if (m_playState != Stopped) {
        StopPlay();
    }
    OpenMidiDevices();
    SetPerformance(nullptr);
    WakeClockThread();
    return true;
}
