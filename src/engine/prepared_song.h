#pragma once

#include <atomic>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/note_spans.h"
#include "engine/part_map.h"
#include "engine/practice_choice.h"
#include "engine/seek_index.h"
#include "engine/timeline.h"
#include "smf/meter_map.h"

class PublishNotice;

namespace smf {
class Song;
}

// Everything derived from one song that playing, jumping, showing and scoring it need, made once
// when the song is chosen and never changed: a holder of the shared pointer reads it on any
// thread without a lock.
class PreparedSong {
  public:
    // splitKey: where a channel played by one track divides into hands (see PartMap).
    static std::shared_ptr<const PreparedSong> Prepare(std::shared_ptr<const smf::Song> song,
                                                       int splitKey = PartMap::kDefaultSplitKey);
    // Keeps no reference to the song: Song() is null. hands false: no channel is divided.
    static std::shared_ptr<const PreparedSong> Prepare(const smf::Song& song,
                                                       int splitKey = PartMap::kDefaultSplitKey,
                                                       bool hands = true);
    // No song: an empty timeline, no notes.
    static std::shared_ptr<const PreparedSong> Empty();

    // Null for the empty song and one prepared without keeping it.
    const std::shared_ptr<const smf::Song>& Song() const { return m_song; }
    const Timeline& GetTimeline() const { return *m_timeline; }
    const std::shared_ptr<const Timeline>& SharedTimeline() const { return m_timeline; }
    const SeekIndex& Seek() const { return m_seek; }
    const std::shared_ptr<const smf::MeterMap>& Meter() const { return m_meter; }
    const std::shared_ptr<const NoteSpans>& Spans() const { return m_spans; }
    const PartMap& Parts() const { return m_parts; }

    // Whether the event at index of the timeline is a note practised under choice.
    bool IsPracticeNoteOn(uint32_t index, PracticeChoice choice) const {
        const PerformanceEvent& e = (*m_timeline)[index];
        return e.IsNoteOn() && m_parts.IsPractised(e, index, choice);
    }

  private:
    static std::shared_ptr<PreparedSong> Make(const smf::Song& song, int splitKey, bool hands);
    std::shared_ptr<const smf::Song> m_song;
    std::shared_ptr<const Timeline> m_timeline;
    SeekIndex m_seek;
    std::shared_ptr<const smf::MeterMap> m_meter;
    std::shared_ptr<const NoteSpans> m_spans;
    PartMap m_parts;
};

// The prepared song of the song chosen last: made when the song is chosen, and taken again by
// every start of it instead of being made anew. A long song is made on a worker of its own, so
// choosing it never holds up the window; a song chosen meanwhile replaces it, and what the
// worker made for a song no longer asked for is dropped. Any thread.
class PreparedSongCache {
  public:
    // Below this many events a song is made at once: it takes a few milliseconds.
    static constexpr std::size_t kAtOnceBelowEvents = 20000;

    PreparedSongCache() = default;
    // Waits for the workers still running: none outlives what it was given.
    ~PreparedSongCache();
    PreparedSongCache(const PreparedSongCache&) = delete;
    PreparedSongCache& operator=(const PreparedSongCache&) = delete;

    // The prepared song, waiting for it while a worker makes it.
    std::shared_ptr<const PreparedSong> Get(const std::shared_ptr<const smf::Song>& song,
                                            int splitKey = PartMap::kDefaultSplitKey);
    // The prepared song when it is ready; else null, with a worker making it.
    std::shared_ptr<const PreparedSong> Request(const std::shared_ptr<const smf::Song>& song,
                                                int splitKey = PartMap::kDefaultSplitKey);
    void SetAtOnceBelowEvents(std::size_t events) { m_atOnceBelow = events; }
    // Told when a worker has made its song: a window asleep meanwhile wakes to show it. The
    // notice must outlive the cache's workers, which the cache's end waits for.
    void TellWhenReady(PublishNotice* notice) { m_ready.store(notice); }

  private:
    using Result = std::shared_future<std::shared_ptr<const PreparedSong>>;
    struct Pending {
        std::shared_ptr<const smf::Song> song;
        int splitKey = 0;
        Result result;
    };
    std::mutex m_lock;
    std::shared_ptr<const PreparedSong> m_last;
    std::optional<Pending> m_pending;
    // Workers whose song is no longer asked for: kept until they end, since dropping a running
    // one would wait for it.
    std::vector<Result> m_stale;
    std::atomic<std::size_t> m_atOnceBelow{kAtOnceBelowEvents};
    std::atomic<PublishNotice*> m_ready{nullptr};

    bool IsLast(const std::shared_ptr<const smf::Song>& song, int splitKey) const;
    void Retire();  // m_lock held
};

// Lowest and highest key of the notes practised under choice; false when there are none (the
// bounds are then left as they were).
bool PracticeKeyRange(const PreparedSong& song, PracticeChoice choice, int& low, int& high);
