#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/state_file.h"
#include "temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

Lines Read(const std::string& bytes) {
    Lines lines;
    ReadTextLinesFromBuffer(bytes.data(), bytes.size(),
                            [&lines](const std::string& line) { lines.push_back(line); });
    return lines;
}

std::size_t CountChars(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) {
        n += (c & 0xC0) != 0x80;
    }
    return n;
}

std::string Repeat(const std::string& s, std::size_t n) {
    std::string out;
    while (n-- > 0) {
        out += s;
    }
    return out;
}

}  // namespace

TEST(TextFileRead, LineEndsEncodingsAndPieces) {
    // Empty lines count (instrument names take slots by line); a lone CR is text; a BOM is not.
    EXPECT_EQ(Read("\xEF\xBB\xBF"
                   "a\r\n\r\n\nb\nx\ry"),
              (Lines{"a", "", "", "b", "x\ry"}));
    EXPECT_EQ(Read(""), Lines{});
    // A CP932 line ("テスト") between UTF-8 lines; bytes that are neither read as Latin-1.
    EXPECT_EQ(Read("ピアノ\r\n\x83\x65\x83\x58\x83\x67\r\ncaf\xE9\r\n"),
              (Lines{"ピアノ", "テスト", "café"}));
    EXPECT_EQ(DecodeLegacyText("\xED\xA0\x80"), "í\u00A0\u0080");  // a surrogate is not UTF-8

    // Pieces count characters and never cut one; a line of exactly the limit is one piece.
    EXPECT_EQ(Read(Repeat("あ", kMaxLinePiece)).size(), 1u);
    std::string mixed = Repeat("a", kMaxLinePiece - 1) + "あb" + Repeat("𝄞", kMaxLinePiece);
    EXPECT_EQ(Read(mixed), (Lines{Repeat("a", kMaxLinePiece - 1) + "あ",
                                  "b" + Repeat("𝄞", kMaxLinePiece - 1), "𝄞"}));
    // A legacy line is decoded before it is cut.
    EXPECT_EQ(Read(Repeat("\x82\xa0", kMaxLinePiece + 1)),
              (Lines{Repeat("あ", kMaxLinePiece), "あ"}));
}

// Lines that hold paths are read whole, decoded line by line like the pieces.
TEST(TextFileRead, WholeLinesAreNeverCut) {
    const std::string longLine = Repeat("a", kMaxLinePiece) + Repeat("𝄞", kMaxLinePiece * 2);
    const std::string legacy = Repeat("\x82\xa0", kMaxLinePiece * 3);
    const std::string bytes = "\xEF\xBB\xBF" + longLine + "\r\n\r\n" + legacy + "\nlast";
    Lines lines;
    ReadWholeTextLinesFromBuffer(bytes.data(), bytes.size(),
                                 [&lines](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(lines, (Lines{longLine, "", Repeat("あ", kMaxLinePiece * 3), "last"}));

    TempDir dir;
    WriteBytes(dir.File("long.txt"), bytes);
    Lines fromFile;
    ASSERT_TRUE(ReadWholeTextLines(dir.File("long.txt"),
                                   [&fromFile](const std::string& l) { fromFile.push_back(l); }));
    EXPECT_EQ(fromFile, lines);
    EXPECT_FALSE(ReadWholeTextLines(dir.File("missing.txt"), [](const std::string&) { FAIL(); }));
}

TEST(TextFileRead, AnyBytesGiveValidShortPieces) {
    const std::string alphabet =
        "\r\n\x82\xa0\x83\x5c\xe3\x81\x82\xff\x80\xef\xbb\xbf"
        "ab\"";
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random() % (round % 10 == 0 ? 6000 : 60), ' ');
        for (char& c : bytes) {
            c = alphabet[random() % alphabet.size()];
        }
        ReadTextLinesFromBuffer(bytes.data(), bytes.size(), [](const std::string& piece) {
            ASSERT_TRUE(IsValidUtf8(piece));
            ASSERT_LE(CountChars(piece), kMaxLinePiece);
            ASSERT_EQ(piece.find('\n'), std::string::npos);
        });
    }
}

TEST(TextFileWrite, ReplacesWholeFileWithCrLfUtf8) {
    TempDir dir;
    EXPECT_FALSE(ReadTextLines(dir.File("missing.txt"), [](const std::string&) { FAIL(); }));
    EXPECT_FALSE(ReadTextLines(dir.Path(), [](const std::string&) { FAIL(); }));

    std::string real = dir.File("real.txt");
    WriteBytes(real, "old\r\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, dir.File("link.txt"));
    Lines lines{"\"/曲/ワルツ.mid\", \"ワルツ\",0x0003", "", "last"};
    ASSERT_TRUE(WriteTextFileAtomically(dir.File("link.txt"), lines));
    EXPECT_EQ(ReadBytes(real), lines[0] + "\r\n\r\nlast\r\n");
    Lines back;
    ASSERT_TRUE(ReadTextLines(real, [&back](const std::string& l) { back.push_back(l); }));
    EXPECT_EQ(back, lines);
    // The link, the file's permissions and nothing else stay in the folder.
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_TRUE(WriteTextFileAtomically(real, {}));
    EXPECT_EQ(ReadBytes(real), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST(TextFileWrite, FailedWriteLeavesOldFileWhole) {
    TempDir dir;
    std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    WriteBytes(locked + "/list.txt", "old line\r\n");
    ::chmod(locked.c_str(), 0555);
    EXPECT_FALSE(
        RunAsOrdinaryUser([&] { return WriteTextFileAtomically(locked + "/list.txt", {"new"}); }));
    EXPECT_EQ(ReadBytes(locked + "/list.txt"), "old line\r\n");
    ::chmod(locked.c_str(), 0755);

    // A read-only file is respected even where the folder would allow a rename over it.
    std::string open = dir.File("open");
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    WriteBytes(open + "/frozen.txt", "kept\r\n");
    ::chmod((open + "/frozen.txt").c_str(), 0444);
    EXPECT_FALSE(
        RunAsOrdinaryUser([&] { return WriteTextFileAtomically(open + "/frozen.txt", {"new"}); }));
    EXPECT_EQ(ReadBytes(open + "/frozen.txt"), "kept\r\n");

    // A folder in the file's place cannot be replaced, and no temporary file is left beside it.
    std::filesystem::create_directory(dir.File("blocked"));
    EXPECT_FALSE(WriteTextFileAtomically(dir.File("blocked"), {"x"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
    EXPECT_FALSE(WriteTextFileAtomically(dir.File("no/such/folder/file.txt"), {"x"}));
}

TEST(TextFileState, OnlyReadableRegularFilesOfASaneSizeAreReadOrReplaced) {
    TempDir dir;
    const auto none = [](const std::string&) { FAIL(); };
    // A FIFO, and a link to one, are neither read (that would wait for good) nor replaced.
    const std::string fifo = dir.File("songlist.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_symlink(fifo, dir.File("setting.txt"));
    EXPECT_TRUE(EndsWithoutAPeer(fifo, [&] { EXPECT_FALSE(ReadTextLines(fifo, none)); }));
    EXPECT_TRUE(EndsWithoutAPeer(
        fifo, [&] { EXPECT_FALSE(ReadWholeTextLines(dir.File("setting.txt"), none)); }));
    EXPECT_FALSE(WriteTextFileAtomically(fifo, {"x"}));
    EXPECT_FALSE(WriteTextFileAtomically(dir.File("setting.txt"), {"x"}));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("setting.txt")));
    std::filesystem::create_symlink("/dev/null", dir.File("device.txt"));
    EXPECT_FALSE(ReadTextLines(dir.File("device.txt"), none));

    // Far larger than any list: not read, and not replaced by what little was read of it.
    const std::string huge = dir.File("huge.txt");
    WriteBytes(huge, "\"/a.mid\", \"a\",0x0001\r\n");
    std::filesystem::resize_file(huge, kMaxTextFileBytes + 1);
    EXPECT_FALSE(ReadWholeTextLines(huge, none));
    EXPECT_FALSE(WriteTextFileAtomically(huge, {}));
    EXPECT_EQ(std::filesystem::file_size(huge), kMaxTextFileBytes + 1);

    // A file that may be written but not read keeps what it holds.
    const std::string open = dir.File("open");
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    const std::string hidden = open + "/songlist.txt";
    WriteBytes(hidden, "\"/a.mid\", \"a\",0x0001\r\n");
    ::chmod(hidden.c_str(), 0602);
    EXPECT_FALSE(RunAsOrdinaryUser([&] {
        return ReadWholeTextLines(hidden, [](const std::string&) {}) ||
               WriteTextFileAtomically(hidden, {});
    }));
    EXPECT_EQ(ReadBytes(hidden), "\"/a.mid\", \"a\",0x0001\r\n");
}
