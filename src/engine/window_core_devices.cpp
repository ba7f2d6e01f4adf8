// Device opening and the settings file, as the window core sees them.

#include <string>
#include <vector>

#include "engine/performance.h"
#include "engine/window_core.h"
#include "midi/device_enum.h"
#include "midi/device_opening.h"
#include "midi/settings_file.h"

namespace {

// Keeps the messages of an opening, in order, until the new devices are in place.
class MessageList : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { m_texts.push_back(text); }
    void ShowAll(MessageSink& sink) const {
        for (const std::string& text : m_texts) {
            sink.ShowMessage(text);
        }
    }

  private:
    std::vector<std::string> m_texts;
};

}  // namespace

void CPelorvaneCore::OpenMidiDevices() {
    ReopenMidiDevices(false);
}

void CPelorvaneCore::ReopenMidiDevices(bool discardPerformance) {
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_playLock);
        if (discardPerformance) {
            if (m_playState != Stopped) {
                StopPlayLocked();
            }
            // It holds the old output; the input callback is switched away from it before it
            // goes.
            SetPerformance(nullptr);
        }
        out = std::move(m_hMidiOut);
        in = std::move(m_hMidiIn);
    }
    // A system device may take its time to close or open; meanwhile the clock sees none.
    // Closing the input waits for a running callback, which never takes the play lock.
    CloseDevices(out, in);
    MessageList messages;
    OpenDevicesByName(m_service, m_inMidiDeviceName, m_outMidiDeviceName, out, in,
                      &CPelorvaneCore::MidiInProc, this, messages);
    {
        CheckedLock lock(m_playLock);
        m_hMidiOut = std::move(out);
        m_hMidiIn = std::move(in);
    }
    WakeClockThread();
    messages.ShowAll(m_host);
}

void CPelorvaneCore::CloseMidiDevices() {
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_playLock);
        out = std::move(m_hMidiOut);
        in = std::move(m_hMidiIn);
    }
    CloseDevices(out, in);
}

void CPelorvaneCore::CheckDevices() {
    if (m_deviceLoss.exchange(kNoLoss, std::memory_order_acq_rel) == kOutputLost) {
        m_outputLostTold = true;
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
    // A keyboard pulled out takes both its ports; the learner has already been asked to plug it
    // in again and choose it in the settings.
    if (!m_outputLostTold) {
        m_host.ShowMessage(needsInput ? kInputLostText : kInputLostNothingStoppedText);
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
