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

// Standard input answered on several threads gives exactly the rows and
// messages of one thread, in the same order (both streams in one), with the
// same line numbers: some 200 000 lines of every kind, CR LF in one half, a
// line longer than a block, lines cut by every block border, a last line
// without a line end; read from a file and through a pipe, which hands
// over blocks of other sizes; and with IP6_db.dbf missing, so that every
// IPv6 line fails with the one try of that file.
TEST(DriverFind, standardInputOnThreadsAnswersAsOneThread) {
    const std::string path = "/tmp/ipcountry-driver-find-threads-" + std::to_string(::getpid());
    std::string input;
    std::uint32_t seed = 17;
    const auto next = [&seed](std::uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t kind = next(100);
        if (kind == 0)
            input += "1.2.3.999";
        else if (kind == 1)
            input += "a.b.c.d";
        else if (kind < 4)
            input += "";
        else if (kind < 14)
            input += "2001:db8::" + std::to_string(next(10));
        else if (kind == 14)
            input += "fe80::1%eth0";
        else
            input += std::to_string(next(7)) + "." + std::to_string(next(256)) + ".0." +
                     std::to_string(next(256));
        if (i == 100000) input += std::string(70000, '7');
        input += i < 100000 ? "\r\n" : "\n";
    }
    input += "2.0.0.1";
    std::ofstream(path, std::ios::binary) << input;

    const std::string noIpv6 = "/tmp/ipcountry-driver-find-threads-noipv6";
    const std::string lookup = std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/lookup/";
    std::system(("rm -rf " + noIpv6 + " && mkdir -p " + noIpv6 + " && cp " + lookup +
                 "Country.dbf' " + lookup + "IP_db.dbf' " + noIpv6)
                    .c_str());
    const std::string fromFile = "find - < '" + path + "'";
    const struct {
        std::string options;
        std::string feed;
        std::string command;
    } cases[] = {
        {kData, "", fromFile},
        {kData + "--format csv ", "", fromFile},
        {kData + "--format json ", "", fromFile},
        {"--data-dir " + noIpv6 + " ", "", fromFile},
        {kData, "", "find 2.0.0.1 - 1.2.3.999 < '" + path + "'"},
    };
    for (const auto& c : cases) {
        const auto one = runDriver(c.options + "--threads 1 " + c.command, true);
        ASSERT_GT(one.out.size(), 2000000u) << c.options << c.command;
        EXPECT_EQ(one.status, 1);
        for (const char* threads : {"", "--threads 2 ", "--threads 5 "}) {
            const auto many = runDriver(c.options + threads + c.command, true);
            EXPECT_TRUE(many.out == one.out) << c.options << threads << c.command;
            EXPECT_EQ(many.status, one.status) << c.options << threads << c.command;
        }
    }
    // Through a pipe: the same rows and messages as from the file on one thread.
    const auto one = runDriver(kData + "--threads 1 " + fromFile, true);
    const auto piped =
        runDriver("--version > /dev/null; cat '" + path + "' | '" + IPCOUNTRY_BIN_DIR +
                      "/ipcountry-batch' " + kData + "--threads 2 find -",
                  true);
    EXPECT_TRUE(piped.out == one.out);
    std::remove(path.c_str());
    std::system(("rm -rf " + noIpv6).c_str());

    // Input that cannot be read is the same error on threads.
    const auto folder = runDriverSplit(kData + "--threads 2 find - < /tmp");
    EXPECT_EQ(folder.err, "ipcountry-batch: cannot read standard input: Is a directory\n");
    EXPECT_EQ(folder.status, 1);
}

TEST(DriverFind, badUsageExitsWithTwo) {
    for (const char* args : {"", "find", "--data-dir", "--bogus find 1.2.3.4", "lookup 1.2.3.4"}) {
        EXPECT_EQ(runDriver(args).status, 2) << args;
    }
}

}  // namespace
