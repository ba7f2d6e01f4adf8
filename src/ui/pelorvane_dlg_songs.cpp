// The song list box and the track check list of the main window.

#include <QFileInfo>
#include <QSignalBlocker>
#include <array>
#include <vector>

#include "song/track_rows.h"
#include "ui/drag_list_box.h"
#include "ui/pelorvane_dlg.h"
#include "ui/song_file_dialog.h"
#include "ui/track_list_box.h"
#include "ui/ui_state.h"

int CPelorvaneDlg::SelectedSongRow() {
    const QList<QListWidgetItem*> selected = m_songListBox->selectedItems();
    if (selected.isEmpty()) {
        return -1;
    }
    return m_songListBox->row(selected.first());
}

void CPelorvaneDlg::FillSongListBox() {
    const QSignalBlocker block(m_songListBox);
    m_songListBox->clear();
    const auto& entries = m_core->Songs().m_entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(entries[i].m_title));
        item->setData(Qt::UserRole, static_cast<int>(i));
        m_songListBox->addItem(item);
    }
}

void CPelorvaneDlg::FillTrackList() {
    {
        const QSignalBlocker block(m_trackList);
        m_trackList->clear();
        std::array<int, 16> channelRow;
        channelRow.fill(-1);
        const int row = SelectedSongRow();
        if (row >= 0 && static_cast<std::size_t>(row) < m_core->Songs().m_entries.size()) {
            // A song that is not loaded (it failed to load) has no rows.
            const std::vector<TrackRow> rows =
                BuildTrackRows(m_core->Songs().m_entries[row], channelRow);
            for (const TrackRow& track : rows) {
                m_trackList->AddTrackRow(QString::fromStdString(track.text), track.channel,
                                         track.checked);
            }
        }
        // The clock thread's note observer reads them, under the play lock.
        m_core->Session().SetChannelRows(channelRow);
    }
    // Selections made by the program itself send no signal, so the keyboard follows here.
    UpdateKeyboardRange();
    ShowSelectedSongPassage();
    RememberSelectedSong();
}

void CPelorvaneDlg::RememberSelectedSong() {
    if (!m_viewState) {
        return;
    }
    const int row = SelectedSongRow();
    const std::string path =
        row >= 0 && static_cast<std::size_t>(row) < m_core->Songs().m_entries.size()
            ? m_core->Songs().m_entries[static_cast<std::size_t>(row)].m_path
            : std::string();
    if (m_rememberedSong != path) {
        m_rememberedSong = path;
        m_viewState->SetLastSongPath(QString::fromStdString(path));
    }
}

void CPelorvaneDlg::SelectLastSong() {
    if (!m_viewState) {
        return;
    }
    const std::string path = m_viewState->LastSongPath().toStdString();
    m_rememberedSong = path;
    const auto& entries = m_core->Songs().m_entries;
    for (std::size_t i = 0; i < entries.size() && static_cast<int>(i) < m_songListBox->count();
         ++i) {
        // A song whose file has gone is left unselected rather than greeted with an error.
        if (!path.empty() && SamePath(entries[i].m_path, path) &&
            QFileInfo::exists(QString::fromStdString(path))) {
            {
                const QSignalBlocker block(m_songListBox);
                m_songListBox->setCurrentRow(static_cast<int>(i),
                                             QItemSelectionModel::ClearAndSelect);
            }
            m_songListBox->scrollToItem(m_songListBox->item(static_cast<int>(i)));
            // As if the learner had clicked it: the song is loaded and its tracks shown.
            OnSongSelChange();
            return;
        }
    }
}

bool CPelorvaneDlg::SelectSongByPath(const std::string& path) {
    const int rows = m_songListBox->count();
    for (int i = 0; i < rows && static_cast<std::size_t>(i) < m_core->Songs().m_entries.size();
         ++i) {
        if (SamePath(path, m_core->Songs().m_entries[i].m_path)) {
            {
                // Selecting from code loads nothing: the caller has loaded the song.
                const QSignalBlocker block(m_songListBox);
                m_songListBox->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
            }
            m_songListBox->scrollToItem(m_songListBox->item(i));
            FillTrackList();
            return true;
        }
    }
    return false;
}

void CPelorvaneDlg::OnSongSelChange() {
    // Also after a failed load: the rows of the song selected before must go.
    m_core->OnSongSelChangeCore();
    FillTrackList();
}

void CPelorvaneDlg::OnTrackCheckChange() {
    std::vector<std::pair<int, bool>> rows;
    rows.reserve(m_trackList->count());
    for (int i = 0; i < m_trackList->count(); ++i) {
        rows.emplace_back(m_trackList->RowChannel(i), m_trackList->RowChecked(i));
    }
    m_core->OnTrackCheckChangeCore(rows);
}

void CPelorvaneDlg::OnSongsReordered() {
    const int count = m_songListBox->count();
    std::vector<int> order(count);
    bool moved = false;
    for (int i = 0; i < count; ++i) {
        order[i] = m_songListBox->item(i)->data(Qt::UserRole).toInt();
        moved = moved || order[i] != i;
    }
    if (!moved) {
        return;
    }
    if (ReorderSongs(m_core->Songs(), static_cast<std::size_t>(count), order.data())) {
        for (int i = 0; i < count; ++i) {
            m_songListBox->item(i)->setData(Qt::UserRole, i);
        }
    } else {
        // The rows and the list disagree; show the list as it is rather than a wrong order.
        FillSongListBox();
        FillTrackList();
    }
}

QString CPelorvaneDlg::AskSongFile() {
    if (m_closeRequested) {
        return {};
    }
    UiState state;
    return AskSongFileIn(this, state);
}

void CPelorvaneDlg::OnAddSong() {
    if (m_core->CurrentPlayState() != Stopped) {
        m_core->StopPlay();
    }
    const QString chosen = AskSongFile();
    if (chosen.isEmpty()) {
        return;
    }
    AddSongPath(chosen);
}

void CPelorvaneDlg::AddSongPath(const QString& chosen) {
    const std::string path = chosen.toStdString();
    const int result = AddSong(m_core->Songs(), path);
    if (result == SONG_OK) {
        FillSongListBox();
        SelectSongByPath(path);
    } else if (result == SONG_ALREADY_LISTED) {
        SelectSongByPath(path);
    } else {
        ShowLoadError(*this, path, result);
    }
}

void CPelorvaneDlg::OnDropFiles(const QStringList& paths) {
    if (m_core->CurrentPlayState() != Stopped) {
        m_core->StopPlay();
    }
    bool accepted = false;
    std::vector<LoadFailure> failures;
    for (const QString& file : paths) {
        const std::string path = file.toStdString();
        const int result = AddSong(m_core->Songs(), path);
        if (result == SONG_OK || result == SONG_ALREADY_LISTED) {
            accepted = true;
        } else {
            failures.push_back({path, result});
        }
    }
    // After the whole drop, so that a thousand bad files make one message, not a thousand.
    ShowLoadErrors(*this, failures);
    if (accepted) {
        FillSongListBox();
        if (!SelectSongByPath(paths.last().toStdString())) {
            FillTrackList();  // the list was refilled without a selection
        }
    }
}

void CPelorvaneDlg::OnDeleteSong() {
    if (m_core->CurrentPlayState() != Stopped) {
        m_core->StopPlay();
    }
    const int row = SelectedSongRow();
    if (row < 0) {
        return;
    }
    RemoveSong(m_core->Songs(), static_cast<std::size_t>(row));
    {
        const QSignalBlocker block(m_songListBox);
        delete m_songListBox->takeItem(row);
        for (int i = row; i < m_songListBox->count(); ++i) {
            m_songListBox->item(i)->setData(Qt::UserRole, i);
        }
        m_songListBox->clearSelection();
    }
    FillTrackList();
}
