#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
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
    for (std::size_t i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

}  // namespace

TEST(TextFileRead, LineEndsAndEmptyLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Lines("a\r\nb\nc"), (V{"a", "b", "c"}));
    // An empty line is a line of its own (instrument names count them); the final line end
    // does not start another line.
    EXPECT_EQ(Lines("a\r\n\r\n\nb\r\n"), (V{"a", "", "", "b"}));
    EXPECT_EQ(Lines(""), V{});
    // A CR that is not part of a line end stays in the text.
    EXPECT_EQ(Lines("x\ry\r\n"), V{"x\ry"});
    // A byte order mark from a Windows editor is not text of the first line.
    EXPECT_EQ(Lines("\xEF\xBB\xBF"
                    "first\r\nsecond"),
              (V{"first", "second"}));
}

TEST(TextFileRead, LegacyLinesDecodeAsCp932OthersStayUtf8) {
    // "テスト" in CP932 between two UTF-8 lines, one of which would also be valid CP932 bytes.
    std::string bytes = "ピアノ\r\n\x83\x65\x83\x58\x83\x67\r\nabc\r\n";
    EXPECT_EQ(Lines(bytes), (std::vector<std::string>{"ピアノ", "テスト", "abc"}));

    EXPECT_EQ(DecodeLegacyText("\x83\x65\x83\x58\x83\x67"), "テスト");
    EXPECT_EQ(DecodeLegacyText("\x82\xa0"), "あ");
    // Neither UTF-8 nor CP932 (a lead byte without its trail byte): read as Latin-1.
    EXPECT_EQ(DecodeLegacyText("caf\xE9"), "café");
    EXPECT_EQ(DecodeLegacyText("\xFF"), "ÿ");
    EXPECT_EQ(DecodeLegacyText("plain"), "plain");
}

TEST(TextFileRead, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("ascii あ 𝄞"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE3\x81"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\x80"));              // stray continuation
}

TEST(TextFileRead, LongLinesArriveInPiecesOfWholeCharacters) {
    // Exactly the limit: one piece.
    std::string exact = Repeat("あ", kMaxLinePiece);
    std::vector<std::string> pieces = Lines(exact + "\r\nnext\r\n");
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], exact);

    // Pieces count characters, not bytes, and never cut a multi-byte character.
    std::string mixed = Repeat("a", kMaxLinePiece - 1) + "あ" + "b" + Repeat("𝄞", kMaxLinePiece);
    pieces = Lines(mixed);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], Repeat("a", kMaxLinePiece - 1) + "あ");
    EXPECT_EQ(pieces[1], "b" + Repeat("𝄞", kMaxLinePiece - 1));
    EXPECT_EQ(pieces[2], "𝄞");
    std::string joined;
    for (const std::string& piece : pieces) {
        EXPECT_TRUE(IsValidUtf8(piece));
        EXPECT_LE(CountChars(piece), kMaxLinePiece);
        joined += piece;
    }
    EXPECT_EQ(joined, mixed);

    // A legacy line is decoded first, then cut by its decoded characters.
    std::string legacy = Repeat("\x82\xa0", kMaxLinePiece + 1);
    pieces = Lines(legacy);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], Repeat("あ", kMaxLinePiece));
    EXPECT_EQ(pieces[1], "あ");
}

TEST(TextFileRead, AnyBytesGiveValidShortPieces) {
    // Line ends, CP932 lead bytes, UTF-8 fragments and plain text mixed at random.
    const std::string alphabet =
        "\r\n\x82\xa0\x83\x5c\xe3\x81\x82\xff\x80\xef\xbb\xbf"
        "ab\"";
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        std::size_t length = random() % (round % 10 == 0 ? 6000 : 60);
        for (std::size_t i = 0; i < length; ++i) {
            bytes += alphabet[random() % alphabet.size()];
        }
        std::size_t lineEnds = 0;
        for (char c : bytes) {
            lineEnds += c == '\n';
        }
        std::size_t pieces = 0;
        ReadTextLinesFromBuffer(bytes.data(), bytes.size(), [&](const std::string& piece) {
            ++pieces;
            ASSERT_TRUE(IsValidUtf8(piece));
            ASSERT_LE(CountChars(piece), kMaxLinePiece);
            ASSERT_EQ(piece.find('\n'), std::string::npos);
        });
        EXPECT_GE(pieces, lineEnds);
    }
}

TEST(TextFileRead, UnopenableFilesCallNothing) {
    TempDir dir;
    int calls = 0;
    auto count = [&calls](const std::string&) { ++calls; };
    EXPECT_FALSE(ReadTextLines(dir.File("missing.txt"), count));
    EXPECT_FALSE(ReadTextLines(dir.Path(), count));
    EXPECT_EQ(calls, 0);

    WriteBytes(dir.File("one.txt"), "only\n");
    EXPECT_TRUE(ReadTextLines(dir.File("one.txt"), count));
    EXPECT_EQ(calls, 1);
}

TEST(TextFileWrite, WritesCrLfUtf8AndReadsBack) {
    TempDir dir;
    std::string path = dir.File("out.txt");
    std::vector<std::string> lines{"\"/曲/ワルツ.mid\", \"ワルツ\",0x0003", "", "last"};
    ASSERT_TRUE(WriteTextFileAtomically(path, lines));
    EXPECT_EQ(ReadBytes(path), lines[0] + "\r\n\r\nlast\r\n");

    std::vector<std::string> back;
    ASSERT_TRUE(ReadTextLines(path, [&back](const std::string& l) { back.push_back(l); }));
    EXPECT_EQ(back, lines);

    // Replacing with nothing leaves an empty file, and no temporary file stays behind.
    ASSERT_TRUE(WriteTextFileAtomically(path, {}));
    EXPECT_EQ(ReadBytes(path), "");
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(TextFileWrite, KeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    std::string real = dir.File("real.txt");
    std::string link = dir.File("link.txt");
    WriteBytes(real, "old\r\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);

    ASSERT_TRUE(WriteTextFileAtomically(link, {"new"}));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TextFileWrite, FailedWriteLeavesOldFileWhole) {
    TempDir dir;
    std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    std::string path = folder + "/list.txt";
    WriteBytes(path, "old line\r\n");

    bool written = RunWithoutWriteAccess(
        folder, [&path] { return WriteTextFileAtomically(path, {"new line"}); });
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), "old line\r\n");

    // A directory in the file's place cannot be replaced; nothing is left beside it.
    std::string blocked = dir.File("blocked");
    std::filesystem::create_directory(blocked);
    WriteBytes(blocked + "/inside", "x");
    EXPECT_FALSE(WriteTextFileAtomically(blocked, {"x"}));
    EXPECT_EQ(ReadBytes(blocked + "/inside"), "x");
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);  // "locked" and "blocked" only

    EXPECT_FALSE(WriteTextFileAtomically(dir.File("no/such/folder/file.txt"), {"x"}));
}

TEST(TextFileWrite, ReadOnlyFileIsNotReplaced) {
    TempDir dir;
    std::string folder = dir.File("open");
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    std::string path = folder + "/frozen.txt";
    WriteBytes(path, "kept\r\n");
    ::chmod(path.c_str(), 0444);
    // The folder would allow a rename over it; the user's read-only mark is respected instead.
    EXPECT_FALSE(RunAsOrdinaryUser([&path] { return WriteTextFileAtomically(path, {"new"}); }));
    EXPECT_EQ(ReadBytes(path), "kept\r\n");
}
