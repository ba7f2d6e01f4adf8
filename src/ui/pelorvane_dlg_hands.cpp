// The hand the learner practises in the main window, and where a channel played by one track
// divides into the two hands.

#include <QKeyEvent>

#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "ui/hand_choice.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"
#include "ui/position_bar.h"

void CPelorvaneDlg::BuildHandChoice() {
    const DialogUnits du(font());
    m_handChoice = new CHandChoice(this);
    m_handChoice->setObjectName(QStringLiteral("hand"));
    // In the gap over the mode buttons, which the hand applies to.
    m_handChoice->setGeometry(du.Rect(210, 55, 66, 10));
    connect(m_handChoice, &CHandChoice::handChosen, this, &CPelorvaneDlg::ChooseHand);
}

void CPelorvaneDlg::ShowHandChoice() {
    m_handChoice->Show(m_core->PracticeHand());
}

bool CPelorvaneDlg::HandKey(QKeyEvent* key) {
    if ((key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) !=
        Qt::NoModifier) {
        return false;
    }
    switch (key->key()) {
        case Qt::Key_F2:
            ChooseHand(Hand::Both);
            return true;
        case Qt::Key_F3:
            ChooseHand(Hand::Right);
            return true;
        case Qt::Key_F4:
            ChooseHand(Hand::Left);
            return true;
        default:
            return false;
    }
}

void CPelorvaneDlg::ChooseHand(Hand hand) {
    m_core->SetHands(hand, m_core->SplitKey());
    RememberPassage();
    UpdateKeyboardRange();
}

void CPelorvaneDlg::SplitHandsAt(int key) {
    if (key == m_core->SplitKey()) {
        return;
    }
    // A playing song keeps the hands it started with; a new division takes a new start.
    if (m_core->CurrentPlayState() != Stopped) {
        OnCommand(ids::kStop);
    }
    if (!m_core->SetHands(m_core->PracticeHand(), key)) {
        return;
    }
    RememberPassage();
    const int row = SelectedSongRow();
    if (row >= 0 && static_cast<size_t>(row) < m_core->Songs().m_entries.size()) {
        const SongEntry& entry = m_core->Songs().m_entries[static_cast<size_t>(row)];
        if (entry.m_midiData) {
            if (const auto prepared = m_core->ReadyPreparedSongOf(entry)) {
                ShowSongInView(prepared.get());
            } else {
                m_awaitingPreparation = true;
            }
        }
    }
    UpdateKeyboardRange();
}
