// Opening, closing and losing the devices the session plays through.

#include <string>
#include <vector>

#include "engine/performance.h"
#include "engine/play_session.h"
#include "midi/device_opening.h"
#include "platform/clock.h"
#include "platform/message_sink.h"

namespace {

// Keeps the messages of an opening, in order, until the new devices are in place.
class MessageList : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { m_texts.push_back(text); }
    std::vector<std::string> Take() { return std::move(m_texts); }

  private:
    std::vector<std::string> m_texts;
};

}  // namespace

const char* DeviceLossText(DeviceLoss loss) {
    switch (loss) {
        case DeviceLoss::Output:
            return kOutputLostText;
        case DeviceLoss::InputStoppedPlay:
            return kInputLostText;
        case DeviceLoss::Input:
            return kInputLostNothingStoppedText;
        case DeviceLoss::None:
        default:
            return nullptr;
    }
}

DeviceOpening PlaySession::OpenDevices(std::string inName, std::string outName,
                                       bool discardPerformance) {
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
    ::CloseDevices(out, in);
    MessageList messages;
    OpenDevicesByName(m_service, inName, outName, out, in, &PlaySession::MidiInProc, this,
                      messages);
    {
        CheckedLock lock(m_playLock);
        m_hMidiOut = std::move(out);
        m_hMidiIn = std::move(in);
    }
    WakeClockThread();
    return {std::move(inName), std::move(outName), messages.Take()};
}

void PlaySession::CloseDevices() {
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_playLock);
        out = std::move(m_hMidiOut);
        in = std::move(m_hMidiIn);
    }
    ::CloseDevices(out, in);
}

bool PlaySession::DeviceGone() const {
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_playLock);
        out = m_hMidiOut;
        in = m_hMidiIn;
    }
    return (out && out->Gone()) || (in && !in->StillPresent());
}

DeviceLoss PlaySession::CheckDevices() {
    if (m_deviceLoss.exchange(kNoLoss, std::memory_order_acq_rel) == kOutputLost) {
        return DeviceLoss::Output;
    }
    // Runs at every idle moment of the window, which must not wait for the clock: while the clock
    // holds the lock (a long system exclusive message), the check waits for the next run.
    if (!m_playLock.try_lock()) {
        return DeviceLoss::None;
    }
    std::shared_ptr<MidiIn> in = m_hMidiIn;
    if (!in || in->StillPresent()) {
        m_playLock.unlock();
        return DeviceLoss::None;
    }
    // A lost input is closed at once, so that it is told once and later starts of every mode go
    // on without it, as they do when no input was found at start-up. Only what listens to the
    // learner has to stop.
    m_hMidiIn.reset();
    const bool needsInput = m_playState != Stopped && (m_playMode == PlayMode::MyPaceLesson ||
                                                       m_playMode == PlayMode::Accompaniment);
    if (needsInput) {
        StopPlayLocked();
    }
    m_playLock.unlock();
    // Closing waits for a running input callback, which takes the input lock, never the play lock.
    in->Close();
    // A device that went sends no release: what it held is let go here, where it was found gone.
    for (const PlayerAction& release : m_deviceHold.LetGo(NowMs())) {
        TakePlayerAction(release);
    }
    return needsInput ? DeviceLoss::InputStoppedPlay : DeviceLoss::Input;
}
