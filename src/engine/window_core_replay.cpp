// The window's 聴く: a run's take replayed over its song.

#include "engine/window_core.h"
#include "song/song_entry.h"

bool CPelorvaneCore::StartReplay(std::shared_ptr<const Take> take,
                                 std::optional<PracticeChoice> parts, int splitKey,
                                 uint32_t fromSongMs) {
    const SongEntry* entry = SelectedLoadedSong();
    if (!entry || !take) {
        return false;
    }
    ReplayCommand replay;
    replay.take = std::move(take);
    replay.fromSongMs = fromSongMs;
    StartCommand& start = replay.start;
    start.speedPercent = ChosenSpeedPercent(m_host.SpeedSliderPosition());
    start.song = entry->m_midiData;
    start.path = entry->m_path;
    start.parts = parts.value_or(ChoiceOf(*entry));
    // The hands as the run divided them: a song prepared with another split key would give
    // the take's hand other notes to replace.
    start.prepared = splitKey >= 0 && splitKey <= 127 && splitKey != m_splitKey
                         ? PreparedSong::Prepare(entry->m_midiData, splitKey)
                         : PreparedSongOf(*entry);
    if (!m_session.StartReplay(replay)) {
        return false;
    }
    m_host.LightModeLed(static_cast<int>(PlayMode::ModelPerformance));
    return true;
}
