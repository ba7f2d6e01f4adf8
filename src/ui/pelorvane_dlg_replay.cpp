// 聴く: a run's take replayed over its song, and drawn over it while it plays.

#include <QSignalBlocker>

#include "history/stored_run.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "ui/drag_list_box.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"

void CPelorvaneDlg::ReplayTake(const StoredRun& run, std::shared_ptr<const Take> take) {
    if (!take) {
        return;
    }
    const std::string path = run.songPath.toStdString();
    auto shown = [&] { return !m_passageSongPath.empty() && SamePath(m_passageSongPath, path); };
    // The history shown may be of a song other than the one selected: that song is selected
    // first, as a click on it would.
    if (!shown()) {
        const auto& entries = m_core->Songs().m_entries;
        int row = -1;
        for (size_t i = 0; i < entries.size() && static_cast<int>(i) < m_songListBox->count();
             ++i) {
            if (SamePath(entries[i].m_path, path)) {
                row = static_cast<int>(i);
                break;
            }
        }
        if (row < 0) {
            return;  // no longer in the list
        }
        {
            const QSignalBlocker block(m_songListBox);
            m_songListBox->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        }
        m_songListBox->scrollToItem(m_songListBox->item(row));
        OnSongSelChange();
    }
    // A song chosen a moment ago is shown from its remembered place first, as for a start.
    FinishSongPreparation(true);
    const int row = SelectedSongRow();
    if (!shown() || row < 0 || static_cast<size_t>(row) >= m_core->Songs().m_entries.size()) {
        return;  // it could not be loaded: the load has said why
    }
    const SongEntry& entry = m_core->Songs().m_entries[static_cast<size_t>(row)];
    // From the start of the run's first bar: the song leads in to the first thing played.
    uint32_t from = 0;
    if (const std::shared_ptr<const PreparedSong> prepared = m_core->PreparedSongOf(entry);
        prepared && prepared->Meter() && run.firstBar > 0) {
        from = prepared->Meter()->BarStartMs(static_cast<uint32_t>(run.firstBar));
    }
    // Listening ends the training, as playing by hand does.
    m_trainer->Stop();
    const std::optional<PracticeChoice> parts = PartsOf(run);
    m_noteView->SetTake(take, parts);
    m_core->StartReplay(std::move(take), parts, run.splitKey, from);
}
