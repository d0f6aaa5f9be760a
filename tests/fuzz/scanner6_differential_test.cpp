// The streaming IPv6 scanner against the whole-line reference, on random
// lines cut into pieces at every position; and both families together.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "analysis/both_families_scanner.h"
#include "analysis/ipv6_scanner.h"
#include "fuzz/reference_scanner.h"
#include "fuzz/reference_scanner6.h"

namespace {

using ipcountry::analysis::FoundAddress6;
using ipcountry::reference::Found6;

Found6 copyOf(const FoundAddress6& a) {
    return {std::string(a.text), std::string(a.portText), a.high, a.low, a.start, a.zoned};
}

// The rows of the line fed in the given pieces.
std::vector<Found6> streamed(const std::string& line, const std::vector<std::size_t>& cuts) {
    ipcountry::analysis::Ipv6Scanner scanner;
    std::vector<Found6> rows;
    const auto on = [&rows](const FoundAddress6& a) { rows.push_back(copyOf(a)); };
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        scanner.feed(std::string_view(line).substr(from, cut - from), on);
        from = cut;
    }
    scanner.feed(std::string_view(line).substr(from), on);
    scanner.endLine(on);
    return rows;
}

std::string describe(const std::vector<Found6>& rows) {
    std::string out;
    for (const auto& f : rows)
        out += f.text + (f.port.empty() ? "" : " " + f.port) + (f.zoned ? " zoned" : "") + "@" +
               std::to_string(f.start) + ";";
    return out;
}

std::vector<Found6> whole(const std::string& line) {
    std::vector<Found6> rows;
    ipcountry::analysis::scanLine6(line,
                                   [&rows](const FoundAddress6& a) { rows.push_back(copyOf(a)); });
    return rows;
}

// Whole (by the quick look first), fed as one piece, cut once at every
// position, and one character at a time.
void expectSameRows(const std::string& line) {
    const std::vector<Found6> expected = ipcountry::reference::scanLine6(line);
    ASSERT_EQ(whole(line), expected) << "whole line: " << line;
    ASSERT_EQ(describe(streamed(line, {})), describe(expected)) << "line: " << line;
    ASSERT_EQ(streamed(line, {}), expected) << "line: " << line;  // the values too
    std::vector<std::size_t> every;
    for (std::size_t cut = 1; cut < line.size(); ++cut) {
        ASSERT_EQ(streamed(line, {cut}), expected) << "cut at " << cut << ": " << line;
        every.push_back(cut);
    }
    ASSERT_EQ(streamed(line, every), expected) << "one by one: " << line;
}

// The reference itself must be right, or agreeing with it proves nothing:
// each text form and each kind of boundary.
TEST(Scanner6Differential, referenceGivesTheDocumentedRows) {
    const struct {
        std::string line;
        std::string rows;
    } cases[] = {
        {"from 2001:db8::1 port 22", "2001:db8::1@5;"},
        {"2001:0DB8:0000:0000:0000:ff00:0042:8329", "2001:0DB8:0000:0000:0000:ff00:0042:8329@0;"},
        {"::1 and 1:: and 1:2:3:4:5:6:7::", "::1@0;1::@8;1:2:3:4:5:6:7::@16;"},
        {"[2001:db8::1]:8080 GET", "2001:db8::1 :8080@1;"},
        {"[2001:db8::1]:654321", "2001:db8::1 :65432@1;"},
        {"[2001:db8::1]:", "2001:db8::1 :@1;"},
        {"[2001:db8::1]:x [::2] :80", "2001:db8::1@1;::2@17;"},
        {"client 2001:db8::7. Next", "2001:db8::7@7;"},
        {"refused 2001:db8::7: reset", "2001:db8::7@8;"},
        {"ends 2001:db8::7.", "2001:db8::7@5;"},
        {"fe80::1%eth0 up", "fe80::1 zoned@0;"},
        {"[fe80::1%25]:22", "fe80::1 zoned@1;"},
        {"fe80::1% done", "fe80::1@0;"},
        {"::ffff:192.0.2.1 and 64:ff9b::10.0.0.1", ""},
        {"at 13:06:56 mac 00:1a:2b:3c:4d:5e 00-1a-2b-3c-4d-5e", ""},
        {":: and ::: and std::vector, foo::bar, dead::beefy x_1::2", ""},
        {"key:2001:db8::1 v1.2::3 1:2:3:4:5:6:7:8:9 12345::1", ""},
        {"(2001:db8::a),<2001:db8::b>;2001:db8::c/64",
         "2001:db8::a@1;2001:db8::b@15;2001:db8::c@28;"},
        {"2001:db8:0:0:0:0:0:1:", "2001:db8:0:0:0:0:0:1@0;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(ipcountry::reference::scanLine6(c.line)), c.rows) << c.line;
}

// Lines from the fragments real logs and code are made of, so that
// addresses, near-misses and every boundary meet often.
std::string randomLine(std::mt19937& rng) {
    static const std::vector<std::string> fragments = {"2001:db8::1",
                                                       "2001:DB8:0:0:8:800:200C:417A",
                                                       "2001:0db8:0000:0000:0000:ff00:0042:8329",
                                                       "fe80::1",
                                                       "::1",
                                                       "1::",
                                                       "::",
                                                       ":::",
                                                       "2a02:1810:4d02:8100::2",
                                                       "0:0:0:0:0:0:0:1",
                                                       "1:2:3:4:5:6:7:8",
                                                       "1:2:3:4:5:6:7::",
                                                       "::ffff:",
                                                       "192.0.2.1",
                                                       "10.0.0.1",
                                                       "1.2.3.4:80",
                                                       "13:06:56",
                                                       "13:06:56.284",
                                                       "00:1a:2b:3c:4d:5e",
                                                       "00-1a-2b-3c-4d-5e",
                                                       "std::",
                                                       "foo::bar",
                                                       "cafe",
                                                       "beef",
                                                       "12345",
                                                       "[",
                                                       "]",
                                                       "]:",
                                                       "[2001:db8::2]:443",
                                                       "[::1]:",
                                                       "]:8080",
                                                       "[fe80::1%eth0]:22",
                                                       ":",
                                                       "::",
                                                       ".",
                                                       "%",
                                                       "%eth0",
                                                       "_",
                                                       "g",
                                                       "x",
                                                       " ",
                                                       " ",
                                                       " ",
                                                       "\t",
                                                       "/64",
                                                       ",",
                                                       ";",
                                                       "(",
                                                       ")",
                                                       "<",
                                                       ">",
                                                       "=",
                                                       "0",
                                                       "a",
                                                       "F",
                                                       "443",
                                                       "65535",
                                                       "8080",
                                                       "-",
                                                       "..",
                                                       "\r"};
    std::string line;
    const std::size_t count = rng() % 12;
    for (std::size_t i = 0; i < count; ++i) line += fragments[rng() % fragments.size()];
    return line;
}

TEST(Scanner6Differential, agreesWithTheReferenceInEveryCutOfRandomLines) {
    std::mt19937 rng(11);
    for (int n = 0; n < 10000; ++n) {
        expectSameRows(randomLine(rng));
        if (HasFatalFailure()) return;
    }
}

void expectBothFamiliesInOrder();

// Both families in one pass: each family's rows are its reference's, and
// together they follow the order of their starts, whatever the pieces; a
// whole line at once (as most lines come) gives the same.
TEST(Scanner6Differential, bothFamiliesKeepTheirReferenceRowsInOrderOfStart) {
    const ipcountry::analysis::ClassifyPath saved = ipcountry::analysis::classifyPath();
    // Whole lines are classified once for both families: on every path.
    for (const auto path :
         {ipcountry::analysis::ClassifyPath::Portable, ipcountry::analysis::ClassifyPath::Sse2,
          ipcountry::analysis::ClassifyPath::Avx2}) {
        if (!ipcountry::analysis::classifyPathAvailable(path)) continue;
        ipcountry::analysis::useClassifyPath(path);
        expectBothFamiliesInOrder();
        if (HasFatalFailure()) break;
    }
    ipcountry::analysis::useClassifyPath(saved);
}

void expectBothFamiliesInOrder() {
    std::mt19937 rng(5);
    for (int n = 0; n < 3000; ++n) {
        std::string line;
        for (int k = 0; k < 6; ++k) line += randomLine(rng);
        const auto rows4 = ipcountry::reference::scanLine(line);
        const auto rows6 = ipcountry::reference::scanLine6(line);
        // 0: the whole line at once; else the size of the pieces.
        for (std::size_t step : {std::size_t{0}, line.size() + 1, std::size_t{1}, std::size_t{7}}) {
            ipcountry::analysis::BothFamiliesScanner scanner;
            std::vector<std::string> got4;
            std::vector<Found6> got6;
            std::vector<std::uint64_t> starts;
            const auto on4 = [&](const ipcountry::analysis::FoundAddress& a) {
                got4.push_back(std::string(a.dottedText) + " " + std::string(a.portText));
                starts.push_back(a.start);
            };
            const auto on6 = [&](const FoundAddress6& a) {
                got6.push_back(copyOf(a));
                starts.push_back(a.start);
            };
            if (step == 0) {
                scanner.scanLine(line, on4, on6);
            } else {
                for (std::size_t from = 0; from < line.size(); from += step)
                    scanner.feed(std::string_view(line).substr(from, step), on4, on6);
                scanner.endLine(on4, on6);
            }
            std::vector<std::string> expected4;
            for (const auto& r : rows4) expected4.push_back(r.dotted + " " + r.port);
            ASSERT_EQ(got4, expected4) << "step " << step << ": " << line;
            ASSERT_EQ(got6, rows6) << "step " << step << ": " << line;
            ASSERT_TRUE(std::is_sorted(starts.begin(), starts.end())) << line;
        }
    }
}

}  // namespace
