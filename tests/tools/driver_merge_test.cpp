// Several files in one run, and statistics merged from printed rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/driver";
const std::string kData = "--data-dir '" + kDir + "' ";

const std::string kLogRows =
    "2.9.9.9\t:443\tKorea, Republic of\n1.1.1.1\t\tGermany\n4.4.4.4\t:80\tThe \"Quoted\" Isles\n"
    "3.1.2.3\t\tC\xC3\xB4te d'Ivoire\n5.0.0.5\t:22\tUSA\n";
const std::string kSecondRows = "2.0.0.7\t:8080\tKorea, Republic of\n1.0.0.9\t\tGermany\n";
// The statistics of log.txt and second.log together.
const std::string kBothStats =
    "\nAnalysis took 0:00:00\nTotal number of IPs is 7 (7 distinct)\nGermany\tDE\t2\t28.6%\t2\n"
    "Korea, Republic of\tKR\t2\t28.6%\t2\nC\xC3\xB4te d'Ivoire\tCI\t1\t14.3%\t1\n"
    "The \"Quoted\" Isles\tQQ\t1\t14.3%\t1\n\tUS\t1\t14.3%\t1\n";
const std::string kSecondStats =
    "\nAnalysis took 0:00:00\nTotal number of IPs is 2 (2 distinct)\nGermany\tDE\t1\t50.0%\t1\n"
    "Korea, Republic of\tKR\t1\t50.0%\t1\n";
// The same as the driver printed it before codes and distinct addresses.
const std::string kSecondStatsWithoutCodes =
    "\nAnalysis took 0:00:00\nTotal number of IPs is 2\nGermany\t1\t50.0%\n"
    "Korea, Republic of\t1\t50.0%\n";

// Inputs written once per test run, beside each other in one folder.
// A folder of its own per run (two runs at once must not share it), removed
// when the tests end.

const fs::path& scratch() {
    static const ipcountry::test::TempDir folder("ipcountry-driver-merge");
    static const fs::path dir = [] {
        const fs::path d = folder.path();
        const auto write = [&d](const char* name, const std::string& text) {
            std::ofstream(d / name, std::ios::binary) << text;
        };
        write("second.log", "then 2.0.0.7:8080 and 1.0.0.9\n");
        write("list1.txt", "1.0.0.1:25\njunk\n5.0.0.1:\n");
        write("list2.txt", "2.0.0.1:0080\n4.0.0.1:123456\n3.0.0.1:ab\n");
        write("rows.tsv", "2.0.0.7\t:8080\tKorea, Republic of\n1.0.0.9\t\tGermany\n");
        write("bad.tsv",
              "2.0.0.7\t:8080\tKorea, Republic of\n2.0.0.7 :8080\n1.0.0.9\t\tAtlantis\n");
        write("block-disagrees.tsv",
              "1.0.0.9\t\tGermany\n\nAnalysis took 0:00:01\n"
              "Total number of IPs is 1\nUnited States\t1\t100.0%\n");
        write("block-cut.tsv", "1.0.0.9\t\tGermany\n\nAnalysis took 0:00:01\n");
        write("empty.txt", "");
        write("two-blocks.tsv",
              "\nAnalysis took 0:00:01\nTotal number of IPs is 1\nGermany\t1\t100.0%\n"
              "\nAnalysis took 0:00:02\nTotal number of IPs is 1\nGermany\tDE\t1\t100.0%\n");
        const std::string huge =
            "\nAnalysis took 1000:00:00\nTotal number of IPs is 9000000000000000000\n"
            "Germany\tDE\t9000000000000000000\t100.0%\n";
        write("huge.tsv", huge);
        write("two-huge.tsv", huge + huge);
        write("zero.tsv", "\nAnalysis took 0:00:00\nTotal number of IPs is 0\n");
        write("zero-distinct.tsv",
              "\nAnalysis took 0:00:00\nTotal number of IPs is 0 (0 distinct)\n");
        write("empty-port.json",
              "{\"ip\":\"1.0.0.1\",\"port\":,\"country\":\"Germany\",\"code\":\"DE\"}\n");
        write("port.txt", "1.0.0.1:65535\n");
        write("uk-row.tsv", "1.2.3.4\t\tUnited Kingdom\n");
        fs::create_directories(d / "uk");
        write("uk/Country.dbf", "GBUnited Kingdom\r\nUKUnited Kingdom\r\n");
        write(
            "three.tsv",
            "1.0.0.1\t\tGermany\n2.0.0.7\t\tKorea, Republic of\n1.0.0.2\t\tGermany\n"
            "3.0.0.1\t\tC\xC3\xB4te d'Ivoire\n1.0.0.3\t\tGermany\n2.0.0.8\t\tKorea, Republic of\n");
        write("stats.tsv", kSecondStatsWithoutCodes);
        write("sum-off.json",
              "{\"elapsed_seconds\":0.1,\"total\":3,\"distinct\":2,\"countries\":["
              "{\"country\":\"Germany\",\"code\":\"DE\",\"count\":1,\"share\":50.0},"
              "{\"country\":\"Spain\",\"code\":\"ES\",\"count\":1,\"share\":50.0}]}\n");
        write("reason-disagrees.tsv",
              "1.0.0.9\t\tprivate\n\nAnalysis took 0:00:00\n"
              "Total number of IPs is 1\nloopback\t\t1\t100.0%\n");
        write("fourth-field.tsv", "1.0.0.9\t\tGermany\tx\n");
        write("no-ip.csv", "IP,Port,Country,Code\r\n,,Germany,DE\r\n");
        write("after-row.json",
              "{\"ip\":\"1.0.0.9\",\"port\":null,\"country\":\"Germany\",\"code\":\"DE\"}\nx\n");
        write("no-distinct.csv",
              "\nElapsed seconds,Total\n0.5,2\n\nCountry,Code,Count,Share\nGermany,DE,1,50.0\n"
              "\"Korea, Republic of\",KR,1,50.0\n");
        std::system(("gzip -c '" + (d / "second.log").string() + "' > '" +
                     (d / "second.log.gz").string() + "'")
                        .c_str());
        return d;
    }();
    return dir;
}

std::string at(const std::string& name) { return "'" + (scratch() / name).string() + "'"; }
std::string inDriverDir(const std::string& name) { return "'" + kDir + "/" + name + "'"; }

class DriverMergeTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverMergeTest, answersAsDocumented) { expectDriverAnswers(GetParam()); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Invocations, DriverMergeTest,
    ::testing::Values(
        // Several files: their rows in order, one statistics block.
        DriverCase{"filesInTheOrderGiven", kData + "--stats unformatted " + inDriverDir("log.txt") + " " + at("second.log.gz"),
                   kLogRows + kSecondRows + kBothStats, "", 0},
        DriverCase{"standardInputAmongFiles", kData + "unformatted " + at("second.log") + " - < " + at("second.log.gz"),
                   kSecondRows + kSecondRows, "", 0},
        // A file that cannot be read is named; the others are read and
        // counted, and the statistics say they are incomplete.
        DriverCase{"missingFileAmongGoodOnes",
                   kData + "--stats unformatted " + at("second.log") + " " + at("missing.log") + " " + at("second.log"),
                   kSecondRows + kSecondRows + "\nAnalysis took 0:00:00\nTotal number of IPs is 4 (2 distinct)\n"
                   "Germany\tDE\t2\t50.0%\t1\nKorea, Republic of\tKR\t2\t50.0%\t1\n",
                   "ipcountry-batch: " + (scratch() / "missing.log").string() + ": No such file or directory\n"
                   "ipcountry-batch: the statistics are incomplete: they leave out " +
                       (scratch() / "missing.log").string() + ", not read to the end\n", 1},
        DriverCase{"stopOnErrorEndsAtAFileThatCannotBeRead",
                   kData + "--stop-on-error unformatted " + at("missing.log") + " " + at("second.log"), "",
                   "*missing.log: No such file or directory\n", 1},
        DriverCase{"standardInputOnlyOnce", kData + "unformatted - " + at("second.log") + " -", "",
                   "*- (standard input) is named more than once", 2},
        DriverCase{"failingLinesNameTheirFile", kData + "formatted " + at("list1.txt") + " " + at("list2.txt"),
                   "1.0.0.1\t:25\tGermany\n5.0.0.1\t:\tUSA\n2.0.0.1\t:0080\tKorea, Republic of\n"
                   "4.0.0.1\t:123456\tThe \"Quoted\" Isles\n3.0.0.1\t:ab\tC\xC3\xB4te d'Ivoire\n",
                   "ipcountry-batch: " + (scratch() / "list1.txt").string() + ":2: not an IPv4 or IPv6 address\n", 1},
        DriverCase{"stopOnErrorEndsTheWholeRun",
                   kData + "--stats --stop-on-error formatted " + at("list1.txt") + " " + at("list2.txt"),
                   "1.0.0.1\t:25\tGermany\n",
                   "ipcountry-batch: " + (scratch() / "list1.txt").string() + ":2: not an IPv4 or IPv6 address\n", 1},
        // Ports for programs: the text after the colon; in json a number
        // where it is 1 to 5 digits, null where there is none.
        DriverCase{"csvPortsWithoutTheirColon", kData + "--format csv formatted " + at("list2.txt"),
                   "IP,Port,Country,Code\r\n2.0.0.1,0080,\"Korea, Republic of\",KR\r\n"
                   "4.0.0.1,123456,\"The \"\"Quoted\"\" Isles\",QQ\r\n3.0.0.1,ab,C\xC3\xB4te d'Ivoire,CI\r\n",
                   "", 0},
        DriverCase{"jsonPortsAsNumbersTextOrNull",
                   kData + "--format json formatted " + at("list1.txt") + " " + at("list2.txt"),
                   "{\"ip\":\"1.0.0.1\",\"port\":25,\"country\":\"Germany\",\"code\":\"DE\"}\n"
                   "{\"ip\":\"5.0.0.1\",\"port\":\"\",\"country\":\"USA\",\"code\":\"US\"}\n"
                   "{\"ip\":\"2.0.0.1\",\"port\":80,\"country\":\"Korea, Republic of\",\"code\":\"KR\"}\n"
                   "{\"ip\":\"4.0.0.1\",\"port\":\"123456\",\"country\":\"The \\\"Quoted\\\" Isles\",\"code\":\"QQ\"}\n"
                   "{\"ip\":\"3.0.0.1\",\"port\":\"ab\",\"country\":\"C\xC3\xB4te d'Ivoire\",\"code\":\"CI\"}\n",
                   "*list1.txt:2: ", 1},
        DriverCase{"statsOfTsvRows", kData + "stats " + at("rows.tsv"), kSecondStats, "", 0},
        DriverCase{"statsOfNothing", kData + "stats " + at("empty.txt"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 0 (0 distinct)\n", "", 0},
        // A block that follows no rows counts in their place: stats merges stats.
        DriverCase{"statsOfStatistics", kData + "stats - " + at("rows.tsv") + " < " + at("stats.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 4\nGermany\tDE\t2\t50.0%\n"
                   "Korea, Republic of\tKR\t2\t50.0%\n", "", 0},
        DriverCase{"statsNamesEachMalformedLine", kData + "stats " + at("bad.tsv"), "",
                   "ipcountry-batch: " + (scratch() / "bad.tsv").string() +
                       ":2: not a row (IP, Port and Country separated by TABs)\n"
                       "ipcountry-batch: " + (scratch() / "bad.tsv").string() +
                       ":3: the country 'Atlantis' is not one of " + kDir + "/Country.dbf\n", 1},
        DriverCase{"statsBlockMustAgreeWithItsRows", kData + "stats " + at("block-disagrees.tsv"), "",
                   "*block-disagrees.tsv:3: the statistics block does not agree with the 1 rows before it\n", 1},
        DriverCase{"statsInputEndsInsideABlock", kData + "stats " + at("block-cut.tsv"), "",
                   "*block-cut.tsv:4: the file ends inside a statistics block\n", 1},
        DriverCase{"statsInputFormatNamed", kData + "--input-format json stats " + at("rows.tsv"), "",
                   "*rows.tsv:1: not a JSON object\n", 1},
        DriverCase{"statsMissingFile", kData + "stats " + at("missing.tsv"), "", "*missing.tsv: No such file or directory\n", 1},
        // Inputs a mutation run showed nothing caught.
        DriverCase{"statsAddsTheElapsedTimesOfBlocks", kData + "stats " + at("two-blocks.tsv"),
                   "\nAnalysis took 0:00:03\nTotal number of IPs is 2\nGermany\tDE\t2\t100.0%\n", "", 0},
        DriverCase{"statsReadsAnEmptyBlockBack", kData + "stats " + at("zero.tsv") + " " + at("zero-distinct.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 0 (0 distinct)\n", "", 0},
        DriverCase{"statsRefusesAnEmptyJsonValue", kData + "stats " + at("empty-port.json"), "",
                   "*empty-port.json:1: not a JSON object\n", 1},
        DriverCase{"statsRefusesCountsThatMissTheirTotal", kData + "--input-format json stats " + at("sum-off.json"), "",
                   "*sum-off.json:1: the statistics' counts do not add up to their total\n", 1},
        DriverCase{"statsRefusesABlockOfAnotherReason", kData + "stats " + at("reason-disagrees.tsv"), "",
                   "*reason-disagrees.tsv:3: the statistics block does not agree with the 1 rows "
                   "before it\n", 1},
        DriverCase{"statsRefusesAFourthField", kData + "stats " + at("fourth-field.tsv"), "",
                   "*fourth-field.tsv:1: not a row (IP, Port and Country separated by TABs)\n", 1},
        DriverCase{"statsRefusesACsvRowWithoutItsIp", kData + "--input-format csv stats " + at("no-ip.csv"), "",
                   "*no-ip.csv:2: not a row (IP,Port,Country,Code)\n", 1},
        DriverCase{"statsRefusesTextAfterAJsonRow", kData + "--input-format json stats " + at("after-row.json"), "",
                   "*after-row.json:2: not a JSON object\n", 1},
        DriverCase{"statsReadsAnOlderCsvBlockWithoutDistinct", kData + "--input-format csv stats " + at("no-distinct.csv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 2\nGermany\tDE\t1\t50.0%\n"
                   "Korea, Republic of\tKR\t1\t50.0%\n", "", 0},
        DriverCase{"statsTakesTheFirstSlotOfAName", "--data-dir " + at("uk") + " stats " + at("uk-row.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 1 (1 distinct)\nUnited Kingdom\tGB\t1\t100.0%\t1\n",
                   "", 0},
        // Counts near the largest: merged at once, refused where they overflow.
        DriverCase{"statsOfAHugeBlock", kData + "stats " + at("huge.tsv"),
                   "\nAnalysis took 1000:00:00\nTotal number of IPs is 9000000000000000000\n"
                   "Germany\tDE\t9000000000000000000\t100.0%\n", "", 0},
        DriverCase{"statsOfTwoHugeBlocks", kData + "stats " + at("two-huge.tsv"), "",
                   "*two-huge.tsv:8: the statistics add up to more addresses than can be counted\n", 1},
        DriverCase{"jsonPortOfFiveDigits", kData + "--format json formatted " + at("port.txt"),
                   "{\"ip\":\"1.0.0.1\",\"port\":65535,\"country\":\"Germany\",\"code\":\"DE\"}\n", "", 0},
        // Statistics for people: the biggest first, a few only, by name.
        DriverCase{"statsTopTwo", kData + "--top 2 stats " + at("three.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 6 (6 distinct)\nGermany\tDE\t3\t50.0%\t3\n"
                   "Korea, Republic of\tKR\t2\t33.3%\t2\n(other countries)\t\t1\t16.7%\t1\n", "", 0},
        DriverCase{"statsTopTwoByName", kData + "--sort name --top 2 stats " + at("three.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 6 (6 distinct)\nGermany\tDE\t3\t50.0%\t3\n"
                   "Korea, Republic of\tKR\t2\t33.3%\t2\n(other countries)\t\t1\t16.7%\t1\n", "", 0},
        DriverCase{"statsByCount", kData + "--sort count stats " + at("three.tsv"),
                   "\nAnalysis took 0:00:00\nTotal number of IPs is 6 (6 distinct)\nGermany\tDE\t3\t50.0%\t3\n"
                   "Korea, Republic of\tKR\t2\t33.3%\t2\nC\xC3\xB4te d'Ivoire\tCI\t1\t16.7%\t1\n", "", 0},
        DriverCase{"statsByName", kData + "--format csv --sort name stats " + at("three.tsv"),
                   "\r\nElapsed seconds,Total,Distinct\r\nS,6,6\r\n\r\nCountry,Code,Count,Share,Distinct\r\n"
                   "C\xC3\xB4te d'Ivoire,CI,1,16.7,1\r\nGermany,DE,3,50.0,3\r\n\"Korea, Republic of\",KR,2,33.3,2\r\n", "", 0},
        DriverCase{"statsRefusesStatisticsCutByTop",
                   kData + "--top 1 stats " + at("three.tsv") + " | '" + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' " +
                       kData + "stats",
                   "", "*-:5: the statistics were cut by --top: the countries left out cannot be merged\n", 1},
        DriverCase{"statsOfFilesReadBesideAMissingOne", kData + "stats " + at("rows.tsv") + " " + at("missing.tsv"),
                   kSecondStats, "*the statistics are incomplete: they leave out " +
                       (scratch() / "missing.tsv").string() + ", not read to the end\n", 1},
        DriverCase{"findIntoAFullDisk", kData + "find 1.0.0.1 > /dev/full", "",
                   "ipcountry-batch: write error: No space left on device\n", 1},
        DriverCase{"analysisIntoAFullDisk", kData + "--stats unformatted " + inDriverDir("log.txt") + " > /dev/full", "",
                   "ipcountry-batch: write error: No space left on device\n", 1},
        DriverCase{"analysisIntoAClosedOutput", kData + "unformatted " + inDriverDir("log.txt") + " >&-", "",
                   "ipcountry-batch: write error: Bad file descriptor\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The driver's own statistics read back whole in every format, with the US
// slot of the country list left empty, as the test data's list leaves it:
// its statistics row has the empty name of every unfilled slot.
class StatsRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(StatsRoundTrip, readsTheDriversOwnStatisticsBack) {
    const std::string driver = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' ";
    const DriverCase c{
        "roundTrip",
        kData + "--stats --format " + GetParam() + " unformatted " + inDriverDir("log.txt") +
            " | " + driver + kData + "stats",
        kLogRows.substr(0, 0) +
            "\nAnalysis took 0:00:00\nTotal number of IPs is 5 (5 "
            "distinct)\nGermany\tDE\t1\t20.0%\t1\n"
            "Korea, Republic of\tKR\t1\t20.0%\t1\nC\xC3\xB4te d'Ivoire\tCI\t1\t20.0%\t1\n"
            "The \"Quoted\" Isles\tQQ\t1\t20.0%\t1\n\tUS\t1\t20.0%\t1\n",
        "", 0};
    expectDriverAnswers(c);
}

INSTANTIATE_TEST_SUITE_P(Formats, StatsRoundTrip, ::testing::Values("tsv", "csv", "json"));

// Answers and the message of a wrong address on one stream keep the order
// of the addresses, however the two streams are buffered.
TEST(DriverMerge, answersAndErrorsKeepTheirOrderOnOneStream) {
    const DriverResult result = runDriver(
        kData + "find 1.0.0.1 1.2.3.999 2.0.0.1 a.b - 5.0.0.1 < " + inDriverDir("addresses.txt"),
        true);
    EXPECT_EQ(result.out,
              "1.0.0.1\tDE\tGermany\nipcountry-batch: 1.2.3.999: octet 4 is 999\n"
              "2.0.0.1\tKR\tKorea, Republic of\nipcountry-batch: a.b: not an IPv4 or IPv6 address\n"
              "1.0.0.1\tDE\tGermany\n2.0.0.1\tKR\tKorea, Republic of\n\t\t\n"
              "ipcountry-batch: -:3: empty line\n1.2.3\t\t\nipcountry-batch: -:4: 3 octets, not 4\n"
              "7.0.0.1\t\tunknown\n4.0.0.1\tQQ\tThe \"Quoted\" Isles\n5.0.0.1\tUS\tUSA\n");
    EXPECT_EQ(result.status, 1);
}

// Memory or threads running out end the run with a message and status 1,
// never in std::terminate: under a falling limit on address space every
// run either works or says why.
TEST(DriverMerge, runningOutOfMemoryIsAMessageNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#endif
    const std::string input =
        std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/compressed/log.xz'";  // an 8 MiB window
    int messages = 0;
    for (int kib = 4000; kib <= 40000; kib += 4000) {
        const std::string command = "bash -c 'ulimit -v " + std::to_string(kib) + "; \"" +
                                    IPCOUNTRY_BIN_DIR + "/ipcountry-batch\" --data-dir \"" + kDir +
                                    "\" unformatted " + input + " >/dev/null'";
        std::string err;
        int status = -1;
        if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
            for (int c; (c = std::fgetc(pipe)) != EOF;) err += static_cast<char>(c);
            const int raw = ::pclose(pipe);
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
        if (status == 127) continue;  // too little for the loader: not ours to answer
        EXPECT_TRUE(status == 0 || status == 1) << kib << " KiB: " << status << " " << err;
        EXPECT_EQ(err.find("terminate"), std::string::npos) << kib << " KiB: " << err;
        if (status == 1) {
            ++messages;
            EXPECT_TRUE(err.starts_with("ipcountry-batch: ")) << kib << " KiB: " << err;
        }
    }
    EXPECT_GT(messages, 0);
}

// A reader that leaves early ends the run without a word: killed by SIGPIPE
// as ever (141 from the shell), or, where SIGPIPE is ignored, told EPIPE and
// ending with 0.
TEST(DriverMerge, aReaderThatLeavesEndsTheRunQuietly) {
    const std::string log = (scratch() / "long.log").string();
    {
        std::ofstream out(log, std::ios::binary);
        for (int i = 0; i < 200000; ++i) out << "from 1.0.0." << i % 250 << ":22\n";
    }
    for (const bool ignored : {false, true}) {
        // pipefail: the status is the driver's, not head's.
        const std::string command =
            std::string("bash -c 'set -o pipefail; ") + (ignored ? "trap \"\" PIPE; " : "") + "\"" +
            IPCOUNTRY_BIN_DIR + "/ipcountry-batch\" --data-dir \"" + kDir + "\" unformatted \"" +
            log + "\" 2>\"" + log + ".err\" | head -n 1 >/dev/null; echo $? >\"" + log +
            ".status\"'";
        ASSERT_EQ(std::system(command.c_str()), 0) << ignored;
        std::ifstream status(log + ".status");
        int code = -1;
        status >> code;
        EXPECT_EQ(code, ignored ? 0 : 141) << ignored;
        std::ifstream err(log + ".err");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(err), {}), "") << ignored;
    }
}

// What `--stats` prints after the rows, the elapsed time made S.
std::string statisticsOf(const std::string& output) {
    static const std::regex took("Analysis took [0-9:]+");
    std::size_t start = output.rfind("\nAnalysis took ");
    if (start == std::string::npos) start = output.rfind("\r\nElapsed seconds,Total,");
    if (start == std::string::npos) start = output.rfind("\n{\"elapsed_seconds\":") + 1;
    return std::regex_replace(withoutElapsed(output.substr(start)), took, "Analysis took S");
}

// The statistics without their count of distinct addresses, which a merge
// of statistics blocks without their rows cannot know.
std::string withoutDistinct(const std::string& statistics) {
    static const std::regex tsv(R"( \([0-9]+ distinct\))");
    static const std::regex csv("(Elapsed seconds,Total,Distinct\r\nS,[0-9]+,)[0-9]+");
    static const std::regex json(R"("distinct":[0-9]+)");
    // Each country's distinct addresses: the fifth column of tsv and csv.
    static const std::regex tsvCountry("(\t[0-9]+\t[0-9.]+%)\t[0-9]+\n");
    static const std::regex csvCountry("(,[0-9]+,[0-9.]+),[0-9]+\r\n");
    std::string without = std::regex_replace(statistics, tsv, "");
    without = std::regex_replace(without, csv, "$1");
    without = std::regex_replace(without, tsvCountry, "$1\n");
    without = std::regex_replace(without, csvCountry, "$1\r\n");
    without = std::regex_replace(without, std::regex("Share,Distinct\r\n"), "Share\r\n");
    return std::regex_replace(without, json, "\"distinct\":null");
}

// A log of the kinds of lines servers write, with the real data's countries.
std::vector<std::string> randomLog(std::mt19937& random, int lines) {
    std::vector<std::string> log;
    for (int i = 0; i < lines; ++i) {
        std::string line = "host sshd[" + std::to_string(random() % 9999) + "]:";
        for (auto n = random() % 4; n > 0; --n) {
            if (random() % 5 == 0)
                line += " from 2a0" + std::to_string(random() % 10) + ":" +
                        std::to_string(random() % 999) + "::" + std::to_string(random() % 99);
            else
                line += " from " + std::to_string(1 + random() % 223) + "." +
                        std::to_string(random() % 256) + "." + std::to_string(random() % 256) +
                        "." + std::to_string(random() % 256);
            if (random() % 2) line += ":" + std::to_string(random() % 65536);
        }
        log.push_back(line + "\n");
    }
    return log;
}

std::string run(const std::string& arguments) {
    const SplitDriverResult result = runDriverSplit(arguments);
    EXPECT_EQ(result.status, 0) << arguments << "\n" << result.err;
    return result.out;
}

// For random splits of a log into shards, each printed in a format of its
// own, with or without its statistics, compressed, or merged on the way:
// the merged statistics are those of the whole, in every output format.
TEST(DriverMerge, mergedStatisticsOfShardsAreThoseOfTheWhole) {
    static const char* const kFormats[] = {"tsv", "csv", "json"};
    std::mt19937 random(20260619);
    const fs::path dir = scratch() / "shards";
    for (int trial = 0; trial < 4; ++trial) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::vector<std::string> log = randomLog(random, 400 + random() % 800);
        std::ofstream(dir / "whole.log", std::ios::binary)
            << std::accumulate(log.begin(), log.end(), std::string());

        // Cut points at line ends; an empty shard now and then.
        std::vector<std::size_t> cuts{0, log.size()};
        for (auto n = 1 + random() % 7; n > 0; --n) cuts.push_back(random() % (log.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        std::string outputs;
        bool blocksAlone = false;  // a shard's rows merged away
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const std::string shard = (dir / ("shard" + std::to_string(k))).string();
            std::ofstream(shard, std::ios::binary)
                << std::accumulate(log.begin() + cuts[k], log.begin() + cuts[k + 1], std::string());
            const std::string format = kFormats[random() % 3];
            const std::string printed = shard + "." + format;
            run(std::string(random() % 2 ? "--stats " : "") + "--format " + format +
                " unformatted '" + shard + "' > '" + printed + "'");
            if (random() % 4 == 0) {
                // Merged on the way, as a combiner does: its statistics alone go on.
                const std::string combined = printed + ".stats";
                run("--format " + std::string(kFormats[random() % 3]) + " stats '" + printed +
                    "' > '" + combined + "'");
                outputs += " '" + combined + "'";
                blocksAlone = true;
            } else if (random() % 3 == 0) {
                std::system(("gzip '" + printed + "'").c_str());
                outputs += " '" + printed + ".gz'";
            } else {
                outputs += " '" + printed + "'";
            }
        }
        for (const char* format : kFormats) {
            const std::string whole = run(std::string("--stats --format ") + format +
                                          " unformatted '" + (dir / "whole.log").string() + "'");
            // Blocks merged without their rows leave the distinct addresses
            // unknown, unless they are the only ones with addresses.
            const std::string expected = statisticsOf(whole);
            const std::string merged =
                statisticsOf(run(std::string("--format ") + format + " stats" + outputs));
            EXPECT_EQ(merged, blocksAlone && merged == withoutDistinct(merged)
                                  ? withoutDistinct(expected)
                                  : expected)
                << "trial " << trial << ", " << format << ":" << outputs;
        }
    }
}

// The README's recipe: GNU parallel cuts a log into parts at line ends and
// runs the driver on each, over local job slots and over a "host" (: is
// this machine to --sshlogin); one stats merges what they print.
TEST(DriverMerge, gnuParallelShardsMergeToTheStatisticsOfOneRun) {
    if (std::system("command -v parallel >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps brings it)";
    std::mt19937 random(7);
    const fs::path log = scratch() / "parallel.log";
    {
        const auto lines = randomLog(random, 6000);
        std::ofstream(log, std::ios::binary)
            << std::accumulate(lines.begin(), lines.end(), std::string());
    }
    const std::string driver = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch'";
    const std::string whole = run("--stats unformatted '" + log.string() + "'");
    ASSERT_NE(whole.find("Total number of IPs is "), std::string::npos);
    for (const std::string& parallel :
         {"parallel --will-cite --pipepart -a '" + log.string() + "' --block 20k -j 3 " + driver +
              " --stats --format json unformatted -",
          "parallel --will-cite -S : --pipepart -a '" + log.string() + "' --block 30k " + driver +
              " --format csv unformatted -"}) {
        const std::string merged = "stats < <(" + parallel + ")";
        std::string out;
        const std::string command = "bash -c \"" + driver + " " + merged + "\"";
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
            EXPECT_EQ(::pclose(pipe), 0) << parallel;
        }
        EXPECT_EQ(statisticsOf(out), statisticsOf(whole)) << parallel;
    }
}

}  // namespace
