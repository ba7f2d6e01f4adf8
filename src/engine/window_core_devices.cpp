// Device opening and the settings file, as the window core sees them.

#include "engine/performance.h"
#include "engine/window_core.h"
#include "midi/device_enum.h"
#include "midi/device_opening.h"
#include "midi/settings_file.h"

void CPelorvaneCore::OpenMidiDevices() {
    CheckedLock lock(m_playLock);
    OpenMidiDevicesLocked();
}

void CPelorvaneCore::OpenMidiDevicesLocked() {
    CloseMidiDevicesLocked();
    OpenDevicesByName(m_service, m_inMidiDeviceName, m_outMidiDeviceName, m_hMidiOut, m_hMidiIn,
                      &CPelorvaneCore::MidiInProc, this, m_host);
}

void CPelorvaneCore::CloseMidiDevices() {
    CheckedLock lock(m_playLock);
    CloseMidiDevicesLocked();
}

void CPelorvaneCore::CloseMidiDevicesLocked() {
    CloseDevices(m_hMidiOut, m_hMidiIn);
}

void CPelorvaneCore::CheckDevices() {
    if (m_deviceLoss.exchange(kNoLoss, std::memory_order_acq_rel) == kOutputLost) {
        m_host.ShowMessage(kOutputLostText);
        return;
    }
    if (m_playState == Stopped) {
        return;
    }
    // Runs at every idle moment of the window, which must not wait for the clock: while the clock
    // holds the lock (a long system exclusive message), the check waits for the next run. The
    // presence check itself may take a while, so it runs without the lock.
    if (!m_playLock.try_lock()) {
        return;
    }
    const std::shared_ptr<MidiIn> in = m_hMidiIn;
    m_playLock.unlock();
    if (!in || in->StillPresent()) {
        return;
    }
    StopPlay();
    m_host.ShowMessage(kInputLostText);
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
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_playLock);
        out = m_hMidiOut;
        in = m_hMidiIn;
    }
    const bool lost = (out && out->Gone()) || (in && !in->StillPresent());
    if (!changed && !lost) {
        return false;
    }
    // One locked step: the clock never sees the new devices with a performance that still
    // holds the old output, and the input callback is switched away from the discarded
    // performance before it goes.
    CheckedLock lock(m_playLock);
    if (m_playState != Stopped) {
        StopPlayLocked();
    }
    OpenMidiDevicesLocked();
    SetPerformance(nullptr);
    WakeClockThread();
    return true;
}

void CPelorvaneCore::SetDeviceNames(const std::string& inName, const std::string& outName) {
    m_inMidiDeviceName = inName;
    m_outMidiDeviceName = outName;
}
