#include <string_view>

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
