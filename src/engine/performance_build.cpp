// Construction of a Performance and the building of its timeline from a loaded song.

#include "engine/performance.h"

#include "smf/meter_map.h"

Performance::Performance(std::shared_ptr<MidiOut> output)
    : m_hOutput(std::move(output)), m_timeline(std::make_shared<const Timeline>()) {}

Performance::~Performance() = default;

void Performance::Build(const smf::Song& song) {
    // The old timeline goes first: a long song's timeline is large.
    m_timeline = std::make_shared<const Timeline>();
    m_timeline = Timeline::Build(song);
    m_lesson.Reset(m_timeline->Size());
    m_meter = std::make_shared<const smf::MeterMap>(song);
    m_clicks.Build(*m_meter);
}
