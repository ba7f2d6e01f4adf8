#include "engine/prepared_song.h"

#include <algorithm>
#include <chrono>

#include "engine/publish_notice.h"
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

namespace {

std::size_t EventCount(const smf::Song& song) {
    std::size_t events = 0;
    for (const smf::Track& track : song.Tracks()) {
        events += track.events.size();
    }
    return events;
}

}  // namespace

PreparedSongCache::~PreparedSongCache() {
    std::lock_guard lock(m_lock);
    Retire();
    for (const Result& worker : m_stale) {
        worker.wait();
    }
}

bool PreparedSongCache::IsLast(const std::shared_ptr<const smf::Song>& song, int splitKey) const {
    return m_last && m_last->Song() == song && m_last->Parts().SplitKey() == splitKey;
}

void PreparedSongCache::Retire() {
    if (m_pending) {
        m_stale.push_back(std::move(m_pending->result));
        m_pending.reset();
    }
    std::erase_if(m_stale, [](const Result& worker) {
        return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
}

std::shared_ptr<const PreparedSong> PreparedSongCache::Get(
    const std::shared_ptr<const smf::Song>& song, int splitKey) {
    std::unique_lock lock(m_lock);
    if (IsLast(song, splitKey)) {
        return m_last;
    }
    if (m_pending && m_pending->song == song && m_pending->splitKey == splitKey) {
        const Result result = m_pending->result;
        lock.unlock();
        std::shared_ptr<const PreparedSong> prepared = result.get();
        lock.lock();
        // Asked for again while waited for: the worker's song is still the one wanted.
        if (m_pending && m_pending->song == song && m_pending->splitKey == splitKey) {
            m_pending.reset();
            m_last = prepared;
        }
        return prepared;
    }
    lock.unlock();
    // Made outside the lock: another song's preparation never waits on this one.
    std::shared_ptr<const PreparedSong> prepared = PreparedSong::Prepare(song, splitKey);
    lock.lock();
    m_last = prepared;
    return prepared;
}

std::shared_ptr<const PreparedSong> PreparedSongCache::Request(
    const std::shared_ptr<const smf::Song>& song, int splitKey) {
    std::unique_lock lock(m_lock);
    if (IsLast(song, splitKey)) {
        return m_last;
    }
    if (m_pending && m_pending->song == song && m_pending->splitKey == splitKey) {
        if (m_pending->result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return nullptr;
        }
        m_last = m_pending->result.get();
        m_pending.reset();
        return m_last;
    }
    Retire();
    if (!song || EventCount(*song) < m_atOnceBelow.load()) {
        lock.unlock();
        return Get(song, splitKey);
    }
    m_pending = Pending{song, splitKey,
                        std::async(std::launch::async, [song, splitKey, ready = m_ready.load()] {
                            auto prepared = PreparedSong::Prepare(song, splitKey);
                            // Told a moment before the result can be taken: whoever looks then
                            // and finds it not yet there looks again soon, as it waits for it.
                            if (ready) {
                                ready->Published();
                            }
                            return prepared;
                        }).share()};
    return nullptr;
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
