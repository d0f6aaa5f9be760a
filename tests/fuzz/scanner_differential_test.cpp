// The fast free-text scanner against the literal reference, on random lines
// and on every input of the fuzz corpus (where found failures are kept).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "analysis/free_text_scan.h"
#include "fuzz/reference_scanner.h"

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
        for (const auto& f : ipcountry::reference::scanLine(c.line)) rows += f.dotted + " " + f.port + ";";
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

TEST(ScannerDifferential, agreesWithTheReferenceOnTheCorpus) {
    const std::filesystem::path corpus = std::filesystem::path(IPCOUNTRY_TEST_DATA_DIR) / "../fuzz/corpus/free_text_scan";
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
