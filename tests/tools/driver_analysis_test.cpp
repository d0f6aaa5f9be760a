#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/driver_support.h"

namespace {

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/analysis";
const std::string kData = "--data-dir '" + kDir + "' ";
const std::string kNoRanges = "--data-dir '" + kDir + "/no-ranges' ";
const std::string kNoIpv6 = "--data-dir '" + kDir + "/no-ipv6-ranges' ";
// A folder with IPv6 ranges; the one above has none, as an older installation.
const std::string kDir6 = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/lookup";
const std::string kList6 = "'" + kDir6 + "/ipv6_list.txt'";

std::string file(const std::string& name) { return "'" + kDir + "/" + name + "'"; }

const std::string kWorkedRows =
    "10.1.2.3\t:8080\tGermany\n"
    "11.0.0.9\t:25\tUSA\n"
    "10.1.2.4 \t:8\xC3\xA9\tGermany\n";  // TABs gone, the blank kept, the port's 8-bit byte as
                                         // UTF-8

const std::string kWorkedFailures =
    "ipcountry-batch: " + kDir +
    "/worked_example.txt:5: no port after the address (address:port)\n"
    "ipcountry-batch: " +
    kDir + "/worked_example.txt:6: octet 4 is 999\n";

const std::string kLogRows =
    "10.0.0.7\t\tGermany\n"
    "11.46.118.87\t:40286\tUSA\n"
    "10.220.101.4\t\tGermany\n"
    "10.33.32.156\t\tGermany\n"
    "10.1.2.3\t:65535\tGermany\n";

class DriverAnalysisTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverAnalysisTest, printsRowsStatisticsAndMessages) { expectDriverAnswers(GetParam()); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Commands, DriverAnalysisTest,
    ::testing::Values(
        // 12.0.0.1 lies in no range and 5.6.7.8 has a code without a country:
        // neither gets a row; the two bad lines are reported and skipped.
        DriverCase{"formattedWorkedExample", kData + "formatted " + file("worked_example.txt"), kWorkedRows,
                   kWorkedFailures, 1},
        DriverCase{"formattedWithStats", kData + "--stats formatted " + file("worked_example.txt"),
                   kWorkedRows +
                       "\nAnalysis took 0:00:00\nTotal number of IPs is 3 (3 distinct)\nGermany\tDE\t2\t66.7%\t2\n\tUS\t1\t33.3%\t1\n",
                   kWorkedFailures, 1},
        DriverCase{"formattedStopsAtFirstFailure",
                   kData + "--stats --stop-on-error formatted " + file("worked_example.txt"),
                   "10.1.2.3\t:8080\tGermany\n11.0.0.9\t:25\tUSA\n",
                   "ipcountry-batch: " + kDir + "/worked_example.txt:5: no port after the address (address:port)\n", 1},
        DriverCase{"formattedListMissing", kData + "--stats formatted " + file("missing.txt"), "",
                   "ipcountry-batch: " + kDir + "/missing.txt: No such file or directory\n", 1},
        DriverCase{"formattedEmptyPath", kData + "--stats formatted ''", "", "ipcountry-batch: : No such file or directory\n", 1},
        // Without the range file each line that needs a lookup fails on its own;
        // a wrong line makes the exit status 1, as find does.
        DriverCase{"formattedRangeFileMissing", kNoRanges + "--stats formatted " + file("worked_example.txt"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 0 (0 distinct)\n",
                   "*worked_example.txt:7: " + kDir + "/no-ranges/IP_db.dbf: No such file or directory\n", 1},
        DriverCase{"unformattedLog", kData + "--stats unformatted " + file("access.log"),
                   kLogRows + "\nAnalysis took 0:00:00\nTotal number of IPs is 5 (5 distinct)\nGermany\tDE\t4\t80.0%\t4\n\tUS\t1\t20.0%\t1\n",
                   "", 0},
        DriverCase{"unformattedWithoutStats", kData + "unformatted " + file("access.log"), kLogRows, "", 0},
        DriverCase{"unformattedMissingFile", kData + "--stats unformatted " + file("missing.log"), "",
                   "ipcountry-batch: " + kDir + "/missing.log: No such file or directory\n", 1},
        DriverCase{"unformattedRangeFileMissing", kNoRanges + "--stats unformatted " + file("access.log"), "",
                   "ipcountry-batch: " + kDir + "/access.log: " + kDir + "/no-ranges/IP_db.dbf: No such file or directory\n", 1},
        DriverCase{"formattedIpv6", "--data-dir '" + kDir6 + "' formatted " + kList6,
                   "2001:db8::1\t:443\tUSA\n2001:db8:1::9\t\tFrance\n1.2.3.4\t:80 or 10.0.0.1:80\tGermany\n",
                   "ipcountry-batch: " + kDir6 + "/ipv6_list.txt:4: port is not a number\n", 1},
        DriverCase{"unformattedIpv6", "--data-dir '" + kDir6 + "' unformatted " + kList6,
                   "2001:db8::1\t:443\tUSA\n2001:db8:1::9\t\tFrance\n2001:db8::1\t:\tUSA\n1.2.3.4\t:80\tGermany\n", "", 0},
        // A folder without IPv6 ranges is named before the IPv6 rows go missing.
        DriverCase{"unformattedIpv6WithoutItsRanges", kNoIpv6 + "unformatted " + kList6, "10.0.0.1\t:80\tGermany\n",
                   "ipcountry-batch: warning: " + kDir + "/no-ipv6-ranges/IP6_db.dbf is missing: IPv6 addresses get no "
                   "country\n", 0},
        DriverCase{"formattedIpv6WithoutItsRanges", kNoIpv6 + "formatted " + kList6, "",
                   "*ipv6_list.txt:1: " + kDir + "/no-ipv6-ranges/IP6_db.dbf: No such file or directory\n", 1},
        DriverCase{"unformattedDirectory", kData + "unformatted " + file(""), "", "ipcountry-batch: " + kDir + "/: Is a directory\n", 1},
        DriverCase{"pathNotTrimmed", kData + "unformatted '" + kDir + "/access.log '", "", "ipcountry-batch: " + kDir + "/access.log : No such file or directory\n", 1},
        DriverCase{"oneThread", kData + "--threads 1 --stop-on-error formatted " + file("worked_example.txt"),
                   "10.1.2.3\t:8080\tGermany\n11.0.0.9\t:25\tUSA\n",
                   "ipcountry-batch: " + kDir + "/worked_example.txt:5: no port after the address (address:port)\n", 1},
        DriverCase{"fourThreads", kData + "--threads=4 --stats unformatted " + file("access.log"),
                   kLogRows + "\nAnalysis took 0:00:00\nTotal number of IPs is 5 (5 distinct)\nGermany\tDE\t4\t80.0%\t4\n\tUS\t1\t20.0%\t1\n",
                   "", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The same rows whichever line ends a list uses, with or without a final one.
TEST(DriverAnalysis, everyLineEndGivesTheSameRows) {
    char folder[] = "/tmp/ipcountry-driver-line-ends-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path dir = folder;
    const std::string lines[] = {"10.1.2.3:1", "junk", "11.0.0.1:2 10.0.0.9"};
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        for (const bool finalEnd : {true, false}) {
            std::string content;
            for (const std::string& line : lines) content += line + end;
            if (!finalEnd) content.resize(content.size() - end.size());
            const auto path = dir / "input.txt";
            std::ofstream(path, std::ios::binary) << content;
            const std::string quoted = "'" + path.string() + "'";

            const SplitDriverResult formatted = runDriverSplit(kData + "formatted " + quoted);
            EXPECT_EQ(formatted.out, "10.1.2.3\t:1\tGermany\n11.0.0.1\t:2 10.0.0.9\tUSA\n");
            EXPECT_EQ(formatted.err,
                      "ipcountry-batch: " + path.string() + ":2: not an IPv4 or IPv6 address\n");

            const SplitDriverResult unformatted = runDriverSplit(kData + "unformatted " + quoted);
            EXPECT_EQ(unformatted.out,
                      "10.1.2.3\t:1\tGermany\n11.0.0.1\t:2\tUSA\n10.0.0.9\t\tGermany\n");
            EXPECT_EQ(unformatted.status, 0);
        }
    }
    std::ofstream(dir / "empty.txt", std::ios::binary);
    const std::string empty = "'" + (dir / "empty.txt").string() + "'";
    for (const char* command : {"formatted ", "unformatted "}) {
        const SplitDriverResult result = runDriverSplit(kData + "--stats " + command + empty);
        EXPECT_EQ(result.out, "\nAnalysis took 0:00:00\nTotal number of IPs is 0 (0 distinct)\n")
            << command;
        EXPECT_EQ(result.status, 0);
    }
    std::filesystem::remove_all(dir);
}

// "-" is standard input, plain or compressed, from a file or through a pipe:
// the rows and statistics of the file itself; a damaged archive fails as a
// file that cannot be read does.
TEST(DriverAnalysis, dashReadsStandardInputPlainOrCompressed) {
    const std::string dir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/compressed/";
    const SplitDriverResult expected =
        runDriverSplit(kData + "--stats unformatted '" + dir + "log.txt'");
    ASSERT_EQ(expected.status, 0);
    ASSERT_GT(expected.out.size(), 10000u);
    for (const char* input :
         {"log.txt", "log.gz", "two-members.gz", "log.bz2", "log.xz", "log.zst"}) {
        const SplitDriverResult result =
            runDriverSplit(kData + "--stats unformatted - < '" + dir + input + "'");
        EXPECT_EQ(result.out, expected.out) << input;
        EXPECT_EQ(result.status, 0) << input;
    }
    const std::string pipe = "cat '" + dir + "log.gz' | '" + IPCOUNTRY_BIN_DIR +
                             "/ipcountry-batch' " + kData + "--stats unformatted - 2>/dev/null";
    std::string piped;
    if (FILE* out = ::popen(pipe.c_str(), "r")) {
        for (int c; (c = std::fgetc(out)) != EOF;) piped += static_cast<char>(c);
        EXPECT_EQ(::pclose(out), 0);
    }
    EXPECT_EQ(piped, expected.out);

    const SplitDriverResult cut =
        runDriverSplit(kData + "--stats unformatted - < '" + dir + "truncated.gz'");
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(
        cut.err,
        "ipcountry-batch: -: the file is cut short (its gzip data ends before it is complete)\n");
    EXPECT_EQ(cut.out.find("Analysis took"), std::string::npos);
}

}  // namespace
