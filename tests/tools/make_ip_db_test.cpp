// ipcountry-make-ip-db as a user runs it: the data they bring, then the
// driver answering from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct ConverterRun {
    std::string err;
    int status = -1;
};

ConverterRun makeIpDb(const std::string& arguments) {
    const fs::path err = fs::temp_directory_path() / "ipcountry-make-ip-db.err";
    const std::string command = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-make-ip-db' " +
                                arguments + " 2>'" + err.string() + "' >/dev/null";
    const int raw = std::system(command.c_str());
    return {readFile(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

class MakeIpDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        fs::copy_file(std::string(IPCOUNTRY_TEST_DATA_DIR) + "/driver/Country.dbf",
                      m_dir / "Country.dbf");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string source(const std::string& text) {
        std::ofstream(m_dir / "source.csv", std::ios::binary) << text;
        return "'" + (m_dir / "source.csv").string() + "'";
    }
    std::string target(const char* name) const { return "'" + (m_dir / name).string() + "'"; }
    std::string find(const std::string& addresses) const {
        return runDriver("--data-dir '" + m_dir.string() + "' find " + addresses, true).out;
    }

    const fs::path m_dir = fs::temp_directory_path() / "ipcountry-make-ip-db-test";
};

// One source holding both families, as a database's CSV often does, in the
// forms the free databases use: the driver answers from what was made.
TEST_F(MakeIpDbTest, bothFamiliesOfOneSourceServeTheDriver) {
    const std::string csv = source(
        "\xEF\xBB\xBF"
        "start,end,country,name\r\n"
        "\"1.0.0.0\",\"1.0.0.255\",\"DE\",\"Germany, Federal Republic\"\r\n"
        "2.0.0.0,2.0.0.255,KR\r\n"
        "\"0.0.0.0\",\"0.0.0.1\",\"-\",\"-\"\r\n"
        "2001:db8::,2001:db8::ffff,US,x\r\n"
        "\"2001:db8::\",\"2001:db8::\",QQ\r\n");
    ASSERT_EQ(makeIpDb(csv + " " + target("IP_db.dbf")).status, 0);
    const ConverterRun ipv6 = makeIpDb("--ipv6 " + csv + " " + target("IP6_db.dbf"));
    ASSERT_EQ(ipv6.status, 0) << ipv6.err;
    EXPECT_EQ(ipv6.err, "2 rows, 2 disjoint ranges, 4 lines; 3 IPv4 rows passed over\n");
    EXPECT_EQ(find("1.0.0.7 2.0.0.255 2.0.1.0 2001:db8::1 2001:db8::"),
              "1.0.0.7\tDE\tGermany\n2.0.0.255\tKR\tKorea, Republic of\n2.0.1.0\t\tUnknown\n"
              "2001:db8::1\tUS\tUSA\n2001:db8::\tQQ\tThe \"Quoted\" Isles\n");
}

// A malformed source is named with its line, and the file that was there
// stays whole: nothing is left half written, not even beside it.
TEST_F(MakeIpDbTest, failuresLeaveTheEarlierFileAsItWas) {
    ASSERT_EQ(makeIpDb(source("1.0.0.0,1.0.0.255,DE\n") + " " + target("IP_db.dbf")).status, 0);
    const std::string before = readFile(m_dir / "IP_db.dbf");
    const struct {
        std::string csv;
        std::string arguments;
        std::string err;
        int status;
    } cases[] = {
        {"1.0.0.0,1.0.0.255,DE\n1.0.1.0,1.0.1.255\n", "", "source.csv: line 2: expected", 1},
        {"4294967296,4294967296,DE\n", "",
         "line 1: the start is not an IPv4 address (an IPv6 number? use --ipv6)", 1},
        {"2001:db8::,2001:db8::ff,DE\n", "", "no IPv4 rows, but 1 IPv6 rows (use --ipv6)", 1},
        {"1.0.0.0,1.0.0.255,DE\n", "--fast", "unknown option --fast", 2},
    };
    for (const auto& c : cases) {
        const ConverterRun run =
            makeIpDb(c.arguments + " " + source(c.csv) + " " + target("IP_db.dbf"));
        EXPECT_EQ(run.status, c.status) << c.csv;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(readFile(m_dir / "IP_db.dbf"), before) << c.csv;
    }
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) ++files;
    EXPECT_EQ(files, 3);  // Country.dbf, IP_db.dbf and the source: no temporary left
    EXPECT_EQ(makeIpDb(source("1.0.0.0,1.0.0.255,DE\n") + " '" + m_dir.string() + "/no/IP_db.dbf'")
                  .status,
              1);
}

}  // namespace
