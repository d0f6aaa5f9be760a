#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/chunked_rows.h"
#include "ui/packed_text.h"

namespace ipcountry::ui {
namespace {

// --- packed texts ---

// What may be packed, said once more in the test's own words.
const std::string kPackable = "0123456789.:-/ ";

template <class Int>
bool fitsIn(const std::string& text) {
    return text.size() <= 2 * sizeof(Int) && text.find_first_not_of(kPackable) == std::string::npos;
}

template <class Int>
void expectPacksExactlyWhenItMay(const std::string& text) {
    Int packed = 0;
    const bool didPack = packed::pack(text, packed);
    ASSERT_EQ(didPack, fitsIn<Int>(text)) << "'" << text << "' (" << text.size() << " bytes)";
    if (didPack) {
        std::string back;
        packed::appendUnpacked(packed, back);
        EXPECT_EQ(back, text);
    }
}

struct PackCase {
    const char* name;
    std::string alphabet;   // drawn from at random
    std::string intruders;  // one of them put at every place in turn ("" for none)
};

// The characters next to the packed range ('-' is 0x2D, ':' 0x3A) and those
// that differ from a packed one only in the high bit are where a range check
// done eight bytes at a time goes wrong.
const PackCase kPackCases[] = {
    {"digitsAndDots", "0123456789.", ""},
    {"everyPackedCharacter", "0123456789.:-/ ", ""},
    {"ipv6Hex", "0123456789abcdef:", ""},
    {"neighboursOfTheRange", "0123456789.: ", ",;+*!\x1F"},
    {"highBitTwins", "0123456789.:", std::string("\xAD\xAE\xB0\xB9\xBA\xA0\x80\xFF", 8)},
    {"controlAndNul", "0123456789.", std::string("\0\t\r\n\x7F", 5)},
};

void PrintTo(const PackCase& c, std::ostream* out) { *out << c.name; }

class PackedText : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackedText, packsWhatFitsAndReadsItBackByteForByte) {
    const PackCase& c = GetParam();
    std::mt19937 random(20240115);
    for (std::size_t length = 0; length <= 18; ++length) {
        for (int draw = 0; draw < 40; ++draw) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) {
                text.push_back(c.alphabet[random() % c.alphabet.size()]);
            }
            expectPacksExactlyWhenItMay<std::uint64_t>(text);
            expectPacksExactlyWhenItMay<std::uint32_t>(text);
            for (std::size_t at = 0; at < length && !c.intruders.empty(); ++at) {
                std::string spoilt = text;
                spoilt[at] = c.intruders[random() % c.intruders.size()];
                expectPacksExactlyWhenItMay<std::uint64_t>(spoilt);
                expectPacksExactlyWhenItMay<std::uint32_t>(spoilt);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packing, PackedText, ::testing::ValuesIn(kPackCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The text lies inside a longer buffer, as an address lies in its line: only
// its own bytes count.
TEST(PackedText, readsNothingOfTheBytesAroundTheText) {
    const std::string line = "x1.2.3.4:80:1.2.3.4y";
    for (std::size_t from = 0; from < line.size(); ++from) {
        for (std::size_t size = 0; from + size <= line.size(); ++size) {
            const std::string text = line.substr(from, size);
            std::uint64_t inLine = 0;
            std::uint64_t alone = 0;
            const bool packedInLine =
                packed::pack(std::string_view(line).substr(from, size), inLine);
            ASSERT_EQ(packedInLine, packed::pack(text, alone)) << text;
            if (packedInLine) {
                EXPECT_EQ(inLine, alone) << text;
            }
        }
    }
}

// --- chunked rows ---

// A row that counts the live ones, so that a row destroyed twice or never shows.
struct CountedRow {
    static inline int live = 0;
    std::string text;
    explicit CountedRow(std::string t) : text(std::move(t)) { ++live; }
    CountedRow(CountedRow&& other) noexcept : text(std::move(other.text)) { ++live; }
    CountedRow& operator=(CountedRow&& other) noexcept {
        text = std::move(other.text);
        return *this;
    }
    ~CountedRow() { --live; }
};

struct ChunkCase {
    const char* name;
    int appends;
    int insertAt;    // -1: none
    int truncateTo;  // -1: none
    int appendsAfter;
};

// Three rows a chunk: every operation meets a chunk border somewhere.
const ChunkCase kChunkCases[] = {
    {"empty", 0, -1, -1, 0},
    {"oneChunkFull", 3, -1, -1, 0},
    {"intoTheSecondChunk", 4, -1, -1, 0},
    {"insertAtTheFront", 7, 0, -1, 0},
    {"insertAtAChunkBorder", 7, 3, -1, 0},
    {"insertAtTheEnd", 6, 6, -1, 0},
    {"truncateToAChunkBorderThenGrow", 10, -1, 6, 5},
    {"truncateInsideAChunkThenGrow", 10, -1, 4, 8},
    {"truncateToNothingThenGrow", 9, -1, 0, 4},
    {"insertThenTruncate", 8, 2, 5, 1},
};

void PrintTo(const ChunkCase& c, std::ostream* out) { *out << c.name; }

class ChunkedRowsOps : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkedRowsOps, holdTheSameRowsAsAVector) {
    const ChunkCase& c = GetParam();
    CountedRow::live = 0;
    {
        ChunkedRows<CountedRow, 3> rows;
        std::vector<std::string> reference;
        int next = 0;
        const auto append = [&](int count) {
            for (int i = 0; i < count; ++i, ++next) {
                rows.push_back(CountedRow("row " + std::to_string(next)));
                reference.push_back("row " + std::to_string(next));
            }
        };
        append(c.appends);
        if (c.insertAt >= 0) {
            rows.insert(static_cast<std::size_t>(c.insertAt), CountedRow("inserted"));
            reference.insert(reference.begin() + c.insertAt, "inserted");
        }
        if (c.truncateTo >= 0) {
            rows.truncate(static_cast<std::size_t>(c.truncateTo));
            reference.resize(static_cast<std::size_t>(c.truncateTo));
        }
        append(c.appendsAfter);

        ASSERT_EQ(rows.size(), reference.size());
        for (std::size_t i = 0; i < reference.size(); ++i) {
            EXPECT_EQ(rows[i].text, reference[i]) << "row " << i;
        }
        EXPECT_EQ(CountedRow::live, static_cast<int>(reference.size()));
    }
    EXPECT_EQ(CountedRow::live, 0) << "every row destroyed once";
}

INSTANTIATE_TEST_SUITE_P(ChunkedRows, ChunkedRowsOps, ::testing::ValuesIn(kChunkCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ipcountry::ui
