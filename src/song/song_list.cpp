#include "song/song_list.h"

#include <vector>

namespace {

// Titles longer than this were cut by the old title buffer; keeping the same limit keeps every
// line of the song list file short enough to be read back whole.
constexpr std::size_t kMaxTitleChars = 255;

std::string FileNamePart(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A title is one line of the list box and of the song list file: line breaks become blanks and
// the text is cut after kMaxTitleChars characters, never inside a UTF-8 sequence.
std::string CleanTitle(const std::string& title) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < title.size(); ++i) {
        auto c = static_cast<unsigned char>(title[i]);
        if ((c & 0xC0) != 0x80) {
            if (chars == kMaxTitleChars) {
                break;
            }
            ++chars;
        }
        out += (c == '\r' || c == '\n') ? ' ' : static_cast<char>(c);
    }
    return out;
}

}  // namespace

int AddSong(SongList& list, const std::string& path) {
    // Kept now, such a song would be lost, or come back as another path, at the next start.
    if (!SongListCanHold(path)) {
        return SONG_PATH_NOT_LISTABLE;
    }
    for (SongEntry& listed : list.m_entries) {
        if (SamePath(listed.m_path, path)) {
            int code = LoadSong(listed);
            return code == SONG_OK ? SONG_ALREADY_LISTED : code;
        }
    }
    SongEntry entry;
    entry.m_path = path;
    int code = LoadSong(entry);
    if (code != SONG_OK) {
        return code;
    }
    entry.m_channels[0].m_practice = 1;
    const std::string& title = entry.m_midiData->Title();
    entry.m_title = CleanTitle(title.empty() ? FileNamePart(path) : title);
    list.m_entries.push_back(std::move(entry));
    return SONG_OK;
}

bool RemoveSong(SongList& list, std::size_t index) {
    if (index >= list.m_entries.size()) {
        return false;
    }
    list.m_entries.erase(list.m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool ReorderSongs(SongList& list, std::size_t count, const int* order) {
    const std::size_t size = list.m_entries.size();
    if (count != size || (count > 0 && order == nullptr)) {
        return false;
    }
    // An index named twice would leave two entries sharing one song and lose another.
    std::vector<bool> seen(size, false);
    for (std::size_t row = 0; row < count; ++row) {
        int from = order[row];
        if (from < 0 || static_cast<std::size_t>(from) >= size || seen[from]) {
            return false;
        }
        seen[from] = true;
    }
    std::vector<SongEntry> reordered;
    reordered.reserve(size);
    for (std::size_t row = 0; row < count; ++row) {
        reordered.push_back(std::move(list.m_entries[order[row]]));
    }
    list.m_entries = std::move(reordered);
    return true;
}

void FreeSongList(SongList& list) {
    list.m_entries.clear();
}
