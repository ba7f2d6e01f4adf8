#include "song/instrument_names.h"

#include <array>
#include <mutex>

#include "platform/text_file.h"

namespace {

constexpr std::size_t kSlots = 128;

struct NameTable {
    std::mutex mutex;
    std::string path = kInstrumentNameFileName;
    bool tried = false;
    bool noNames = false;
    std::array<std::string, kSlots> names;
};

NameTable& Table() {
    static NameTable table;
    return table;
}

// The file is tried once per run whatever happens; a change to it shows at the next start.
void LoadNames(NameTable& table) {
    table.tried = true;
    std::size_t slot = 0;
    bool opened = ReadTextLines(table.path, [&table, &slot](const std::string& piece) {
        if (slot < kSlots) {
            // A stray CR inside the line ends the name just as the line end does.
            table.names[slot++] = piece.substr(0, piece.find_first_of("\r\n"));
        }
    });
    table.noNames = !opened;
}

}  // namespace

std::optional<std::string> GetInstrumentName(unsigned program) {
    NameTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (!table.tried) {
        LoadNames(table);
    }
    if (table.noNames || program >= kSlots) {
        return std::nullopt;
    }
    return table.names[program];
}

void ResetInstrumentNamesForTest() {
    SetInstrumentNameFileForTest(kInstrumentNameFileName);
}

void SetInstrumentNameFileForTest(const std::string& path) {
    NameTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.path = path;
    table.tried = false;
    table.noNames = false;
    table.names.fill(std::string());
}
