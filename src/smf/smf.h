#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "smf/tempo_map.h"

// Our Standard MIDI File reader. A loaded song is a list of tracks in file order, each a list of
// events in file order with absolute tick times. The song is immutable once loaded and may be
// read from several threads.
namespace smf {

// Event kinds: 0x80-0xEF a channel message (the status byte with its channel); 0xF0 and 0xF7 a
// system exclusive message; kMetaBase + type for a meta event (tempo, names, end of track...),
// which is not a MIDI message.
inline constexpr uint32_t kMetaBase = 0x100;

struct Event {
    uint32_t tick = 0;    // ticks from the start of the song
    uint32_t kind = 0;    // see above
    uint32_t length = 0;  // number of data bytes
    uint32_t offset = 0;  // where the data bytes start in the song's byte pool
};

// Data bytes of each kind of event:
//  - channel message: status byte (running status resolved), data1, data2 when the message has
//    one; length 2 or 3.
//  - system exclusive 0xF0: the F0 byte followed by the event's data; 0xF7: the event's data
//    alone. The bytes are the message as it is to be sent.
//  - meta event: the meta event's data without type and length.

// The events of one track, in file order: a view into the song's storage, which holds the events
// of all tracks in one block (one allocation instead of one per track).
class EventList {
  public:
    const Event* begin() const { return m_begin; }
    const Event* end() const { return m_begin + m_size; }
    const Event* data() const { return m_begin; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const Event& operator[](std::size_t i) const { return m_begin[i]; }
    const Event& front() const { return m_begin[0]; }
    const Event& back() const { return m_begin[m_size - 1]; }

  private:
    friend class Parser;
    const Event* m_begin = nullptr;
    std::size_t m_size = 0;
};

struct Track {
    EventList events;
};

class Song {
  public:
    const std::vector<Track>& Tracks() const { return m_tracks; }
    const uint8_t* Data(const Event& e) const { return m_bytes.get() + e.offset; }

    // The text of the first track-name event of the first track, decoded to UTF-8 (UTF-8 when
    // valid, else CP932, else Latin-1); empty when there is none.
    const std::string& Title() const { return m_title; }

    // Absolute time of a tick in milliseconds from the start of the song with every tempo change
    // of the song applied; never decreasing as the tick grows.
    uint32_t TickToMs(uint32_t tick) const { return m_tempoMap.TickToMs(tick); }
    const TempoMap& Tempo() const { return m_tempoMap; }

    int Format() const { return m_format; }
    uint16_t Division() const { return m_tempoMap.Division(); }
    const std::vector<TempoChange>& Tempos() const { return m_tempoMap.Changes(); }

    // True when the division counts SMPTE frames: times then ignore tempo changes.
    bool IsSmpte() const { return m_tempoMap.IsSmpte(); }

  private:
    friend class Parser;

    std::vector<Track> m_tracks;
    std::vector<Event> m_events;         // every track's events, track after track
    std::unique_ptr<uint8_t[]> m_bytes;  // data bytes of every event
    TempoMap m_tempoMap;
    std::string m_title;
    int m_format = 0;
};

// Reads a Standard MIDI File (formats 0, 1, 2, also inside a RIFF RMID wrapper). Returns null
// when the file cannot be read or is not a Standard MIDI File.
std::unique_ptr<Song> LoadFromFile(const std::string& path);
std::unique_ptr<Song> LoadFromMemory(const uint8_t* data, std::size_t size);

}  // namespace smf
