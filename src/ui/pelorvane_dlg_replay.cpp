// 聴く: a run's take replayed over its song, and drawn over it while it plays.

#include "history/stored_run.h"
#include "smf/meter_map.h"
#include "song/song_entry.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"

void CPelorvaneDlg::ReplayTake(const StoredRun& run, std::shared_ptr<const Take> take) {
    // The history shown may be of a song other than the one selected, which is what plays.
    if (!take || m_passageSongPath.empty() ||
        !SamePath(m_passageSongPath, run.songPath.toStdString())) {
        return;
    }
    const int row = SelectedSongRow();
    if (row < 0 || static_cast<size_t>(row) >= m_core->Songs().m_entries.size()) {
        return;
    }
    const SongEntry& entry = m_core->Songs().m_entries[static_cast<size_t>(row)];
    if (!entry.m_midiData) {
        return;
    }
    // From the start of the run's first bar: the song leads in to the first thing played.
    uint32_t from = 0;
    if (const std::shared_ptr<const PreparedSong> prepared = m_core->PreparedSongOf(entry);
        prepared && prepared->Meter() && run.firstBar > 0) {
        from = prepared->Meter()->BarStartMs(static_cast<uint32_t>(run.firstBar));
    }
    const std::optional<PracticeChoice> parts = PartsOf(run);
    m_noteView->SetTake(take, parts);
    m_core->StartReplay(std::move(take), parts, run.splitKey, from);
}
