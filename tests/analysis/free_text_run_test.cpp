#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/line_reader.h"
#include "fakes.h"

namespace ipcountry::analysis {
namespace {

using testing::Fixture;
using testing::kExampleRanges;
using testing::Row;

TEST(FreeTextRun, resolvesEveryAddressOfEveryLine) {
    Fixture f(kExampleRanges);
    const RunResult result = f.freeText(
        "Connection from 10.0.0.1 refused\r\n"
        "HTTP/1.1 200 from 11.2.3.4:443 and 5.6.7.8\n"  // 5.6.7.8: code ZZ, no slot
        "release 1.2.3.\r"                              // no address, and no error
        "12.0.0.1 is in no range; 10.9.9.9:80");        // no final line end
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_TRUE(f.prompter.errors.empty());
    const std::vector<Row> expected{{"10.0.0.1", "", "Germany", 0},
                                    {"11.2.3.4", ":443", "USA", 222},
                                    {"10.9.9.9", ":80", "Germany", 0}};
    EXPECT_EQ(f.grid.rows, expected);
    EXPECT_EQ(result.rowsAdded, 3);
    EXPECT_EQ(f.table.slotHits(0), 2);
    EXPECT_EQ(f.table.slotHits(222), 1);
    EXPECT_EQ(result.elapsed, std::chrono::seconds(2));
}

TEST(FreeTextRun, bothFamiliesInTheOrderTheyStandAndCountedAlike) {
    Fixture f(kExampleRanges);
    f.dir.write("IP6_db.dbf", testing::kExample6Ranges);
    const RunResult result = f.freeText(
        "GET from [2001:db8::1]:8080 via 10.0.0.1:80 for 2001:db8:8000::2.\r\n"
        "fe80::1%eth0 2002::1 ::ffff:a00:1 11.0.0.1\n");  // link-local, in no range, mapped hex
    EXPECT_EQ(result.status, RunStatus::Completed);
    const std::vector<Row> expected{{"2001:db8::1", ":8080", "Germany", 0},
                                    {"10.0.0.1", ":80", "Germany", 0},
                                    {"2001:db8:8000::2", "", "France", 1},
                                    {"::ffff:a00:1", "", "Germany", 0},
                                    {"11.0.0.1", "", "USA", 222}};
    EXPECT_EQ(f.grid.rows, expected);
    EXPECT_EQ(result.rowsAdded, 5);
    EXPECT_EQ(f.table.slotHits(0), 3);
    EXPECT_EQ(f.table.totalHits(), 5);
}

// An older installation: no IPv6 rows and no message; IPv4 as ever.
TEST(FreeTextRun, folderWithoutIpv6RangesFindsOnlyIpv4) {
    Fixture f(kExampleRanges);
    const RunResult result = f.freeText("2001:db8::1 10.0.0.1 [2001:db8::2]:1 11.0.0.1\r\n");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_TRUE(f.prompter.errors.empty());
    EXPECT_EQ(f.grid.rows,
              (std::vector<Row>{{"10.0.0.1", "", "Germany", 0}, {"11.0.0.1", "", "USA", 222}}));
}

TEST(FreeTextRun, twoRunsAccumulate) {
    Fixture f(kExampleRanges);
    f.freeText("10.0.0.1 11.0.0.1\r\n");
    f.freeText("10.0.0.1 11.0.0.1\r\n");
    EXPECT_EQ(f.grid.rows.size(), 4u);
    EXPECT_EQ(f.table.slotHits(0), 2);
    EXPECT_EQ(f.table.slotHits(222), 2);
}

TEST(FreeTextRun, emptyFileCompletes) {
    Fixture f(kExampleRanges);
    const RunResult result = f.freeText("");
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_TRUE(f.grid.rows.empty());
}

TEST(FreeTextRun, fileThatCannotBeOpenedEndsWithOneMessage) {
    for (const std::string name : {"missing.txt", ""}) {
        Fixture f(kExampleRanges);
        auto ctx = f.context();
        const std::string path = name.empty() ? std::string() : (f.dir.path() / name).string();
        const RunResult result = runFreeTextScan(path, ctx);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        ASSERT_EQ(f.prompter.errors.size(), 1u);
        EXPECT_FALSE(f.prompter.errors[0].empty());
        EXPECT_TRUE(f.prompter.questions.empty());
    }
}

TEST(FreeTextRun, missingRangeFileStopsAtTheFirstAddress) {
    Fixture f(kExampleRanges);
    std::filesystem::remove(f.dir.path() / "IP_db.dbf");
    const RunResult result = f.freeText("no address here\r\n10.0.0.1\r\n10.0.0.2\r\n");
    EXPECT_EQ(result.status, RunStatus::Stopped);
    ASSERT_EQ(f.prompter.errors.size(), 1u);
    EXPECT_NE(f.prompter.errors[0].find("IP_db.dbf"), std::string::npos);
    EXPECT_TRUE(f.grid.rows.empty());
}

TEST(FreeTextRun, missingRangeFileIsNoErrorForTextWithoutAddresses) {
    Fixture f(kExampleRanges);
    std::filesystem::remove(f.dir.path() / "IP_db.dbf");
    EXPECT_EQ(f.freeText("v1.2 and 3.4.5\r\n").status, RunStatus::Completed);
    EXPECT_TRUE(f.prompter.errors.empty());
}

constexpr std::size_t kBlock = LineReader::kBlockSize;

// A line longer than the reader's blocks comes in pieces: its addresses are
// found where they cross a block or a piece, and nothing of it reaches the
// next line, which it ends in the middle of an address ("10.10.").
TEST(FreeTextRun, linesLongerThanABlockAreScannedWholeAndLeaveNothingBehind) {
    for (const std::size_t length : {kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 3 * kBlock + 5}) {
        Fixture f(kExampleRanges);
        f.dir.write("IP6_db.dbf", testing::kExample6Ranges);
        std::string line(length, 'x');
        std::vector<Row> expected{{"10.0.0.1", ":22", "Germany", 0}};
        line.replace(0, 12, "10.0.0.1:22 ");
        for (std::size_t border = kBlock; border + 40 < length; border += kBlock) {
            const bool six = border / kBlock % 2 == 0;
            line.replace(border - 6, 15, six ? " 2001:db8::5 x " : " 10.9.8.7:6543 ");
            expected.push_back(six ? Row{"2001:db8::5", "", "Germany", 0}
                                   : Row{"10.9.8.7", ":6543", "Germany", 0});
        }
        line.replace(length - 18, 18, " 11.0.0.9:1 10.10.");
        expected.push_back({"11.0.0.9", ":1", "USA", 222});
        expected.insert(expected.end(), {{"2001:db8::1", "", "Germany", 0},
                                         {"2001:db8:8000::3", ":80", "France", 1},
                                         {"10.0.0.2", ":8080", "Germany", 0},
                                         {"11.0.0.1", "", "USA", 222}});
        // The next line's "5.6" stands where "10.10." would have gone on.
        f.freeText(line + "\r\n" + std::string(length, 'x') + "5.6\r\n" +
                   "2001:db8::1 [2001:db8:8000::3]:80 10.0.0.2:8080\r\n11.0.0.1");
        EXPECT_EQ(f.grid.rows, expected) << length;
    }
}

// A file that ends without a line end, at, just before and just after the
// reader's block borders, with an address and its port as its last bytes:
// in a line of its own, or at the end of a line that crosses the borders.
TEST(FreeTextRun, addressThatEndsTheFileIsFoundAtEveryBlockBorder) {
    struct Ending {
        std::string text;
        Row row;
        bool formattedFails;  // the line is no address:port
    };
    const Ending endings[] = {
        {"10.0.0.1:8080", {"10.0.0.1", ":8080", "Germany", 0}, false},
        {"11.0.0.1:", {"11.0.0.1", ":", "USA", 222}, false},
        {"[2001:db8::1]:443", {"2001:db8::1", ":443", "Germany", 0}, false},
        {"10.0.0.7", {"10.0.0.7", "", "Germany", 0}, true},
    };
    Fixture f(kExampleRanges);
    f.dir.write("IP6_db.dbf", testing::kExample6Ranges);
    struct Answer {
        std::vector<Row> rows;
        std::vector<std::int64_t> questionLines;
    };
    // On one thread the reader's blocks meet the scanners; on two, the
    // pipeline's blocks of whole lines and the pieces of longer lines.
    const auto run = [&f](auto analysis, std::string_view text) {
        std::vector<Answer> answers;
        for (const unsigned threads : {1u, 2u}) {
            testing::FakeGrid grid(f.table);
            testing::FakePrompter prompter;
            AnalysisContext context{f.table, f.ranges, f.ranges6, grid, prompter, f.clock, nullptr};
            context.threads = threads;
            analysis(f.dir.write("input.txt", text), context);
            answers.push_back(Answer{grid.rows, prompter.questionLines});
        }
        EXPECT_EQ(answers[1].rows, answers[0].rows) << "on two threads";
        EXPECT_EQ(answers[1].questionLines, answers[0].questionLines) << "on two threads";
        return answers[0];
    };
    const std::string line = "10.1.2.3:1\r\n";
    const std::string filler = "1.1.1.10:1\r\n";  // no range holds it: no row
    const Row lineRow{"10.1.2.3", ":1", "Germany", 0};
    for (const std::size_t size :
         {kBlock - 1, kBlock, kBlock + 1, 2 * kBlock - 1, 2 * kBlock, 2 * kBlock + 1}) {
        for (const Ending& ending : endings) {
            const std::string where = std::to_string(size) + " " + ending.text;
            // Short lines, the first of them no address but padding; a row
            // on every 64th, as rows cost the test far more than lines do.
            const std::size_t lines = (size - 200) / line.size();
            std::string text =
                "#" + std::string(size - lines * line.size() - ending.text.size() - 3, 'x') +
                "\r\n";
            std::size_t addressLines = 0;
            for (std::size_t i = 0; i < lines; ++i) {
                const bool address = i % 64 == 0 || i + 1 == lines;
                text += address ? line : filler;
                addressLines += address ? 1 : 0;
            }
            text += ending.text;
            ASSERT_EQ(text.size(), size);
            std::vector<Row> expected(addressLines, lineRow);
            expected.push_back(ending.row);
            EXPECT_EQ(run(runFreeTextScan, text).rows, expected) << where;
            const Answer formatted = run(runFormattedList, text);
            if (ending.formattedFails) expected.pop_back();
            EXPECT_EQ(formatted.rows, expected) << where;
            const std::vector<std::int64_t> questions =
                ending.formattedFails ? std::vector<std::int64_t>{1, std::int64_t(lines) + 2}
                                      : std::vector<std::int64_t>{1};
            EXPECT_EQ(formatted.questionLines, questions) << where;

            // One line from the first to the last byte but for an address before it.
            text = line + std::string(size - line.size() - ending.text.size() - 1, 'x') + " " +
                   ending.text;
            EXPECT_EQ(run(runFreeTextScan, text).rows, (std::vector<Row>{lineRow, ending.row}))
                << where;
        }
    }
}

}  // namespace
}  // namespace ipcountry::analysis
