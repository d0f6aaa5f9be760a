#include "analysis/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "lookup/error.h"

namespace ipcountry::analysis {
namespace {

using testing::TempDir;

// The lines, their pieces joined; no piece may be larger than the reader's two blocks.
std::vector<std::string> readAll(const std::string& path, std::size_t blockSize) {
    LineReader reader;
    reader.open(path, blockSize);
    std::vector<std::string> lines;
    std::string_view piece;
    bool lineEnds = false;
    bool lineStarts = true;
    while (reader.next(piece, lineEnds) == LineReader::Next::Piece) {
        EXPECT_LE(piece.size(), 2 * std::max<std::size_t>(blockSize, 16));
        if (lineStarts) lines.emplace_back();
        lines.back() += piece;
        lineStarts = lineEnds;
    }
    return lines;
}

struct LineCase {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
};

class LineEndsTest : public ::testing::TestWithParam<LineCase> {};

// Every case is read with blocks of several sizes, so that line ends (a CRLF
// split between two blocks above all) fall on every block boundary.
TEST_P(LineEndsTest, splitsLinesTheSameWayForEveryBlockSize) {
    const LineCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write("input.txt", c.content);
    for (const std::size_t blockSize : {16u, 17u, 18u, 19u, 64u, 1u << 20}) {
        EXPECT_EQ(readAll(path, blockSize), c.lines) << "block size " << blockSize;
    }
}

const std::string kLong(100, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, LineEndsTest,
    ::testing::Values(LineCase{"empty", "", {}}, LineCase{"crlf", "one\r\ntwo\r\n", {"one", "two"}},
                      LineCase{"lf", "one\ntwo\n", {"one", "two"}},
                      LineCase{"cr", "one\rtwo\r", {"one", "two"}},
                      LineCase{"mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
                      LineCase{"noFinalLineEnd", "one\r\ntwo", {"one", "two"}},
                      LineCase{"emptyLines", "\r\n\n\r\r\nx", {"", "", "", "", "x"}},
                      LineCase{"lfThenCrIsTwoEnds", "a\n\rb", {"a", "", "b"}},
                      LineCase{"onlyLineEnd", "\r\n", {""}},
                      LineCase{"crlfAroundBlockEdge",
                               std::string(15, 'a') + "\r\n" + std::string(15, 'b') + "\r\nc",
                               {std::string(15, 'a'), std::string(15, 'b'), "c"}},
                      LineCase{"lineLongerThanBlocks",
                               kLong + "\r\n" + kLong + kLong + "\r" + "tail",
                               {kLong, kLong + kLong, "tail"}},
                      LineCase{"eightBitAndNul",
                               std::string("caf\xE9\0x\r\n", 8),
                               {std::string("caf\xE9\0x", 6)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineReader, reportsEachKindOfUnopenableFile) {
    TempDir dir;
    struct Case {
        std::string path;
        lookup::ErrorKind kind;
    };
    const Case cases[] = {
        {"", lookup::ErrorKind::FileNotFound},
        {(dir.path() / "missing.txt").string(), lookup::ErrorKind::FileNotFound},
        {(dir.path() / "missing" / "x.txt").string(), lookup::ErrorKind::FileNotFound},
        {dir.path().string(), lookup::ErrorKind::FileUnreadable},
    };
    for (const Case& c : cases) {
        LineReader reader;
        try {
            reader.open(c.path);
            ADD_FAILURE() << "opened " << c.path;
        } catch (const lookup::Error& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.path;
            EXPECT_NE(std::string(error.what()), "") << c.path;
        }
    }
}

TEST(LineReader, usesThePathExactlyAsTyped) {
    TempDir dir;
    dir.write("list.txt", "x\r\n");
    LineReader reader;
    EXPECT_THROW(reader.open((dir.path() / "list.txt ").string()), lookup::Error);
    EXPECT_THROW(reader.open(" " + (dir.path() / "list.txt").string()), lookup::Error);
    EXPECT_NO_THROW(reader.open((dir.path() / "list.txt").string()));
}

TEST(LineReader, reportsProgressOncePerBlockNotPerLine) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 1000; ++i) content += "line\r\n";
    LineReader reader;
    reader.open(dir.write("input.txt", content), 1024);
    int blocks = 0, lines = 0;
    std::string_view line;
    bool lineEnds = false;
    while (reader.next(line, lineEnds) == LineReader::Next::Piece) {
        ++lines;
        blocks += reader.blockWasRead() ? 1 : 0;
    }
    EXPECT_EQ(lines, 1000);
    EXPECT_GE(blocks, 5);
    EXPECT_LE(blocks, 8);
    EXPECT_EQ(reader.bytesRead(), content.size());
    EXPECT_EQ(reader.fileSize(), content.size());
}

}  // namespace
}  // namespace ipcountry::analysis
