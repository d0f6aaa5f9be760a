#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "fakes.h"

namespace ipcountry::analysis {
namespace {

using testing::Fixture;
using testing::kExampleRanges;
using testing::Row;

// A line in no address form has no description of its own.
const std::string kBlankPrompt;

TEST(FormattedList, workedExampleGivesRowsCountsAndPrompts) {
    Fixture f(kExampleRanges);
    const RunResult result = f.formatted(
        "10.1.2.3:8080\r\n11.0.0.9:25\r\n12.0.0.1:443\r\n5.6.7.8:21\r\n1.2.3.4\r\n1.2.3.999:"
        "80\r\n");

    EXPECT_EQ(result.status, RunStatus::Completed);
    // 12.0.0.1 lies in no range: it gets no row rather than the previous
    // line's country; 5.6.7.8 has a code that no slot holds.
    const std::vector<Row> expected{{"10.1.2.3", ":8080", "Germany", 0},
                                    {"11.0.0.9", ":25", "USA", 222}};
    EXPECT_EQ(f.grid.rows, expected);
    EXPECT_EQ(result.rowsAdded, 2);
    EXPECT_EQ(f.table.slotHits(0), 1);
    EXPECT_EQ(f.table.slotHits(222), 1);
    EXPECT_EQ(f.table.totalHits(), 2);
    EXPECT_EQ(f.prompter.questions, (std::vector<std::string>{kBlankPrompt, kBlankPrompt}));
    EXPECT_EQ(f.prompter.questionLines, (std::vector<std::int64_t>{5, 6}));
    EXPECT_EQ(result.elapsed, std::chrono::seconds(2));
}

struct LineCase {
    const char* name;
    std::string line;
    std::vector<Row> rows;  // empty: the line fails or adds nothing
    bool prompts;
};

std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.name; }

class FormattedLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(FormattedLineTest, handlesTheLine) {
    const LineCase& c = GetParam();
    Fixture f(kExampleRanges);
    f.dir.write("IP6_db.dbf", testing::kExample6Ranges);
    const RunResult result = f.formatted(c.line + "\r\n");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_EQ(f.grid.rows, c.rows);
    EXPECT_EQ(f.prompter.questions.size(), c.prompts ? 1u : 0u);
    EXPECT_EQ(f.table.totalHits(), static_cast<std::int64_t>(c.rows.size()));
}

// One case a line:
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Lines, FormattedLineTest,
    ::testing::Values(
        LineCase{"laterColonsBelongToPort", "10.1.2.3:8080:9", {{"10.1.2.3", ":8080:9", "Germany", 0}}, false},
        LineCase{"colonAlone", "10.1.2.3:", {{"10.1.2.3", ":", "Germany", 0}}, false},
        LineCase{"tabsRemovedEverywhere", "\t10.1.\t2.3\t:\t80\t80", {{"10.1.2.3", ":8080", "Germany", 0}}, false},
        // Each line loses its own TABs only: nothing of the line before stays.
        LineCase{"tabsInConsecutiveLines", "10.1.2.3\t:80\r\n10.1.2.4\t:81\r\n\t11.0.0.9:2\t5",
                 {{"10.1.2.3", ":80", "Germany", 0}, {"10.1.2.4", ":81", "Germany", 0}, {"11.0.0.9", ":25", "USA", 222}},
                 false},
        LineCase{"blankBeforeColonKept", "10.1.2.3 :80", {{"10.1.2.3 ", ":80", "Germany", 0}}, false},
        LineCase{"fifthPartShownButIgnored", "10.1.2.3.77:8080", {{"10.1.2.3.77", ":8080", "Germany", 0}}, false},
        LineCase{"leadingZeros", "010.001.002.003:1", {{"010.001.002.003", ":1", "Germany", 0}}, false},
        LineCase{"noPort", "1.2.3.4", {}, true},
        LineCase{"colonFirst", ":80", {}, true},
        LineCase{"emptyLine", "", {}, true},
        LineCase{"octetNotANumber", "1.2.x.4:80", {}, true},
        LineCase{"octetAbove255", "1.2.3.999:80", {}, true},
        LineCase{"fewerThanThreeDots", "10.1.2:80", {}, true},
        LineCase{"codeWithoutSlot", "0.0.0.0:1", {}, false},
        LineCase{"inNoRange", "13.0.0.1:1", {}, false},
        LineCase{"bracketedWithPort", "[2001:db8::1]:443", {{"2001:db8::1", ":443", "Germany", 0}}, false},
        LineCase{"bracketedWithoutPort", "[2001:DB8:1::]", {{"2001:DB8:1::", "", "USA", 222}}, false},
        LineCase{"tabsRemovedFromBracketed", "[2001:db8:\t8000::1]\t:80", {{"2001:db8:8000::1", ":80", "France", 1}}, false},
        // Its colons leave no place for a port: the last group is the address's.
        LineCase{"wholeAddressHasNoPort", "2001:db8::1:80", {{"2001:db8::1:80", "", "Germany", 0}}, false},
        LineCase{"mappedIpv4IsLookedUpAsIpv4", "[::ffff:10.1.2.3]:80", {{"::ffff:10.1.2.3", ":80", "Germany", 0}}, false},
        LineCase{"zonedHasNoCountry", "[fe80::1%25eth0]:22", {}, false},
        LineCase{"bracketPortWithoutDigits", "[2001:db8::1]:", {}, true},
        LineCase{"bracketPortOfSixDigits", "[2001:db8::1]:123456", {}, true},
        LineCase{"bracketNotClosed", "[2001:db8::1:80", {}, true},
        LineCase{"textAfterBracket", "[2001:db8::1]x", {}, true},
        LineCase{"portWithoutItsColon", "[2001:db8::1]x80", {}, true},
        LineCase{"prefixLengthIsNoPort", "[2001:db8::1]/64", {}, true},
        LineCase{"nat64CarriesIpv4", "[64:ff9b::a01:203]:80", {{"64:ff9b::a01:203", ":80", "Germany", 0}}, false},
        // Beyond the /96 the last 32 bits (10.1.2.3) are part of an IPv6 address in no range.
        LineCase{"beyondNat64IsIpv6", "[64:ff9b::1:a01:203]:80", {}, false},
        LineCase{"longestText", "0000:0000:0000:0000:0000:ffff:10.1.2.3", {{"0000:0000:0000:0000:0000:ffff:10.1.2.3", "", "Germany", 0}}, false},
        LineCase{"ipv4InBrackets", "[10.1.2.3]:80", {}, true},
        LineCase{"notAnIpv6Address", "2001:db8:::1", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(FormattedList, describesAKeyFailureAndLeavesFormatFailuresBlank) {
    Fixture f(kExampleRanges);
    f.formatted("1.2.x.4:80\r\n1.2.3.4\r\n");
    ASSERT_EQ(f.prompter.questions.size(), 2u);
    EXPECT_NE(f.prompter.questions[0], kBlankPrompt);
    EXPECT_EQ(f.prompter.questions[1], kBlankPrompt);
}

TEST(FormattedList, usIsSlot222WhateverTheTableHoldsThere) {
    // Slot 222 is unfilled in this table; a line "US..." in slot 2 never wins.
    Fixture f(kExampleRanges, "DEGermany\r\nFRFrance\r\nUSUnited States\r\n");
    f.formatted("11.0.0.9:25\r\n");
    EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"11.0.0.9", ":25", "USA", 222}}));
    EXPECT_EQ(f.table.slotHits(222), 1);
    EXPECT_EQ(f.table.slotHits(2), 0);
}

TEST(FormattedList, lowerCaseUsIsAnOrdinaryCode) {
    Fixture f("00000000ZZ\r\n0A000000us\r\n0B000000ZZ\r\n", "DEGermany\r\nusSmall\r\n");
    f.formatted("10.1.2.3:1\r\n");
    EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.3", ":1", "Small", 1}}));
    EXPECT_EQ(f.table.slotHits(222), 0);
}

TEST(FormattedList, firstSlotOfARepeatedCodeWins) {
    Fixture f(kExampleRanges, "FRFrance\r\nDEGermany\r\nDEDeutschland\r\n");
    f.formatted("10.1.2.3:1\r\n");
    EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.3", ":1", "Germany", 1}}));
}

TEST(FormattedList, yesGoesOnAndNoStopsKeepingWhatWasAdded) {
    const std::string list = "bad\r\n10.1.2.3:1\r\nbad\r\n10.1.2.4:2\r\n";
    {
        Fixture f(kExampleRanges);
        f.prompter.answers = {true, true};
        const RunResult result = f.formatted(list);
        EXPECT_EQ(result.status, RunStatus::Completed);
        EXPECT_EQ(f.grid.rows.size(), 2u);
    }
    {
        Fixture f(kExampleRanges);
        f.prompter.answers = {true, false};
        const RunResult result = f.formatted(list);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.3", ":1", "Germany", 0}}));
        EXPECT_EQ(f.table.slotHits(0), 1);
        EXPECT_EQ(f.prompter.questions.size(), 2u);
    }
    {
        // Yes at the last line's prompt still finishes normally.
        Fixture f(kExampleRanges);
        EXPECT_EQ(f.formatted("10.1.2.3:1\r\nbad").status, RunStatus::Completed);
    }
}

// A line over 64 KiB is a failing line, asked about once with its number,
// whether it comes whole or in pieces; up to the limit a line is a line.
TEST(FormattedList, lineOverTheLimitIsAskedAboutOnceAndReadPast) {
    const std::size_t limit = kLongestFormattedLine;
    for (const std::size_t length : {limit, limit + 1, std::size_t{3} << 20}) {
        Fixture f(kExampleRanges);
        std::string port = ":" + std::string(length - 9, '8');
        const RunResult result =
            f.formatted("10.1.2.3:1\r\n10.1.2.4" + port + "\r\n10.1.2.5:3\r\n");
        EXPECT_EQ(result.status, RunStatus::Completed);
        if (length <= limit) {
            EXPECT_TRUE(f.prompter.questions.empty());
            ASSERT_EQ(f.grid.rows.size(), 3u);
            EXPECT_EQ(f.grid.rows[1].port, port);
            continue;
        }
        ASSERT_EQ(f.prompter.questions.size(), 1u) << length;
        EXPECT_EQ(f.prompter.questions[0], "Line 2 is longer than 65536 characters");
        EXPECT_EQ(f.prompter.questionLines[0], 2);
        ASSERT_EQ(f.grid.rows.size(), 2u);
        EXPECT_EQ(f.grid.rows[1].ip, "10.1.2.5");
    }
}

TEST(FormattedList, listThatCannotBeOpenedEndsWithoutStatisticsOnYesAndNo) {
    for (const bool answer : {true, false}) {
        Fixture f(kExampleRanges);
        f.prompter.answers = {answer};
        auto ctx = f.context();
        const RunResult result = runFormattedList((f.dir.path() / "missing.txt").string(), ctx);
        EXPECT_EQ(result.status, RunStatus::Stopped) << answer;
        ASSERT_EQ(f.prompter.questions.size(), 1u);
        EXPECT_NE(f.prompter.questions[0].find("missing.txt"), std::string::npos);
        EXPECT_EQ(f.prompter.questionLines[0], 0);
    }
}

TEST(FormattedList, missingRangeFileFailsEachLineThatNeedsALookup) {
    Fixture f(kExampleRanges);
    std::filesystem::remove(f.dir.path() / "IP_db.dbf");
    const RunResult result = f.formatted("10.1.2.3:1\r\nbad\r\n10.1.2.4:2\r\n");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_TRUE(f.grid.rows.empty());
    ASSERT_EQ(f.prompter.questions.size(), 3u);
    EXPECT_NE(f.prompter.questions[0].find("IP_db.dbf"), std::string::npos);
    EXPECT_EQ(f.prompter.questions[1], kBlankPrompt);
    EXPECT_EQ(f.prompter.questions[2], f.prompter.questions[0]);
}

// A folder of an older installation: IPv4 lines as ever, each IPv6 line fails
// as an IPv4 line fails without IP_db.dbf; and the other way round.
TEST(FormattedList, missingRangeFileOfOneFamilyFailsOnlyItsLines) {
    Fixture f(kExampleRanges);
    const RunResult result = f.formatted("10.1.2.3:1\r\n[2001:db8::1]:2\r\n");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.3", ":1", "Germany", 0}}));
    ASSERT_EQ(f.prompter.questions.size(), 1u);
    EXPECT_EQ(f.prompter.questions[0], "File not found: " + (f.dir.path() / "IP6_db.dbf").string());
    EXPECT_EQ(f.prompter.questionLines[0], 2);

    Fixture g(kExampleRanges);
    g.dir.write("IP6_db.dbf", testing::kExample6Ranges);
    std::filesystem::remove(g.dir.path() / "IP_db.dbf");
    g.formatted("10.1.2.3:1\r\n[2001:db8::1]:2\r\n");
    EXPECT_EQ(g.grid.rows, (std::vector<Row>{{"2001:db8::1", ":2", "Germany", 0}}));
    ASSERT_EQ(g.prompter.questions.size(), 1u);
    EXPECT_NE(g.prompter.questions[0].find("IP_db.dbf"), std::string::npos);
}

// Answering a prompt about the missing range file after putting it back goes on with it.
class RestoringPrompter final : public Prompter {
public:
    explicit RestoringPrompter(testing::TempDir& dir) : m_dir(dir) {}
    bool askContinue(const FailingLine&) override {
        m_dir.write("IP_db.dbf", kExampleRanges);
        ++asked;
        return true;
    }
    void showError(const lookup::Error&) override {}
    int asked = 0;

private:
    testing::TempDir& m_dir;
};

TEST(FormattedList, rangeFilePutBackDuringAPromptIsUsedForTheNextLines) {
    Fixture f(kExampleRanges);
    std::filesystem::remove(f.dir.path() / "IP_db.dbf");
    RestoringPrompter prompter(f.dir);
    AnalysisContext ctx{f.table, f.ranges, f.ranges6, f.grid, prompter, f.clock, nullptr};
    runFormattedList(f.dir.write("list.txt", "10.1.2.3:1\r\n10.1.2.4:2\r\n"), ctx);
    EXPECT_EQ(prompter.asked, 1);
    EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.4", ":2", "Germany", 0}}));
}

TEST(FormattedList, twoRunsAccumulateRowsAndCounts) {
    Fixture f(kExampleRanges);
    const std::string list = "10.1.2.3:1\r\n11.0.0.1:2\r\n";
    f.formatted(list);
    f.formatted(list);
    EXPECT_EQ(f.grid.rows.size(), 4u);
    EXPECT_EQ(f.table.slotHits(0), 2);
    EXPECT_EQ(f.table.slotHits(222), 2);
}

TEST(FormattedList, emptyListCompletesWithNoRows) {
    Fixture f(kExampleRanges);
    const RunResult result = f.formatted("");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_TRUE(f.grid.rows.empty());
    EXPECT_TRUE(f.prompter.questions.empty());
}

TEST(FormattedList, everyLineEndAndAMissingFinalOne) {
    for (const std::string list :
         {"10.1.2.3:1\r\n10.1.2.4:2\r\n", "10.1.2.3:1\n10.1.2.4:2", "10.1.2.3:1\r10.1.2.4:2\r"}) {
        Fixture f(kExampleRanges);
        f.formatted(list);
        EXPECT_EQ(f.grid.rows, (std::vector<Row>{{"10.1.2.3", ":1", "Germany", 0},
                                                 {"10.1.2.4", ":2", "Germany", 0}}));
        EXPECT_TRUE(f.prompter.questions.empty());
    }
}

class CancellingProgress final : public Progress {
public:
    bool update(std::uint64_t, std::uint64_t) override { return ++calls < 2; }
    int calls = 0;
};

TEST(FormattedList, cancelledProgressStopsTheRun) {
    Fixture f(kExampleRanges);
    CancellingProgress progress;
    auto ctx = f.context();
    ctx.progress = &progress;
    std::string list;
    for (int i = 0; i < 300'000; ++i) list += "10.1.2.3:1\r\n";
    const RunResult result = runFormattedList(f.dir.write("big.txt", list), ctx);
    EXPECT_EQ(result.status, RunStatus::Stopped);
    EXPECT_EQ(progress.calls, 2);
    EXPECT_GT(f.grid.rows.size(), 0u);
    EXPECT_LT(f.grid.rows.size(), 300'000u);
}

}  // namespace
}  // namespace ipcountry::analysis
