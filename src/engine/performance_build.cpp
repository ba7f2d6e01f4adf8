// Construction of a Performance and the building of its timeline from a loaded song.

#include "engine/performance.h"

#include "smf/meter_map.h"

Performance::Performance(std::shared_ptr<MidiOut> output)
    : m_hOutput(std::move(output)),
      m_song(PreparedSong::Empty()),
      m_timeline(m_song->SharedTimeline()) {}

Performance::~Performance() = default;

void Performance::Build(const smf::Song& song) {
    // The old timeline goes first: a long song's timeline is large.
    Use(PreparedSong::Empty());
    Use(PreparedSong::Prepare(song));
}

void Performance::Use(std::shared_ptr<const PreparedSong> song) {
    m_song = song ? std::move(song) : PreparedSong::Empty();
    m_timeline = m_song->SharedTimeline();
    m_lesson.Reset(m_timeline->Size());
    m_player.SetDividedChannels(m_song->Parts().DividedChannels());
    m_droppedNotes.assign(
        m_song->Parts().DividedChannels() != 0 ? (size_t{m_timeline->Size()} + 63) / 64 : 0, 0);
    m_meter = m_song->Meter();
    m_clicks.Build(m_meter ? *m_meter : smf::MeterMap());
}
