#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "song/song_entry.h"

namespace {

// The path goes in by plain substitution, never as a format, so a '%' in it stays as it is.
std::string FillIn(std::string_view pattern, const std::string& path) {
    std::string text(pattern);
    std::size_t at = text.find("%s");
    if (at != std::string::npos) {
        text.replace(at, 2, path);
    }
    return text;
}

// Up to this many failures each show their own message.
constexpr std::size_t kSeparateMessages = 3;
// A message for more names this many of them.
constexpr std::size_t kNamedInSummary = 5;

// Keeps the message texts instead of showing them.
class Collected : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { m_texts.push_back(text); }
    std::vector<std::string> m_texts;
};

}  // namespace

void ShowLoadError(MessageSink& sink, const std::string& path, int code) {
    switch (code) {
        case SONG_FILE_NOT_FOUND:
            sink.ShowMessage(FillIn("ファイル\"%s\"はありません。", path));
            break;
        case SONG_NOT_MIDI:
            sink.ShowMessage(FillIn("ファイル\"%s\"はMIDIファイルではありません。", path));
            break;
        case SONG_PATH_NOT_LISTABLE:
            sink.ShowMessage(FillIn(
                "ファイル\"%s\"は名前に改行か\", \"を含むため、曲リストに加えられません。", path));
            break;
        default:
            break;
    }
}

void ShowLoadErrors(MessageSink& sink, const std::vector<LoadFailure>& failures) {
    Collected texts;
    for (const LoadFailure& failure : failures) {
        ShowLoadError(texts, failure.path, failure.code);
    }
    if (texts.m_texts.size() <= kSeparateMessages) {
        for (const std::string& text : texts.m_texts) {
            sink.ShowMessage(text);
        }
        return;
    }
    std::string summary =
        std::to_string(texts.m_texts.size()) + "個のファイルを曲リストに加えられませんでした。\n";
    for (std::size_t i = 0; i < kNamedInSummary && i < texts.m_texts.size(); ++i) {
        summary += "\n" + texts.m_texts[i];
    }
    if (texts.m_texts.size() > kNamedInSummary) {
        summary += "\nほかに" + std::to_string(texts.m_texts.size() - kNamedInSummary) +
                   "個のファイルがあります。";
    }
    sink.ShowMessage(summary);
}
