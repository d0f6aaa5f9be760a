#include <gtest/gtest.h>

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
    const FindCase cases[] = {
        {kData + "find 1.2.3.4", "1.2.3.4\tDE\tGermany\n", 0},
        {kData + "find 2.0.0.1", "2.0.0.1\tUS\tUSA\n", 0},
        // Names are Windows-1252 in the list and UTF-8 on the way out.
        {kData + "find 3.0.0.0", "3.0.0.0\tCI\tC\xC3\xB4te d'Ivoire\n", 0},
        // A code the list lacks, and an address no range holds.
        {kData + "find 4.1.1.1", "4.1.1.1\tXX\tUnknown\n", 0},
        {kData + "find 5.0.0.1", "5.0.0.1\t\tUnknown\n", 0},
        {kData + "find 1.2.3.999", "Error due to wrong data entered! \n", 1},
        {kData + "find a.b.c.d", "Error due to wrong data entered! Type mismatch: octet 1 (\"a\") is not a number\n", 1},
        {kData + "find 1.2.3", "Error due to wrong data entered! Invalid argument: the address has fewer than three dots\n", 1},
        {"--data-dir /nonexistent find 1.2.3.4", "ipcountry-batch: File not found: /nonexistent/Country.dbf\n", 1},
    };
    for (const auto& c : cases) {
        const auto result = runDriver(c.arguments, true);
        EXPECT_EQ(result.out, c.output) << c.arguments;
        EXPECT_EQ(result.status, c.status) << c.arguments;
    }
}

TEST(DriverFind, missingRangeFileIsTheLookupsError) {
    const auto dir = std::string("/tmp/ipcountry-driver-norange");
    std::system(("rm -rf " + dir + " && mkdir -p " + dir + " && cp '" + IPCOUNTRY_TEST_DATA_DIR +
                 "/lookup/Country.dbf' " + dir).c_str());
    const auto result = runDriver("--data-dir " + dir + " find 1.2.3.4", true);
    EXPECT_EQ(result.out, "Error due to wrong data entered! File not found: " + dir + "/IP_db.dbf\n");
    EXPECT_EQ(result.status, 1);
}

TEST(DriverFind, badUsageExitsWithTwo) {
    for (const char* args : {"", "find", "--data-dir", "--bogus find 1.2.3.4", "lookup 1.2.3.4"}) {
        EXPECT_EQ(runDriver(args).status, 2) << args;
    }
}

}  // namespace
