#pragma once

#include <QString>
#include <optional>

#include "engine/part_map.h"
#include "engine/passage.h"

// Where a song was left and the loop set on it.
struct SongPassage {
    uint32_t start = 0;
    std::optional<LoopSpan> loop;
    Hand hand = Hand::Both;
    int splitKey = PartMap::kDefaultSplitKey;
    bool operator==(const SongPassage&) const = default;
};

// The place and loop of each song, remembered between runs in a file of their own beside the
// window's state ($XDG_CONFIG_HOME/pelorvane/passages.conf), never in the song list. A song is
// known by its path. A damaged file counts as empty and is replaced at the next write; one that is
// no regular file, cannot be read or is far too large counts as empty and is left alone.
class PassageMemory {
  public:
    // path empty: remembers nothing.
    explicit PassageMemory(QString path = {}) : m_path(std::move(path)) {}
    static QString DefaultPath();

    SongPassage Read(const QString& songPath) const;
    void Write(const QString& songPath, const SongPassage& passage);

  private:
    QString m_path;
};
