#include "midi/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pv_settings_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_dir = pattern;
        m_path = (m_dir / kSettingsFileName).string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void WriteRaw(const std::string& bytes) { std::ofstream(m_path, std::ios::binary) << bytes; }
    std::string ReadRaw() {
        std::ifstream file(m_path, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }
    // Loads the file over the program's defaults.
    std::pair<std::string, std::string> Load() {
        std::string in = "Digital Keyboard-1";
        std::string out = "Digital Keyboard-1";
        LoadSettingsFile(m_path, in, out);
        return {in, out};
    }

    fs::path m_dir;
    std::string m_path;
};

using Names = std::pair<std::string, std::string>;
const Names kDefaults{"Digital Keyboard-1", "Digital Keyboard-1"};

TEST_F(SettingsFileTest, MissingEmptyOrHeaderOnlyFilesKeepTheDefaults) {
    EXPECT_EQ(kDefaults, Load());
    WriteRaw("");
    EXPECT_EQ(kDefaults, Load());
    WriteRaw("Pelorvane:1.0\r\n");
    EXPECT_EQ(kDefaults, Load());
}

TEST_F(SettingsFileTest, SavedFileHasTheHeaderAndCrLfLines) {
    ASSERT_TRUE(SaveSettingsFile(m_path, "Keys In", ""));
    EXPECT_EQ("Pelorvane:1.0\r\nInMidiDeviceName:Keys In\r\nOutMidiDeviceName:\r\n", ReadRaw());
    EXPECT_EQ(Names("Keys In", ""), Load());
}

TEST_F(SettingsFileTest, LinesAreReadAsTheFormatDescribes) {
    struct Case {
        const char* content;
        Names expected;
    };
    const Case cases[] = {
        {"OutMidiDeviceName:Synth\r\n", {"Digital Keyboard-1", "Synth"}},
        {"inmididevicename:Lower\n", {"Lower", "Digital Keyboard-1"}},
        {"InMidiDeviceName\r\n", {"", "Digital Keyboard-1"}},
        {"InMidiDeviceName:\r\n", {"", "Digital Keyboard-1"}},
        {"InMidiDeviceName::Two Colons\r\n", {"Two Colons", "Digital Keyboard-1"}},
        {"InMidiDeviceName: Spaced\r\n", {" Spaced", "Digital Keyboard-1"}},
        {"InMidiDeviceName:Cut\rOutMidiDeviceName\n", {"Cut", "Digital Keyboard-1"}},
        {"::\r\n\r\nOther:Value\nInMidiDeviceName:A\nInMidiDeviceName:B\n",
         {"B", "Digital Keyboard-1"}},
        {"Pelorvane:9.9\nOutMidiDeviceName:X\nInMidiDeviceName:Y", {"Y", "X"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        WriteRaw(c.content);
        EXPECT_EQ(c.expected, Load());
    }
}

TEST_F(SettingsFileTest, NamesWithColonsSurviveASaveAndALoad) {
    const Names names{"Digital Keyboard:Digital Keyboard MIDI 1", "a:b::c:"};
    ASSERT_TRUE(SaveSettingsFile(m_path, names.first, names.second));
    EXPECT_EQ(names, Load());
}

TEST_F(SettingsFileTest, JapaneseNamesSurviveUnderTheCLocale) {
    std::setlocale(LC_ALL, "C");
    const Names names{"電子ピアノ：入力", "内蔵シンセサイザー"};
    ASSERT_TRUE(SaveSettingsFile(m_path, names.first, names.second));
    EXPECT_NE(std::string::npos, ReadRaw().find("InMidiDeviceName:電子ピアノ：入力\r\n"));
    EXPECT_EQ(names, Load());
}

TEST_F(SettingsFileTest, ALineEndInsideANameCannotAddALine) {
    ASSERT_TRUE(SaveSettingsFile(m_path, "Evil\r\nOutMidiDeviceName:Injected", "Real"));
    EXPECT_EQ("Real", Load().second);
}

TEST_F(SettingsFileTest, AFailedSaveLeavesTheOldFileWhole) {
    ASSERT_TRUE(SaveSettingsFile(m_path, "Old In", "Old Out"));
    std::string before = ReadRaw();
    // A file size limit makes the write itself fail, also for root.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    bool saved_ok = SaveSettingsFile(m_path, std::string(100, 'n'), "New Out");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(before, ReadRaw());
    EXPECT_EQ(Names("Old In", "Old Out"), Load());
    EXPECT_EQ(1, std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()))
        << "no temporary file is left behind";
}

TEST_F(SettingsFileTest, SavingIntoAMissingFolderFails) {
    EXPECT_FALSE(SaveSettingsFile((m_dir / "no" / kSettingsFileName).string(), "a", "b"));
}

}  // namespace
