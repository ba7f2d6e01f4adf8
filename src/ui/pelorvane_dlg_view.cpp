// The falling-notes view in the main window, and the window's growing: the controls of the
// template keep their order, the view takes the extra height, and the view, the keyboard, the
// position bar and the two lists the extra width, so that the view's keys stay over the
// keyboard's and no empty space opens beside the lists.

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

#include "engine/prepared_song.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "ui/drag_list_box.h"
#include "ui/keyboard_panel.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"
#include "ui/position_bar.h"
#include "ui/track_list_box.h"

void CPelorvaneDlg::SetViewState(UiState state) {
    m_viewState = std::move(state);
    if (const std::optional<int> span = m_viewState->ViewSpanMs()) {
        m_noteView->SetSpanMs(*span);
    }
    m_noteView->SetOthersHidden(m_viewState->ViewOthersHidden());
    RestoreTimeKeeping();
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

void CPelorvaneDlg::ShowSongInView(const PreparedSong* song) {
    if (!song) {
        m_noteView->SetSong(nullptr, nullptr);
        m_noteView->SetLoop(std::nullopt);
        return;
    }
    m_noteView->SetSong(song->Spans(), song->Meter());
}

void CPelorvaneDlg::ShowTakeInView(const QString& songPath, std::shared_ptr<const Take> take,
                                   std::optional<PracticeChoice> parts) {
    const bool shown =
        !m_passageSongPath.empty() && SamePath(m_passageSongPath, songPath.toStdString());
    m_noteView->SetTake(shown ? std::move(take) : nullptr, parts);
}

void CPelorvaneDlg::FinishSongPreparation(bool wait) {
    if (!m_awaitingPreparation) {
        return;
    }
    const int row = SelectedSongRow();
    const SongEntry* entry = row >= 0 && static_cast<size_t>(row) < m_core->Songs().m_entries.size()
                                 ? &m_core->Songs().m_entries[static_cast<size_t>(row)]
                                 : nullptr;
    std::shared_ptr<const PreparedSong> prepared;
    if (entry && entry->m_midiData) {
        prepared = wait ? m_core->PreparedSongOf(*entry) : m_core->ReadyPreparedSongOf(*entry);
        if (!prepared) {
            return;
        }
    }
    m_awaitingPreparation = false;
    if (m_passageAwaited) {
        ShowSelectedSongPassage();
    } else if (prepared) {
        ShowSongInView(prepared.get());  // a new division of the same song
    }
    UpdateKeyboardRange();
}

void CPelorvaneDlg::LayOutView() {
    if (m_baseSize.isEmpty()) {
        return;
    }
    const int extraWidth = std::max(0, width() - m_baseSize.width());
    const int extraHeight = std::max(0, height() - m_baseSize.height());
    // The lists take the extra width; the buttons beside them keep to the right edge.
    m_songListBox->setGeometry(m_baseSongList.adjusted(0, 0, extraWidth, 0));
    m_trackList->setGeometry(m_baseTrackList.adjusted(0, 0, extraWidth, 0));
    for (const auto& [widget, base] : m_baseRightColumn) {
        widget->setGeometry(base.translated(extraWidth, 0));
    }
    QRect bar = m_basePositionBar;
    bar.setWidth(bar.width() + extraWidth);
    m_positionBar->setGeometry(bar);
    QRect keys = m_baseKeyboard;
    keys.setWidth(keys.width() + extraWidth);
    keys.translate(0, extraHeight);
    if (m_keyboardHint->isVisibleTo(this)) {
        // One line over the keys, taken from their height.
        const int line = m_keyboardHint->sizeHint().height();
        m_keyboardHint->setGeometry(keys.left(), keys.top(), keys.width(), line);
        keys.setTop(keys.top() + line);
    }
    m_keyboard->setGeometry(keys);
    m_noteView->setGeometry(keys.left(), m_baseKeyboard.top(), keys.width(), extraHeight);
    m_noteView->setVisible(extraHeight > 0);
}

QSize CPelorvaneDlg::FirstStartSize(const QSize& available) const {
    // Wide enough for the keys to be told apart, tall enough for a few bars to fall.
    constexpr int kExtraWidth = 120;
    constexpr int kViewHeight = 320;
    const QSize wanted = m_baseSize + QSize(kExtraWidth, kViewHeight);
    return wanted.boundedTo(available).expandedTo(m_baseSize);
}

void CPelorvaneDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutView();
}
