#include "engine_test_support.h"

#include <stdlib.h>

#include <filesystem>

namespace {
std::mutex g_debugLock;
std::vector<std::string> g_debugLines;

void CaptureLine(std::string_view line) {
    std::lock_guard<std::mutex> lock(g_debugLock);
    g_debugLines.emplace_back(line);
}
}  // namespace

std::vector<uint32_t> AllKeysDark() {
    std::vector<uint32_t> v;
    for (int k = 0; k < 128; ++k) {
        v.push_back(Msg(0x90, k, 0));
    }
    return v;
}

std::vector<uint32_t> SilenceAll() {
    std::vector<uint32_t> v;
    for (int c = 0; c < 16; ++c) {
        v.push_back(Msg(0xB0 + c, 0x78, 0));
        v.push_back(Msg(0xB0 + c, 0x79, 0));
    }
    return v;
}

std::vector<uint32_t> Concat(std::initializer_list<std::vector<uint32_t>> parts) {
    std::vector<uint32_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

DebugCapture::DebugCapture() {
    std::lock_guard<std::mutex> lock(g_debugLock);
    g_debugLines.clear();
    SetDebugSinkForTest(&CaptureLine);
}

DebugCapture::~DebugCapture() {
    SetDebugSinkForTest(nullptr);
}

std::vector<std::string> DebugCapture::Lines() {
    std::lock_guard<std::mutex> lock(g_debugLock);
    return g_debugLines;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pv-engine-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

int TestCore::AddLoadedSong(std::unique_ptr<smf::Song> song, uint32_t practiceMask) {
    SongEntry entry;
    entry.m_path = "/songs/test" + std::to_string(Songs().m_entries.size()) + ".mid";
    entry.m_title = song->Title();
    entry.m_midiData = std::move(song);
    for (int ch = 0; ch < 16; ++ch) {
        entry.m_channels[ch].m_practice = (practiceMask >> ch) & 1u;
    }
    Songs().m_entries.push_back(entry);
    const int row = static_cast<int>(Songs().m_entries.size()) - 1;
    m_selectedRow = row;
    return row;
}
