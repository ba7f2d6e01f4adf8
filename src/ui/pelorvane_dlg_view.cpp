// The falling-notes view in the main window, and the window's growing: the controls of the
// template stay where they are, the view takes the extra height, and the view, the keyboard and
// the position bar the extra width, so that the view's keys stay over the keyboard's.

#include <QResizeEvent>
#include <algorithm>

#include "engine/note_spans.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"
#include "ui/position_bar.h"

void CPelorvaneDlg::SetViewState(UiState state) {
    m_viewState = std::move(state);
    if (const std::optional<int> span = m_viewState->ViewSpanMs()) {
        m_noteView->SetSpanMs(*span);
    }
    m_noteView->SetOthersHidden(m_viewState->ViewOthersHidden());
    connect(m_noteView, &CNoteView::spanChanged, this, [this](int spanMs) {
        if (m_viewState) {
            m_viewState->SetViewSpanMs(spanMs);
        }
    });
    connect(m_noteView, &CNoteView::othersHiddenChanged, this, [this](bool hidden) {
        if (m_viewState) {
            m_viewState->SetViewOthersHidden(hidden);
        }
    });
}

void CPelorvaneDlg::ConnectViewFrames() {
    connect(m_noteView, &CNoteView::frameDue, this, &CPelorvaneDlg::OnKickIdle);
    connect(m_noteView, &CNoteView::framesEnded, this, [this] {
        if (!m_destroyed && !m_idleTimer.isActive()) {
            m_idleTimer.start();
        }
    });
}

void CPelorvaneDlg::ShowSongInView(const SongEntry* entry,
                                   std::shared_ptr<const smf::MeterMap> meter) {
    if (!entry || !entry->m_midiData) {
        m_noteView->SetSong(nullptr, nullptr);
        m_noteView->SetLoop(std::nullopt);
        return;
    }
    m_noteView->SetSong(NoteSpans::FromSong(*entry->m_midiData), std::move(meter));
}

void CPelorvaneDlg::LayOutView() {
    if (m_baseSize.isEmpty()) {
        return;
    }
    const int extraWidth = std::max(0, width() - m_baseSize.width());
    const int extraHeight = std::max(0, height() - m_baseSize.height());
    QRect bar = m_basePositionBar;
    bar.setWidth(bar.width() + extraWidth);
    m_positionBar->setGeometry(bar);
    QRect keys = m_baseKeyboard;
    keys.setWidth(keys.width() + extraWidth);
    keys.translate(0, extraHeight);
    m_keyboard->setGeometry(keys);
    m_noteView->setGeometry(keys.left(), m_baseKeyboard.top(), keys.width(), extraHeight);
    m_noteView->setVisible(extraHeight > 0);
}

void CPelorvaneDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutView();
}
