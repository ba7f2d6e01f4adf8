#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/text_file.h"
#include "smf/huge_pages.h"
#include "smf/smf.h"

// Files from the wild are often damaged in small ways: the last track cut short, a track without
// End of Track, chunk lengths that disagree with the data, chunks nobody knows. The reader keeps
// whatever it can read and only refuses files that do not start like a Standard MIDI File.
//
// All events of a song live in one block and all their data bytes in another, each reserved
// once for the most the file could hold, so that nothing is copied while a large song is read.

namespace smf {

namespace {

constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTrackName = 0x03;

uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t ReadLe32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool HasId(const uint8_t* p, const uint8_t* end, const char* id) {
    return end - p >= 4 && std::memcmp(p, id, 4) == 0;
}

// A chunk header: four printable ASCII characters and a length.
bool LooksLikeChunk(const uint8_t* p, const uint8_t* end) {
    if (end - p < 8) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E) {
            return false;
        }
    }
    return true;
}

// Where a track header starts at p (used to notice a track that runs into the next one).
bool AtTrackHeader(const uint8_t* p, const uint8_t* end) {
    return end - p >= 8 && p[0] == 'M' && std::memcmp(p, "MTrk", 4) == 0;
}

const uint8_t* FindTrackHeader(const uint8_t* from, const uint8_t* end) {
    while (end - from >= 8) {
        const void* hit = std::memchr(from, 'M', static_cast<std::size_t>(end - from - 7));
        if (hit == nullptr) {
            return nullptr;
        }
        const uint8_t* p = static_cast<const uint8_t*>(hit);
        if (std::memcmp(p, "MTrk", 4) == 0) {
            return p;
        }
        from = p + 1;
    }
    return nullptr;
}

// A variable-length quantity of at most four bytes. False when it runs past end or is longer.
inline bool ReadVarLen(const uint8_t*& p, const uint8_t* end, uint32_t& out) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p == end) {
            return false;
        }
        const uint8_t b = *p++;
        value = (value << 7) | (b & 0x7F);
        if ((b & 0x80) == 0) {
            out = value;
            return true;
        }
    }
    return false;
}

struct TrackScan {
    const uint8_t* stop = nullptr;  // just after the last event read whole
    std::size_t events = 0;
    std::size_t bytes = 0;  // data bytes the events put into the pool
    std::size_t tempos = 0;
    bool endOfTrack = false;    // stopped at an End of Track event
    bool atNextHeader = false;  // stopped where the next track header starts
};

// Where ScanTrack<true> stores what it reads.
struct TrackSink {
    std::vector<Event>* events;
    uint8_t* pool;      // start of the song's byte pool
    uint32_t poolUsed;  // bytes of the pool already filled
    std::vector<TempoChange>* tempos;
};

// Reads the events in [begin, limit) until End of Track, the next track header, the end of the
// data or the first thing that cannot be an event. The same input always gives the same
// events, so a track can be tried with one limit and read again with another.
template <bool kStore>
TrackScan ScanTrack(const uint8_t* begin, const uint8_t* limit, TrackSink* sink) {
    TrackScan scan;
    const uint8_t* p = begin;
    scan.stop = p;
    uint64_t tick = 0;
    uint8_t running = 0;
    uint8_t* out = nullptr;
    if constexpr (kStore) {
        out = sink->pool + sink->poolUsed;
    }
    auto add = [&](uint32_t kind, uint32_t length) __attribute__((always_inline)) {
        if constexpr (kStore) {
            const uint32_t t = tick > std::numeric_limits<uint32_t>::max()
                                   ? std::numeric_limits<uint32_t>::max()
                                   : static_cast<uint32_t>(tick);
            sink->events->push_back(Event{t, kind, length, sink->poolUsed});
            sink->poolUsed += length;
        }
        ++scan.events;
        scan.bytes += length;
    };

    while (p < limit) {
        if (AtTrackHeader(p, limit)) {
            scan.atNextHeader = true;
            break;
        }
        uint32_t delta = 0;
        if (!ReadVarLen(p, limit, delta) || p == limit) {
            break;
        }
        uint8_t status = *p;
        if (status & 0x80) {
            ++p;
        } else if (running != 0) {
            status = running;
        } else {
            break;  // a data byte with no status to run on
        }

        if (status < 0xF0) {
            const std::ptrdiff_t dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;
            if (limit - p < dataBytes) {
                break;
            }
            running = status;
            tick += delta;
            if constexpr (kStore) {
                // A data byte never has its top bit set on the wire; a stray one would be taken
                // for a status byte by the receiving device.
                out[0] = status;
                out[1] = p[0] & 0x7F;
                if (dataBytes == 2) {
                    out[2] = p[1] & 0x7F;
                }
                out += dataBytes + 1;
            }
            add(status, static_cast<uint32_t>(dataBytes + 1));
            p += dataBytes;
        } else if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!ReadVarLen(p, limit, length) || length > static_cast<std::size_t>(limit - p)) {
                break;
            }
            tick += delta;
            // The bytes as they go to the device: F0 begins a message, F7 carries raw bytes.
            const uint32_t stored = status == 0xF0 ? length + 1 : length;
            if constexpr (kStore) {
                if (status == 0xF0) {
                    *out++ = 0xF0;
                }
                if (length > 0) {  // memcpy wants valid pointers even for nothing
                    std::memcpy(out, p, length);
                    out += length;
                }
            }
            add(status, stored);
            p += length;
        } else if (status == 0xFF) {
            if (p == limit) {
                break;
            }
            const uint8_t type = *p++;
            uint32_t length = 0;
            if (!ReadVarLen(p, limit, length) || length > static_cast<std::size_t>(limit - p)) {
                break;
            }
            tick += delta;
            if (type == kMetaTempo && length >= 3) {
                if constexpr (kStore) {
                    const uint32_t micros = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
                    const uint32_t t = tick > std::numeric_limits<uint32_t>::max()
                                           ? std::numeric_limits<uint32_t>::max()
                                           : static_cast<uint32_t>(tick);
                    sink->tempos->push_back({t, micros});
                }
                ++scan.tempos;
            }
            if constexpr (kStore) {
                if (length > 0) {
                    std::memcpy(out, p, length);
                    out += length;
                }
            }
            add(kMetaBase + type, length);
            p += length;
            if (type == kMetaEndOfTrack) {
                scan.endOfTrack = true;
                scan.stop = p;
                break;
            }
        } else {
            break;  // system common and real-time bytes do not belong in a file
        }
        scan.stop = p;
    }
    return scan;
}

}  // namespace

class Parser {
  public:
    static std::unique_ptr<Song> Parse(const uint8_t* data, std::size_t size);

  private:
    static bool FindSmf(const uint8_t*& begin, const uint8_t*& end);
};

// A RIFF "RMID" file carries the Standard MIDI File in its "data" chunk.
bool Parser::FindSmf(const uint8_t*& begin, const uint8_t*& end) {
    if (HasId(begin, end, "MThd")) {
        return true;
    }
    if (!(end - begin >= 12 && HasId(begin, end, "RIFF") && HasId(begin + 8, end, "RMID"))) {
        return false;
    }
    const uint8_t* p = begin + 12;
    while (end - p >= 8) {
        const uint32_t length = ReadLe32(p + 4);
        const uint8_t* body = p + 8;
        const std::size_t available = static_cast<std::size_t>(end - body);
        const uint8_t* bodyEnd = body + (length < available ? length : available);
        if (HasId(p, end, "data")) {
            begin = body;
            end = bodyEnd;
            return HasId(begin, end, "MThd");
        }
        // RIFF chunks are padded to an even length.
        if (bodyEnd == end || (length & 1) == 0) {
            p = bodyEnd;
        } else {
            p = bodyEnd + 1;
        }
    }
    return false;
}

std::unique_ptr<Song> Parser::Parse(const uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return nullptr;
    }
    const uint8_t* begin = data;
    const uint8_t* end = data + size;
    if (!FindSmf(begin, end) || end - begin < 14) {
        return nullptr;
    }
    const uint32_t headerLength = ReadBe32(begin + 4);
    const uint16_t format = ReadBe16(begin + 8);
    const uint16_t division = ReadBe16(begin + 12);
    if (format > 2) {
        return nullptr;
    }
    if ((division & 0x8000) ? (division & 0xFF) == 0 : division == 0) {
        return nullptr;  // no way to tell time
    }

    // Chunks follow the header. A header length that is wrong is overruled by a track header
    // right after the six bytes every header has.
    const uint8_t* p = begin + 14;
    if (headerLength > 6) {
        const uint8_t* declared =
            headerLength - 6 < static_cast<std::size_t>(end - p) ? p + (headerLength - 6) : end;
        if (AtTrackHeader(declared, end) || !AtTrackHeader(p, end)) {
            p = declared;
        }
    }

    // Offsets into the pool are 32-bit.
    const std::size_t smfSize = static_cast<std::size_t>(end - begin);
    if (smfSize > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    // The events are stored as they are read, into room for as many as the file can hold: every
    // event takes at least two bytes of the file, and stores no more data bytes than the file
    // gave it. Room that is not written to never becomes resident memory.
    auto song = std::make_unique<Song>();
    song->m_format = format;
    song->m_division = division;
    song->m_events.reserve(smfSize / 2 + 1);
    AdviseHugePages(song->m_events.data(), song->m_events.capacity() * sizeof(Event));
    song->m_bytes.reset(new uint8_t[smfSize]);
    AdviseHugePages(song->m_bytes.get(), smfSize);
    std::vector<TempoChange> tempos;
    TrackSink sink{&song->m_events, song->m_bytes.get(), 0, &tempos};
    std::vector<std::size_t> trackSizes;

    while (end - p >= 8) {
        const uint32_t length = ReadBe32(p + 4);
        const uint8_t* body = p + 8;
        const uint8_t* declaredEnd =
            length < static_cast<std::size_t>(end - body) ? body + length : end;
        const bool declaredEndFits = declaredEnd == end || LooksLikeChunk(declaredEnd, end);

        if (!HasId(p, end, "MTrk")) {
            if (LooksLikeChunk(p, end) && declaredEndFits) {
                p = declaredEnd;  // a chunk we do not know: skip it
                continue;
            }
            // Lost (an earlier length was wrong): go on at the next track header.
            const uint8_t* next = FindTrackHeader(p + 1, end);
            if (next == nullptr) {
                break;
            }
            p = next;
            continue;
        }

        const std::size_t firstEvent = song->m_events.size();
        const uint32_t firstByte = sink.poolUsed;
        const std::size_t firstTempo = tempos.size();
        const TrackScan scan = ScanTrack<true>(body, declaredEnd, &sink);
        const uint8_t* next = declaredEnd;
        if (scan.atNextHeader) {
            next = scan.stop;  // the length claimed more than the track holds
        } else if (scan.endOfTrack) {
            if (!declaredEndFits && LooksLikeChunk(scan.stop, end)) {
                next = scan.stop;
            }
        } else if (!declaredEndFits) {
            // The length claimed less than the track holds: read on up to the next track
            // header, and keep the longer reading only when it ends properly.
            const uint8_t* nextHeader = FindTrackHeader(declaredEnd, end);
            const uint8_t* limit = nextHeader != nullptr ? nextHeader : end;
            const TrackScan longer = ScanTrack<false>(body, limit, nullptr);
            if (longer.endOfTrack || (nextHeader != nullptr && longer.stop == nextHeader)) {
                song->m_events.resize(firstEvent);
                sink.poolUsed = firstByte;
                tempos.resize(firstTempo);
                ScanTrack<true>(body, longer.stop, &sink);
                next = longer.stop;
            }
        }
        trackSizes.push_back(song->m_events.size() - firstEvent);
        p = next > p ? next : p + 8;
    }

    // The storage is complete and never moves again: the views can be set.
    song->m_tracks.resize(trackSizes.size());
    const Event* first = song->m_events.data();
    for (std::size_t i = 0; i < trackSizes.size(); ++i) {
        song->m_tracks[i].events.m_begin = first;
        song->m_tracks[i].events.m_size = trackSizes[i];
        first += trackSizes[i];
    }
    song->BuildTempoMap(std::move(tempos));

    if (!song->m_tracks.empty()) {
        for (const Event& e : song->m_tracks[0].events) {
            if (e.kind == kMetaBase + kMetaTrackName) {
                const char* text = reinterpret_cast<const char*>(song->Data(e));
                // Other sequencers often pad their names with zero bytes; the name ends at
                // the first. Titles come in whatever encoding their author used.
                const std::string_view name(text, e.length);
                song->m_title = DecodeLegacyText(std::string(name.substr(0, name.find('\0'))));
                break;
            }
        }
    }
    return song;
}

std::unique_ptr<Song> LoadFromMemory(const uint8_t* data, std::size_t size) {
    try {
        return Parser::Parse(data, size);
    } catch (const std::bad_alloc&) {
        return nullptr;  // a file too large for this machine cannot be played either
    } catch (const std::length_error&) {
        return nullptr;
    }
}

}  // namespace smf
