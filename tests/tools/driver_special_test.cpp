// The addresses that no country holds, through the driver with the bundled
// data: find and both analyses give them no country, in every form.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "lookup/range_file.h"
#include "support/special_addresses.h"
#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;
using ipcountry::test::specialAddressForms;

const std::string kBundled = std::string("--data-dir '") + IPCOUNTRY_BIN_DIR + "' ";

class DriverSpecialTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-special-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }

    std::string file(const char* name, const std::string& text) const {
        std::ofstream(m_root / name, std::ios::binary) << text;
        return "'" + (m_root / name).string() + "'";
    }

    fs::path m_root;
};

TEST_F(DriverSpecialTest, findGivesNoCountryInAnySpecialPurposeBlock) {
    std::string addresses;
    for (const auto& form : specialAddressForms())
        if (!form.row->keepsCountry) addresses += " " + form.text;
    const auto result = runDriverSplit(kBundled + "find" + addresses);
    EXPECT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    for (const auto& form : specialAddressForms()) {
        if (form.row->keepsCountry) continue;
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << form.text;
        EXPECT_TRUE(isNoCountryLine(line, form.text)) << line << ": " << form.row->block;
    }
}

// An analysis gives no row where find gives no country: only the two
// addresses that have one come out, however the others are written.
TEST_F(DriverSpecialTest, analysesGiveNoRowInAnySpecialPurposeBlock) {
    std::string list = "8.8.8.8:53\r\n";
    std::string text = "resolver 8.8.8.8 answered\n";
    for (const auto& form : specialAddressForms()) {
        if (form.row->keepsCountry) continue;
        list += (form.ipv6Text ? "[" + form.text + "]" : form.text) + ":80\r\n";
        text += "Dec  8 10:00:01 host sshd[42]: from " + form.text + " port 22\n";
    }
    list += "[2001:4860:4860::8888]:53\r\n";
    text += "and 2001:4860:4860::8888 too\n";
    const std::string expected[] = {
        "8.8.8.8\t:53\tUSA\n2001:4860:4860::8888\t:53\tUSA\n",
        "8.8.8.8\t\tUSA\n2001:4860:4860::8888\t\tUSA\n",
    };
    const auto formatted = runDriverSplit(kBundled + "formatted " + file("list.txt", list));
    EXPECT_EQ(formatted.out, expected[0]) << formatted.err;
    EXPECT_EQ(formatted.status, 0) << formatted.err;
    const auto unformatted = runDriverSplit(kBundled + "unformatted " + file("log.txt", text));
    EXPECT_EQ(unformatted.out, expected[1]) << unformatted.err;
    EXPECT_EQ(unformatted.status, 0) << unformatted.err;
}

// The bundled data tells its age, in --version and in the report's footer alike.
TEST_F(DriverSpecialTest, versionAndReportTellTheAgeOfTheBundledRanges) {
    const auto version = runDriverSplit(kBundled + "--version");
    EXPECT_NE(version.out.find("\nData folder: " + std::string(IPCOUNTRY_BIN_DIR) + "\n"),
              std::string::npos)
        << version.out;
    EXPECT_NE(version.out.find(")\nAddress ranges as of 2026-06-17, "), std::string::npos)
        << version.out;
    EXPECT_NE(version.out.find(" days ago\nCountry names: "), std::string::npos) << version.out;
    const auto page =
        runDriverSplit(kBundled + "report unformatted " + file("log.txt", "8.8.8.8\n"));
    EXPECT_EQ(page.status, 0) << page.err;
    EXPECT_NE(page.out.find("<p>Address ranges as of 2026-06-17, "), std::string::npos);
}

// Without --data-dir the driver reads the user's folder when its range files
// are whole (here a file of the user's own that names a private block, which
// lookups follow), with the packaged country list beside it; a folder an
// update left half made is passed over.
TEST_F(DriverSpecialTest, readsTheUsersFolderOnlyWhenItsRangeFilesAreWhole) {
    if (fs::exists("/var/lib/ipcountry")) GTEST_SKIP() << "a system folder would come between";
    const fs::path user = m_root / "xdg" / "ipcountry";
    fs::create_directories(user);
    std::ofstream(user / "IP_db.dbf", std::ios::binary)
        << "00000000ZZ\r\nC0A80000DE\r\nC0A90000ZZ\r\n";
    std::ofstream(user / "provenance.txt") << "ranges=offices.csv\nranges-date=2026-12-01\n";
    ::setenv("XDG_DATA_HOME", (m_root / "xdg").c_str(), 1);
    const auto halfMade = runDriverSplit("find 192.168.1.1");
    // Cut after a line end: all there but the closing line.
    std::ofstream(user / "IP6_db.dbf", std::ios::binary)
        << std::string(32, '0') << "ZZ\r\n2A000000000000000000000000000000DE\r\n";
    const auto unclosed = runDriverSplit("find 192.168.1.1");
    std::ofstream(user / "IP6_db.dbf", std::ios::binary) << std::string(32, '0') << "ZZ\r\n";
    const auto whole = runDriverSplit("find 192.168.1.1");
    const auto version = runDriverSplit("--version");
    // Too large to read (sparse: no room taken): passed over, and named.
    fs::resize_file(user / "IP_db.dbf", ipcountry::lookup::kMaxRangeFileBytes + 1);
    const auto tooLarge = runDriverSplit("find 192.168.1.1");
    ::unsetenv("XDG_DATA_HOME");

    EXPECT_EQ(tooLarge.out, "192.168.1.1\t\tprivate\n") << tooLarge.err;
    EXPECT_NE(tooLarge.err.find((user / "IP_db.dbf").string() + " is larger than the 512 MB"),
              std::string::npos)
        << tooLarge.err;

    EXPECT_EQ(halfMade.out, "192.168.1.1\t\tprivate\n") << halfMade.err;
    EXPECT_EQ(halfMade.err, "ipcountry-batch: warning: " + (user / "IP6_db.dbf").string() +
                                " is missing: its folder is passed over\n");
    EXPECT_EQ(unclosed.out, "192.168.1.1\t\tprivate\n") << unclosed.err;
    EXPECT_NE(unclosed.err.find((user / "IP6_db.dbf").string() +
                                " is not a whole range file (cut short, or not as the "
                                "converter writes one): its folder is passed over\n"),
              std::string::npos)
        << unclosed.err;
    EXPECT_EQ(whole.err, "");
    EXPECT_EQ(whole.out, "192.168.1.1\tDE\tGermany\n") << whole.err;
    EXPECT_NE(version.out.find("Data folder: " + user.string() +
                               "\nAddress ranges: offices.csv\nAddress ranges as of 2026-12-01, "),
              std::string::npos)
        << version.out;
    EXPECT_NE(version.out.find("Country list folder: " + fs::path(IPCOUNTRY_BIN_DIR).string() +
                               "\nCountry names: "),
              std::string::npos)
        << version.out;
}

}  // namespace
