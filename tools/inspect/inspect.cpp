#include "inspect.h"

#include <charconv>
#include <memory>
#include <string>
#include <string_view>

#include "engine/performance.h"
#include "platform/message_sink.h"
#include "smf/smf.h"
#include "song/song_entry.h"

namespace {

constexpr int kUsageError = 64;

// The load error messages go to standard error instead of a message box.
class StderrSink : public MessageSink {
  public:
    explicit StderrSink(std::FILE* err) : m_err(err) {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(m_err, "%s\n", text.c_str());
    }

  private:
    std::FILE* m_err;
};

// Collects output lines and writes them in large blocks: a timeline has millions of lines.
class LineWriter {
  public:
    explicit LineWriter(std::FILE* out) : m_out(out) { m_buffer.reserve(kBlock + 256); }
    ~LineWriter() { Flush(); }

    LineWriter& Text(std::string_view text) {
        m_buffer.append(text);
        return *this;
    }
    LineWriter& Number(uint32_t value) {
        char digits[16];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        m_buffer.append(digits, result.ptr);
        return *this;
    }
    LineWriter& Hex2(uint8_t value) {
        static constexpr char kHex[] = "0123456789abcdef";
        m_buffer += kHex[value >> 4];
        m_buffer += kHex[value & 0xF];
        return *this;
    }
    void EndLine() {
        m_buffer += '\n';
        if (m_buffer.size() >= kBlock) {
            Flush();
        }
    }
    void Flush() {
        std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out);
        m_buffer.clear();
    }

  private:
    static constexpr std::size_t kBlock = 1 << 16;
    std::FILE* m_out;
    std::string m_buffer;
};

// A line break inside the title would break the one-item-a-line output.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

int RunInspect(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    bool summary = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--summary" && !summary) {
            summary = true;
        } else if (path == nullptr && (arg.empty() || arg[0] != '-' || arg == "-")) {
            path = argv[i];
        } else if (path == nullptr && arg == "--" && i + 1 < argc) {
            path = argv[++i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (path == nullptr) {
        std::fprintf(err, "usage: pelorvane-inspect [--summary] FILE\n");
        return kUsageError;
    }

    SongEntry entry;
    entry.m_path = path;
    const int result = LoadSong(entry);
    if (result != SONG_OK) {
        StderrSink sink(err);
        ShowLoadError(sink, entry.m_path, result);
        return result;
    }
    std::shared_ptr<const smf::Song> song = std::move(entry.m_midiData);

    Performance performance(nullptr);
    performance.Build(*song);

    LineWriter w(out);
    w.Text("title ").Text(OneLine(song->Title())).EndLine();
    song.reset();  // the timeline has its own copy of everything it needs
    for (int ch = 0; ch < 16; ++ch) {
        const ChannelInfo& info = entry.m_channels[ch];
        w.Text("channel ").Number(ch + 1).Text(" notes ").Number(info.m_hasNotes);
        w.Text(" program ").Number(info.m_program).EndLine();
        const PartMap& parts = performance.Prepared().Parts();
        if (parts.DividedChannels() >> ch & 1u) {
            const PartMap::ChannelHands& hands = parts.Channel(ch);
            w.Text("channel ").Number(ch + 1).Text(" hands right ").Number(hands.right);
            w.Text(" left ").Number(hands.left).Text(" by ");
            if (hands.source == PartMap::Source::TrackName) {
                w.Text("track name");
            } else if (hands.source == PartMap::Source::TrackPitch) {
                w.Text("track pitch");
            } else {
                w.Text("split ").Number(static_cast<uint32_t>(parts.SplitKey()));
            }
            w.EndLine();
        }
    }
    w.Text("spare ").Number(static_cast<uint32_t>(performance.SpareChannel())).EndLine();
    if (summary) {
        w.Text("events ")
            .Number(static_cast<uint32_t>(performance.GetTimeline().Events().size()))
            .EndLine();
    } else {
        for (const PerformanceEvent& e : performance.GetTimeline().Events()) {
            if (e.IsSysex()) {
                w.Text("sysex ").Number(e.time).Text(" ").Hex2(e.status).Text(" ");
                w.Number(performance.SysexLength(e)).EndLine();
            } else {
                w.Text("event ").Number(e.time).Text(" ").Hex2(e.status).Text(" ");
                w.Number(e.channel).Text(" ").Number(e.data1).Text(" ").Number(e.data2).EndLine();
            }
        }
    }
    w.Flush();
    return std::fflush(out) == 0 && !std::ferror(out) ? 0 : 3;
}
