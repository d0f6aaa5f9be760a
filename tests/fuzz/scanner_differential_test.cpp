// The fast free-text scanner against the literal reference, on random lines
// and on every input of the fuzz corpus (where found failures are kept), fed
// whole and cut into pieces wherever a cut can fall.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "analysis/fakes.h"
#include "analysis/ipv4_scanner.h"
#include "analysis/line_reader.h"
#include "fuzz/reference_scanner.h"
#include "lookup/line_ends.h"

namespace {

void expectSameRows(const std::string& line) {
    const auto fast = ipcountry::analysis::scanLine(line);
    const auto slow = ipcountry::reference::scanLine(line);
    ASSERT_EQ(fast.size(), slow.size()) << "line: " << line;
    for (std::size_t i = 0; i < fast.size(); ++i) {
        EXPECT_EQ(fast[i].dottedText, slow[i].dotted) << "line: " << line;
        EXPECT_EQ(fast[i].portText, slow[i].port) << "line: " << line;
        EXPECT_EQ(fast[i].address, slow[i].address) << "line: " << line;
    }
}

// The rows of `line` fed in the pieces that `cuts` (ascending offsets) make.
std::vector<ipcountry::reference::Found> scanInPieces(const std::string& line,
                                                      const std::vector<std::size_t>& cuts) {
    std::vector<ipcountry::reference::Found> rows;
    ipcountry::analysis::Ipv4Scanner scanner;
    const auto onAddress = [&](const ipcountry::analysis::FoundAddress& found) {
        // The start says where the text stands in the line.
        EXPECT_EQ(line.substr(found.start, found.dottedText.size()), found.dottedText);
        rows.push_back({std::string(found.dottedText), std::string(found.portText), found.address});
    };
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        scanner.feed(std::string_view(line).substr(from, cut - from), onAddress);
        from = cut;
    }
    scanner.feed(std::string_view(line).substr(from), onAddress);
    scanner.endLine(onAddress);
    return rows;
}

// Every single cut, then pieces of one character, then random pieces.
void expectSameRowsWhereverCut(const std::string& line, std::mt19937& rng) {
    const auto slow = ipcountry::reference::scanLine(line);
    for (std::size_t cut = 0; cut <= line.size(); ++cut)
        ASSERT_EQ(scanInPieces(line, {cut}), slow) << "cut at " << cut << " of: " << line;
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 1; cut < line.size(); ++cut) cuts.push_back(cut);
    ASSERT_EQ(scanInPieces(line, cuts), slow) << "one character a piece: " << line;
    for (int round = 0; round < 20; ++round) {
        cuts.clear();
        for (std::size_t cut = rng() % 24; cut < line.size(); cut += 1 + rng() % 24)
            cuts.push_back(cut);
        ASSERT_EQ(scanInPieces(line, cuts), slow) << "random pieces: " << line;
    }
}

// The reference itself must be right, or agreeing with it proves nothing.
TEST(ScannerDifferential, referenceGivesTheDocumentedRows) {
    struct Case {
        std::string line;
        std::string rows;  // "ip port; ip port"
    };
    const Case cases[] = {
        {"Connection from 10.0.0.1 refused", "10.0.0.1 ;"},
        {"a 1.2.3.4 :80", "1.2.3.4 :80;"},
        {"1.2.3.4  :80", "1.2.3.4 ;"},
        {"1.2.3.4:65535", "1.2.3.4 :65535;"},
        {"1.2.3.4:655351", "1.2.3.4 :65535;"},
        {"1.2.3.4:", "1.2.3.4 :;"},
        {"1.2.3.4:x", "1.2.3.4 ;"},
        {"1.1.1.12.2.2.2", "1.1.1.12 ;12.2.2.2 ;"},
        {"1.2.3.4.5.6.7", "1.2.3.4 ;4.5.6.7 ;"},
        {"999.1.1.1", "99.1.1.1 ;"},
        {"1.2.3.456:80", "1.2.3.45 :80;"},
        {"1.2.3.4567:80", "1.2.3.45 ;"},
        {"24.01.15 10.0.0.1", "10.0.0.1 ;"},
        {"1.abc 2.3.4", ""},
        {"300.300.300.300", ""},
        {"HTTP/1.1 200 from 10.1.2.3", "10.1.2.3 ;"},
        {"05:08:05.284925 [client 94.46.118.87:40286]", "94.46.118.87 :40286;"},
        {"release 1.2.3.", ""},
        {".5.6.7.8", "5.6.7.8 ;"},
    };
    for (const auto& c : cases) {
        std::string rows;
        for (const auto& f : ipcountry::reference::scanLine(c.line))
            rows += f.dotted + " " + f.port + ";";
        EXPECT_EQ(rows, c.rows) << c.line;
    }
}

TEST(ScannerDifferential, agreesWithTheReferenceOnRandomLines) {
    std::mt19937 rng(7);
    // Digits, dots and colons dominate so that addresses and near-misses are common.
    const std::string alphabet = "0123456789012345....::: a/\t";
    for (int n = 0; n < 200000; ++n) {
        std::string line(rng() % 40, ' ');
        for (auto& c : line) c = alphabet[rng() % alphabet.size()];
        expectSameRows(line);
        if (HasFailure()) return;
    }
}

// Cuts inside an octet, between an octet and its dot, inside a port and
// between a third dot and the characters it needs.
TEST(ScannerDifferential, streamingAgreesWithTheReferenceWhereverTheLineIsCut) {
    std::mt19937 rng(11);
    const std::string lines[] = {
        "05:08:05.284925 [client 94.46.118.87:40286] AH01630: client denied 10.1.2.3:65535",
        "1.1.1.12.2.2.2 1.2.3.4.5.6.7 999.1.1.1:8 1.2.3.4 :80 1.2.3.4  :80 1.2.3.4567:80",
        "HTTP/1.1 200 from 10.1.2.3 24.01.15 .5.6.7.8 release 1.2.3.",
        "255.255.255.255:0 010.001.0.7: 1.2.3.4:x 1.2.3.4:",
        "at 1.2.3.255 :65535 and 1.2.3.25 :6553 10.0.0.1:",
    };
    for (const auto& line : lines) {
        expectSameRowsWhereverCut(line, rng);
        if (HasFailure()) return;
    }
    const std::string alphabet = "0123456789012345....::: a/\t";
    for (int n = 0; n < 3000; ++n) {
        std::string line(rng() % 60, ' ');
        for (auto& c : line) c = alphabet[rng() % alphabet.size()];
        expectSameRowsWhereverCut(line, rng);
        if (HasFailure()) return;
    }
}

// Lines far longer than the reader's blocks, read from a file as the run
// reads them: pieces of long lines, CRLFs split between two reads.
TEST(ScannerDifferential, streamingThroughTheReaderAgreesWithTheReferenceOnLongLines) {
    std::mt19937 rng(5);
    const std::string fragments[] = {"10.1.2.3", ":8080", " ",    ".", "1.2.3.", "4",
                                     "x",        "999",   "\r\n", ":", "55"};
    std::string content;
    for (int n = 0; n < 6000; ++n) content += fragments[rng() % std::size(fragments)];
    std::vector<ipcountry::reference::Found> expected;
    ipcountry::lookup::forEachLine(content, [&](std::string_view line) {
        for (auto& found : ipcountry::reference::scanLine(std::string(line)))
            expected.push_back(found);
    });
    ASSERT_GT(expected.size(), 100u);

    ipcountry::analysis::testing::TempDir dir;
    const std::string path = dir.write("long.txt", content);
    for (const std::size_t blockSize : {16u, 17u, 19u, 23u, 64u, 1000u}) {
        ipcountry::analysis::LineReader reader;
        reader.open(path, blockSize);
        ipcountry::analysis::Ipv4Scanner scanner;
        std::vector<ipcountry::reference::Found> rows;
        const auto onAddress = [&](const ipcountry::analysis::FoundAddress& found) {
            rows.push_back(
                {std::string(found.dottedText), std::string(found.portText), found.address});
        };
        std::string_view piece;
        bool lineEnds = false;
        while (reader.next(piece, lineEnds) == ipcountry::analysis::LineReader::Next::Piece) {
            scanner.feed(piece, onAddress);
            if (lineEnds) scanner.endLine(onAddress);
        }
        EXPECT_EQ(rows, expected) << "block size " << blockSize;
    }
}

TEST(ScannerDifferential, agreesWithTheReferenceOnTheCorpus) {
    const std::filesystem::path corpus =
        std::filesystem::path(IPCOUNTRY_TEST_DATA_DIR) / "../fuzz/corpus/free_text_scan";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        expectSameRows(content.str());
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
