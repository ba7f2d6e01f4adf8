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
    // Runs at every idle moment of the window, which must not wait for the clock: while the clock
    // holds the lock (a long system exclusive message), the check waits for the next run.
    if (!m_playLock.try_lock()) {
        return;
    }
    std::shared_ptr<MidiIn> in = m_hMidiIn;
    if (!in || in->StillPresent()) {
        m_playLock.unlock();
        return;
    }
    // A lost input is closed at once, so that it is told once and later starts of every mode go
    // on without it, as they do when no input was found at start-up. Only what listens to the
    // learner has to stop.
    m_hMidiIn.reset();
    m_inputLost = true;
    const bool needsInput = m_playState != Stopped && (m_playMode == PlayMode::MyPaceLesson ||
                                                       m_playMode == PlayMode::Accompaniment);
    if (needsInput) {
        StopPlayLocked();
    }
    m_playLock.unlock();
    // Closing waits for a running input callback, which takes the input lock, never the play lock.
    in->Close();
    m_host.ShowMessage(needsInput ? kInputLostText : kInputLostNothingStoppedText);
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
    const bool lost = (out && out->Gone()) || (in && !in->StillPresent()) || m_inputLost;
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
    m_inputLost = false;
    SetPerformance(nullptr);
    WakeClockThread();
    return true;
}

void CPelorvaneCore::SetDeviceNames(const std::string& inName, const std::string& outName) {
    m_inMidiDeviceName = inName;
    m_outMidiDeviceName = outName;
}
