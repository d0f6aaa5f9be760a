// The ways of classifying a line's bytes (a byte at a time, SSE2, AVX2)
// against a plain reading of the bytes, and the scan that visits only the
// dots they point at against the literal references, on every path this
// CPU has: addresses at every lane of a 16- and 32-byte step and across the
// 64-byte words, near misses, and long stretches with nothing to find.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis/both_families_scanner.h"
#include "analysis/byte_classes.h"
#include "analysis/fakes.h"
#include "analysis/ipv4_scanner.h"
#include "analysis/ipv6_scanner.h"
#include "analysis/line_reader.h"
#include "fuzz/reference_scanner.h"
#include "fuzz/reference_scanner6.h"
#include "lookup/line_ends.h"

namespace {

using ipcountry::analysis::ByteMasks;
using ipcountry::analysis::ClassifyPath;

// Every path this build and CPU have, each named for the messages.
std::vector<std::pair<ClassifyPath, const char*>> availablePaths() {
    std::vector<std::pair<ClassifyPath, const char*>> paths;
    for (const auto& [path, name] :
         {std::pair{ClassifyPath::Portable, "portable"}, std::pair{ClassifyPath::Sse2, "sse2"},
          std::pair{ClassifyPath::Avx2, "avx2"}})
        if (ipcountry::analysis::classifyPathAvailable(path)) paths.emplace_back(path, name);
    return paths;
}

// Puts back the path in use when a test ends.
struct PathInUse {
    ClassifyPath saved = ipcountry::analysis::classifyPath();
    ~PathInUse() { ipcountry::analysis::useClassifyPath(saved); }
};

std::vector<ipcountry::reference::Found> rows4(std::string_view line) {
    std::vector<ipcountry::reference::Found> rows;
    ipcountry::analysis::Ipv4Scanner scanner;
    scanner.scanLine(line, [&](const ipcountry::analysis::FoundAddress& a) {
        EXPECT_EQ(line.substr(a.start, a.dottedText.size()), a.dottedText);
        rows.push_back({std::string(a.dottedText), std::string(a.portText), a.address});
    });
    return rows;
}

TEST(ScannerPaths, everyPathClassifiesAsAPlainReadingOfTheBytes) {
    PathInUse keep;
    std::mt19937 rng(3);
    const std::string alphabet = "0123456789.:/ a9:.\x80\xff`afgAFG@\xc1\xe1";
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        for (std::size_t size = 0; size <= 200; ++size) {
            // Exactly `size` bytes: a read past the line shows under ASan.
            const std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
            for (std::size_t i = 0; i < size; ++i) text[i] = alphabet[rng() % alphabet.size()];
            std::vector<ByteMasks> masks(ipcountry::analysis::maskWords(size) + 1,
                                         ByteMasks{~0ull, ~0ull, ~0ull, ~0ull});
            ipcountry::analysis::classifyBytes(text.get(), size, masks.data());
            for (std::size_t w = 0; w < ipcountry::analysis::maskWords(size); ++w) {
                ByteMasks expected;
                for (std::size_t i = w * 64; i < size && i < w * 64 + 64; ++i) {
                    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
                    if (text[i] >= '0' && text[i] <= '9') expected.digits |= bit;
                    if (text[i] == '.') expected.dots |= bit;
                    if (text[i] == ':') expected.colons |= bit;
                    if (std::isxdigit(static_cast<unsigned char>(text[i])) || text[i] == ':')
                        expected.runs |= bit;
                }
                ASSERT_EQ(masks[w].digits, expected.digits) << name << " size " << size;
                ASSERT_EQ(masks[w].dots, expected.dots) << name << " size " << size;
                ASSERT_EQ(masks[w].colons, expected.colons) << name << " size " << size;
                ASSERT_EQ(masks[w].runs, expected.runs) << name << " size " << size;
            }
            // Nothing written past the line's words.
            ASSERT_EQ(masks.back().digits, ~0ull) << name << " size " << size;
        }
    }
}

TEST(ScannerPaths, theMasksTellTheLinesThatMayHoldIpv6AsTheQuickLookDoes) {
    PathInUse keep;
    std::mt19937 rng(9);
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        ipcountry::analysis::LineClasses classes;
        for (int n = 0; n < 20000; ++n) {
            // Few colons, so that both answers are common; "::" across words.
            std::string line(rng() % 150, 'a');
            for (auto& c : line) c = rng() % 12 == 0 ? ':' : "ab1 "[rng() % 4];
            const ByteMasks* masks = classes.classify(line.data(), line.size());
            ASSERT_EQ(ipcountry::analysis::mayHoldIpv6(masks, line.size()),
                      ipcountry::analysis::detail6::mayHoldAddress(line))
                << name << ": " << line;
        }
    }
}

// One address at every offset of lines of each filler, so that its dots
// fall in every lane of a 16- and 32-byte step and on both sides of the
// 64-byte words; the fillers have no candidates (letters, long digit runs,
// dots alone) or near misses (version numbers, three octets).
TEST(ScannerPaths, anAddressAtEveryLaneGivesTheReferenceRows) {
    PathInUse keep;
    const std::string addresses[] = {
        "1.2.3.4",   "255.255.255.255:65535", "01.2.3.4567:80", "1.2.3.4.5.6.7", "999.1.1.1:8",
        "10.0.0.1:", "1.1.1.12.2.2.2"};
    const std::string fillers[] = {"x", "7", ".", "v1.2 ", "1.2.3 ", "1.2.", " 5.", ":"};
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        for (const auto& address : addresses) {
            for (const auto& filler : fillers) {
                for (std::size_t offset = 0; offset <= 140; ++offset) {
                    std::string line;
                    while (line.size() < offset) line += filler;
                    line.resize(offset);
                    line += address;
                    for (std::size_t tail = 0; tail < 70; tail += 23) {
                        std::string whole = line;
                        while (whole.size() < line.size() + tail) whole += filler;
                        whole.resize(line.size() + tail);
                        ASSERT_EQ(rows4(whole), ipcountry::reference::scanLine(whole))
                            << name << ": " << whole;
                    }
                }
            }
        }
    }
}

TEST(ScannerPaths, randomLinesAcrossWordsGiveTheReferenceRows) {
    PathInUse keep;
    const std::string alphabet = "0123456789012345....::: a/\t";
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        std::mt19937 rng(17);
        for (int n = 0; n < 40000; ++n) {
            std::string line(rng() % 300, ' ');
            for (auto& c : line) c = alphabet[rng() % alphabet.size()];
            ASSERT_EQ(rows4(line), ipcountry::reference::scanLine(line)) << name << ": " << line;
        }
    }
}

// Long stretches without a candidate, then addresses at their end, and an
// address right after each 64-byte word of dotted near misses.
TEST(ScannerPaths, longStretchesWithoutCandidatesGiveTheReferenceRows) {
    PathInUse keep;
    const std::string stretches[] = {std::string(70000, 'a'), std::string(70000, '9'),
                                     std::string(70000, '.'), std::string(70000, ':')};
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        for (const auto& stretch : stretches) {
            for (const std::string end : {"", "1.2.3.4", "1.2.3.4:8080 x 5.6.7.8", "1.2.3"}) {
                const std::string line = stretch + end;
                ASSERT_EQ(rows4(line), ipcountry::reference::scanLine(line))
                    << name << ": ..." << end;
            }
        }
        std::string nearMisses;
        for (int i = 0; i < 2000; ++i) nearMisses += i % 7 == 0 ? "10.1.2.3 " : "v1.22.3 a.b.c ";
        ASSERT_EQ(rows4(nearMisses), ipcountry::reference::scanLine(nearMisses)) << name;
    }
}

// A file read as the runs read it, in place through windows of two blocks:
// lines that fit a block are scanned whole from their masks, longer ones
// streamed in pieces; candidates fall on every block and window border
// as the block size varies. Both families give their references' rows.
TEST(ScannerPaths, linesAcrossBlocksAndWindowsGiveTheReferenceRows) {
    PathInUse keep;
    std::mt19937 rng(23);
    const std::string fragments[] = {"10.1.2.3",    ":8080",         " ",  ".",  "1.2.3.", "4", "x",
                                     "2001:db8::1", "[fe80::1]:443", "\n", "::", "55"};
    std::string content;
    for (int n = 0; n < 8000; ++n) content += fragments[rng() % std::size(fragments)];
    content += std::string(300, 'y') + "1.2.3.4\n";  // a line longer than the small blocks
    std::vector<std::string> expected;
    ipcountry::lookup::forEachLine(content, [&](std::string_view line) {
        const std::string text(line);
        for (const auto& f : ipcountry::reference::scanLine(text))
            expected.push_back("4 " + f.dotted + f.port);
        for (const auto& f : ipcountry::reference::scanLine6(text))
            expected.push_back("6 " + f.text + f.port);
    });
    ASSERT_GT(expected.size(), 1000u);
    ipcountry::analysis::testing::TempDir dir;
    const std::string path = dir.write("blocks.txt", content);
    for (const auto& [classify, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(classify);
        for (const std::size_t blockSize : {64u, 97u, 128u, 4096u}) {
            ipcountry::analysis::LineReader reader;
            reader.open(path, blockSize);
            ipcountry::analysis::BothFamiliesScanner scanner;
            std::vector<std::string> got4, got6, rows;
            const auto on4 = [&](const ipcountry::analysis::FoundAddress& a) {
                got4.push_back("4 " + std::string(a.dottedText) + std::string(a.portText));
            };
            const auto on6 = [&](const ipcountry::analysis::FoundAddress6& a) {
                got6.push_back("6 " + std::string(a.text) + std::string(a.portText));
            };
            std::string_view piece;
            bool lineEnds = false, starts = true;
            while (reader.next(piece, lineEnds) == ipcountry::analysis::LineReader::Next::Piece) {
                if (starts && lineEnds) {
                    scanner.scanLine(piece, on4, on6);
                } else {
                    scanner.feed(piece, on4, on6);
                    if (lineEnds) scanner.endLine(on4, on6);
                }
                starts = lineEnds;
                if (lineEnds) {
                    // A line's rows by family, as the references give them.
                    rows.insert(rows.end(), got4.begin(), got4.end());
                    rows.insert(rows.end(), got6.begin(), got6.end());
                    got4.clear();
                    got6.clear();
                }
            }
            EXPECT_EQ(rows, expected) << name << ", block size " << blockSize;
        }
    }
}

// Runs of hex digits and colons of every length across the 64-byte words:
// times, MAC addresses, long hex runs and addresses, where the whole-line
// scan decides from the masks which runs cannot hold an address.
TEST(ScannerPaths, hexAndColonRunsAcrossWordsGiveTheIpv6ReferenceRows) {
    PathInUse keep;
    const std::string fragments[] = {"00:1a:2b:3c:4d:5e",
                                     "13:06:56",
                                     "a:b",
                                     "1:2:3:4:5:6:7:8",
                                     "1::2",
                                     "deadbeef",
                                     ":",
                                     " ",
                                     "x",
                                     "2001:db8::1",
                                     "::",
                                     "fe80::1%eth0",
                                     "[1::2]:80",
                                     "1:2:3:4:5:6:7:8:9:a",
                                     "."};
    for (const auto& [path, name] : availablePaths()) {
        ipcountry::analysis::useClassifyPath(path);
        std::mt19937 rng(29);
        for (int n = 0; n < 20000; ++n) {
            std::string line;
            for (int k = 1 + static_cast<int>(rng() % 14); k > 0; --k)
                line += fragments[rng() % std::size(fragments)];
            std::vector<ipcountry::reference::Found6> got;
            ipcountry::analysis::BothFamiliesScanner scanner;
            scanner.scanLine(
                line, [](const ipcountry::analysis::FoundAddress&) {},
                [&](const ipcountry::analysis::FoundAddress6& a) {
                    got.push_back({std::string(a.text), std::string(a.portText), a.high, a.low,
                                   a.start, a.zoned});
                });
            ASSERT_EQ(got, ipcountry::reference::scanLine6(line)) << name << ": " << line;
        }
    }
}

}  // namespace
