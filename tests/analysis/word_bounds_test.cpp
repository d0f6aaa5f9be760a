#include "analysis/word_bounds.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/both_families_scanner.h"

namespace ipcountry::analysis {
namespace {

// The addresses of `line` that stand alone, as "text@start", scanned whole.
std::vector<std::string> wholeLine(const std::string& line) {
    std::vector<std::string> taken;
    LineNeighbours around;
    around.see(line, true);
    scanLineBothFamilies(
        line,
        [&](const FoundAddress& f) {
            if (around.standsAlone(f))
                taken.push_back(std::string(f.dottedText) + "@" + std::to_string(f.start));
        },
        [&](const FoundAddress6& f) {
            if (around.standsAlone(f))
                taken.push_back(std::string(f.text) + "@" + std::to_string(f.start));
        });
    return taken;
}

// The same line fed in pieces of `size` bytes, as the reader hands on a
// line longer than its block.
std::vector<std::string> inPieces(const std::string& line, std::size_t size) {
    std::vector<std::string> taken;
    LineNeighbours around;
    BothFamiliesScanner scanner;
    const auto on4 = [&](const FoundAddress& f) {
        if (around.standsAlone(f))
            taken.push_back(std::string(f.dottedText) + "@" + std::to_string(f.start));
    };
    const auto on6 = [&](const FoundAddress6& f) {
        if (around.standsAlone(f))
            taken.push_back(std::string(f.text) + "@" + std::to_string(f.start));
    };
    for (std::size_t at = 0; at < line.size(); at += size) {
        const std::string piece = line.substr(at, size);  // gone once scanned
        around.see(piece, at == 0);
        scanner.feed(piece, on4, on6);
        if (at + size >= line.size())
            scanner.endLine(on4, on6);
        else
            around.keep();
    }
    return taken;
}

// Every byte a candidate may look at is seen wherever the pieces cut the line.
TEST(LineNeighbours, piecesOfEverySizeTakeWhatTheWholeLineTakes) {
    static const char* const kTokens[] = {
        "1.2.3.4",   "203.0.113.9", "9",        ".",    "x",   "7.", ":",        "2001:db8::1",
        "fe80::1",   " ",           "[",        "]",    "abc", "::", ".in-addr", ":80",
        "256.1.1.1", "-",           "10.0.0.1", "1.2.", "a.b", "::1"};
    std::mt19937 random(31);
    for (int round = 0; round < 40; ++round) {
        std::string line;
        while (line.size() < 600) line += kTokens[random() % std::size(kTokens)];
        const std::vector<std::string> want = wholeLine(line);
        for (const std::size_t size : {1, 2, 3, 5, 16, 63, 64, 65, 129, 200, 599}) {
            ASSERT_EQ(inPieces(line, size), want) << "pieces of " << size << " in: " << line;
        }
    }
}

// The bytes around a candidate, as the rule reads them (-1: the line's end).
struct Around {
    const char* name;
    int twoBefore, before, after, twoAfter;
    bool ipv4, ipv6;
};

TEST(WordBounds, neighboursDecideBothFamilies) {
    constexpr int E = word_bounds::kLineEnd;
    static const Around kCases[] = {
        {"alone on its line", E, E, E, E, true, true},
        {"blanks", ' ', ' ', ' ', ' ', true, true},
        {"a digit before", ' ', '9', ' ', ' ', false, false},
        {"a digit after", ' ', ' ', '9', ' ', false, false},
        {"a letter before", ' ', 'v', ' ', ' ', false, false},
        {"a letter after", ' ', ' ', ' ', 'x', true, true},
        {"glued to a letter after", ' ', ' ', 'x', ' ', false, false},
        {"an underscore", ' ', '_', ' ', ' ', false, false},
        {"a dotted number before", '5', '.', ' ', ' ', false, false},
        {"a dotted name before", 'x', '.', ' ', ' ', false, false},
        {"a dot at the line's start", E, '.', ' ', ' ', true, true},
        {"a dotted name after", ' ', ' ', '.', 'i', false, false},
        {"a dotted number after", ' ', ' ', '.', '5', false, false},
        {"a sentence's end", ' ', ' ', '.', E, true, true},
        {"a dot before a blank", ' ', ' ', '.', ' ', true, true},
        {"a port or a colon before", ' ', ':', ':', '8', true, false},
        {"a colon and a blank after", ' ', ' ', ':', ' ', true, true},
        {"a colon and a colon after", ' ', ' ', ':', ':', true, false},
        {"a colon and a hex letter after", ' ', ' ', ':', 'a', true, false},
        {"brackets", ' ', '[', ']', ':', true, true},
        {"a slash", 'T', '/', '/', '2', true, true},
        {"UTF-8 bytes", 0xC3, 0xBC, 0xC3, 0xBC, true, true},
    };
    for (const Around& c : kCases) {
        EXPECT_EQ(word_bounds::ipv4StandsAlone(c.twoBefore, c.before, c.after, c.twoAfter), c.ipv4)
            << c.name;
        EXPECT_EQ(word_bounds::ipv6StandsAlone(c.twoBefore, c.before, c.after, c.twoAfter), c.ipv6)
            << c.name;
    }
}

}  // namespace
}  // namespace ipcountry::analysis
