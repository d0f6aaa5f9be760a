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
        EXPECT_EQ(f.prompter.errors[0].rfind("Error due to wrong data entered! ", 0), 0u);
        EXPECT_GT(f.prompter.errors[0].size(),
                  std::string("Error due to wrong data entered! ").size());
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

TEST(FreeTextRun, aVeryLongLineIsScannedWhole) {
    Fixture f(kExampleRanges);
    std::string line(3u << 20, 'x');  // longer than a read block
    line += " 10.0.0.1:22";
    f.freeText(line + "\r\n11.0.0.1");
    EXPECT_EQ(f.grid.rows,
              (std::vector<Row>{{"10.0.0.1", ":22", "Germany", 0}, {"11.0.0.1", "", "USA", 222}}));
}

}  // namespace
}  // namespace ipcountry::analysis
