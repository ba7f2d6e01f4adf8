// What the main window tells a learner who has not found the way yet: the speed the slider
// stands at, that a song must be chosen first, and how to play without a MIDI keyboard.

#include <QLabel>
#include <QSlider>
#include <QSpinBox>

#include "engine/play_mode.h"
#include "midi/midi_port.h"
#include "ui/pelorvane_dlg.h"
#include "ui/practice_texts.h"

bool CPelorvaneDlg::SongChosen() {
    if (SelectedSongRow() >= 0) {
        return true;
    }
    ShowMessage("曲を選択してください。");
    return false;
}

void CPelorvaneDlg::UpdateSpeedValue() {
    const int percent = m_core->ChosenSpeedPercent(m_speedSlider->value());
    m_speedValue->setText(SpeedText(percent));
    if (m_speedPercent) {
        const QSignalBlocker block(m_speedPercent);
        m_speedPercent->setValue(percent);
    }
}

void CPelorvaneDlg::UpdateInputHint() {
    std::shared_ptr<MidiIn> in;
    {
        CheckedLock lock(m_core->Session().PlayLock());
        in = m_core->Session().InputDevice();
    }
    // The presence check may take a while: without the lock.
    const bool missing = !in || !in->StillPresent();
    if (missing != m_keyboardHint->isVisibleTo(this)) {
        m_keyboardHint->setVisible(missing);
        LayOutView();
    }
}
