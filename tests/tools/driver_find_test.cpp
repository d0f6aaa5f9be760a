#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tools/driver_support.h"

namespace {

const std::string kData = std::string("--data-dir '") + IPCOUNTRY_TEST_DATA_DIR + "/lookup' ";

struct FindCase {
    std::string arguments;
    std::string output;
    int status;
};

TEST(DriverFind, printsAddressCodeAndNameOrTheError) {
    // clang-format off
    const FindCase cases[] = {
        {kData + "find 1.2.3.4", "1.2.3.4\tDE\tGermany\n", 0},
        {kData + "find 2.0.0.1", "2.0.0.1\tUS\tUSA\n", 0},
        // Names are Windows-1252 in the list and UTF-8 on the way out.
        {kData + "find 3.0.0.0", "3.0.0.0\tCI\tC\xC3\xB4te d'Ivoire\n", 0},
        // A code the list lacks, and an address no range holds.
        {kData + "find 4.1.1.1", "4.1.1.1\tXX\tUnknown\n", 0},
        {kData + "find 5.0.0.1", "5.0.0.1\t\tUnknown\n", 0},
        // IPv6: bare, in brackets with capitals, a code the list lacks, no
        // range, link-local, and IPv4 in IPv6 notation looked up as IPv4.
        {kData + "find 2001:db8::1", "2001:db8::1\tUS\tUSA\n", 0},
        {kData + "find [2001:DB8:1::5]", "[2001:DB8:1::5]\tFR\tFrance\n", 0},
        {kData + "find 2a00::1", "2a00::1\tXX\tUnknown\n", 0},
        {kData + "find 2a01::", "2a01::\t\tUnknown\n", 0},
        {kData + "find fe80::1%eth0", "fe80::1%eth0\t\tUnknown\n", 0},
        {kData + "find ::ffff:2.0.0.1", "::ffff:2.0.0.1\tUS\tUSA\n", 0},
        {kData + "find ::ffff:300:0", "::ffff:300:0\tCI\tC\xC3\xB4te d'Ivoire\n", 0},
        {kData + "find 2001:db8:::1", "Error due to wrong data entered! Invalid argument: the address has fewer than three dots\n", 1},
        {kData + "find 1.2.3.999", "Error due to wrong data entered! \n", 1},
        {kData + "find a.b.c.d", "Error due to wrong data entered! Type mismatch: octet 1 (\"a\") is not a number\n", 1},
        {kData + "find 1.2.3", "Error due to wrong data entered! Invalid argument: the address has fewer than three dots\n", 1},
        {"--data-dir /nonexistent find 1.2.3.4", "ipcountry-batch: File not found: /nonexistent/Country.dbf\n", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto result = runDriver(c.arguments, true);
        EXPECT_EQ(result.out, c.output) << c.arguments;
        EXPECT_EQ(result.status, c.status) << c.arguments;
    }
}

// Each family needs its own file only: IPv4 answers in an older installation
// without IP6_db.dbf, and an IPv6 address reports that file as IPv4 reports its own.
TEST(DriverFind, missingRangeFileIsTheLookupsError) {
    const auto dir = std::string("/tmp/ipcountry-driver-norange");
    const std::string lookup = std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/lookup/";
    const struct {
        const char* copied;
        const char* address;
        std::string out;
    } cases[] = {
        {"", "1.2.3.4", "Error due to wrong data entered! File not found: " + dir + "/IP_db.dbf\n"},
        {"IP_db.dbf", "1.2.3.4", "1.2.3.4\tDE\tGermany\n"},
        {"IP_db.dbf", "2001:db8::1",
         "Error due to wrong data entered! File not found: " + dir + "/IP6_db.dbf\n"},
        {"IP6_db.dbf", "[2001:db8::1]", "[2001:db8::1]\tUS\tUSA\n"},
        {"IP6_db.dbf", "::ffff:1.2.3.4",
         "Error due to wrong data entered! File not found: " + dir + "/IP_db.dbf\n"},
    };
    for (const auto& c : cases) {
        std::string setup =
            "rm -rf " + dir + " && mkdir -p " + dir + " && cp " + lookup + "Country.dbf' " + dir;
        if (*c.copied) setup += " && cp " + lookup + c.copied + "' " + dir;
        std::system(setup.c_str());
        const auto result = runDriver("--data-dir " + dir + " find '" + c.address + "'", true);
        EXPECT_EQ(result.out, c.out) << c.copied << " " << c.address;
        EXPECT_EQ(result.status, c.out.starts_with("Error") ? 1 : 0);
    }
}

// Standard input is read in blocks of 64 KiB: a line cut by a block's end,
// CR LF and LF, empty lines (counted, not answered), a wrong line among good
// ones and a last line without a line end.
TEST(DriverFind, readsStandardInputLineByLineAcrossBlocks) {
    const std::string path = "/tmp/ipcountry-driver-find-input-" + std::to_string(::getpid());
    std::string input, expected;
    std::int64_t lines = 0;
    const auto add = [&](const std::string& line, const std::string& ending,
                         const std::string& answer) {
        input += line + ending;
        expected += answer;
        ++lines;
    };
    // 8191 lines of 8 bytes, so that the next line ends after the first block.
    while (input.size() < 65528) add("2.0.0.1", "\n", "2.0.0.1\tUS\tUSA\n");
    add("1.2.3.4", "\r\n", "1.2.3.4\tDE\tGermany\n");
    add("", "\r\n", "");
    add("1.2.3.999", "\n", "");
    const std::int64_t wrongLine = lines;
    add("2001:db8::1", "", "2001:db8::1\tUS\tUSA\n");
    std::ofstream(path, std::ios::binary) << input;
    const auto result = runDriverSplit(kData + "find - < '" + path + "'");
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err,
              "line " + std::to_string(wrongLine) + ": Error due to wrong data entered! \n");
    EXPECT_EQ(result.status, 1);
    std::remove(path.c_str());

    // Input that cannot be read is an error, not an empty list.
    const auto folder = runDriverSplit(kData + "find - < /tmp");
    EXPECT_EQ(folder.err, "ipcountry-batch: cannot read standard input: Is a directory\n");
    EXPECT_EQ(folder.status, 1);
}

TEST(DriverFind, badUsageExitsWithTwo) {
    for (const char* args : {"", "find", "--data-dir", "--bogus find 1.2.3.4", "lookup 1.2.3.4"}) {
        EXPECT_EQ(runDriver(args).status, 2) << args;
    }
}

}  // namespace
