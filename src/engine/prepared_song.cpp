#include "engine/prepared_song.h"

#include <algorithm>

#include "smf/smf.h"

std::shared_ptr<const PreparedSong> PreparedSong::Prepare(std::shared_ptr<const smf::Song> song,
                                                          int splitKey) {
    if (!song) {
        return Empty();
    }
    auto prepared = Make(*song, splitKey, true);
    prepared->m_song = std::move(song);
    return prepared;
}

std::shared_ptr<const PreparedSong> PreparedSong::Prepare(const smf::Song& song, int splitKey,
                                                          bool hands) {
    return Make(song, splitKey, hands);
}

std::shared_ptr<PreparedSong> PreparedSong::Make(const smf::Song& song, int splitKey, bool hands) {
    auto prepared = std::make_shared<PreparedSong>();
    prepared->m_timeline = Timeline::Build(song);
    const Timeline& timeline = *prepared->m_timeline;
    prepared->m_seek.Build(timeline.Events(), timeline.SysexTable(), timeline.SysexPool());
    prepared->m_meter = std::make_shared<const smf::MeterMap>(song);
    prepared->m_parts = PartMap::Build(song, timeline, splitKey, hands);
    prepared->m_spans = NoteSpans::FromSong(song, &prepared->m_parts);
    return prepared;
}

std::shared_ptr<const PreparedSong> PreparedSong::Empty() {
    auto prepared = std::make_shared<PreparedSong>();
    prepared->m_timeline = std::make_shared<const Timeline>();
    prepared->m_meter = std::make_shared<const smf::MeterMap>();
    prepared->m_spans = NoteSpans::FromEvents({});
    return prepared;
}

std::shared_ptr<const PreparedSong> PreparedSongCache::Get(
    const std::shared_ptr<const smf::Song>& song, int splitKey) {
    {
        std::lock_guard lock(m_lock);
        if (m_last && m_last->Song() == song && m_last->Parts().SplitKey() == splitKey) {
            return m_last;
        }
    }
    // Made outside the lock: another song's preparation never waits on this one.
    std::shared_ptr<const PreparedSong> prepared = PreparedSong::Prepare(song, splitKey);
    std::lock_guard lock(m_lock);
    m_last = prepared;
    return prepared;
}

bool PracticeKeyRange(const PreparedSong& song, PracticeChoice choice, int& low, int& high) {
    bool found = false;
    const Timeline& timeline = song.GetTimeline();
    for (uint32_t i = 0; i < timeline.Size(); ++i) {
        if (!song.IsPracticeNoteOn(i, choice)) {
            continue;
        }
        const int key = timeline[i].data1 & 0x7F;
        low = found ? std::min(low, key) : key;
        high = found ? std::max(high, key) : key;
        found = true;
    }
    return found;
}
