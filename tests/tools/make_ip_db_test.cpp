// ipcountry-make-ip-db as a user runs it: the data they bring, then the
// driver answering from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/special_addresses.h"

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

class MakeIpDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-make-ip-db-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_dir = m_root / "data";
        fs::create_directories(m_dir);
        fs::copy_file(std::string(IPCOUNTRY_TEST_DATA_DIR) + "/driver/Country.dbf",
                      m_dir / "Country.dbf");
    }
    void TearDown() override { fs::remove_all(m_root); }

    ConverterRun makeIpDb(const std::string& arguments) const {
        const fs::path err = m_root / "make-ip-db.err";
        const std::string command = std::string("'") + IPCOUNTRY_BIN_DIR +
                                    "/ipcountry-make-ip-db' " + arguments + " 2>'" + err.string() +
                                    "' >/dev/null";
        const int raw = std::system(command.c_str());
        return {readFile(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
    }

    std::string source(const std::string& text) {
        std::ofstream(m_root / "source.csv", std::ios::binary) << text;
        return "'" + (m_root / "source.csv").string() + "'";
    }
    std::string target(const char* name) const { return "'" + (m_dir / name).string() + "'"; }
    std::string find(const std::string& addresses) const {
        return runDriver("--data-dir '" + m_dir.string() + "' find " + addresses, true).out;
    }

    fs::path m_root;  // unique per run; the source and messages stay out of the data folder
    fs::path m_dir;
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
        "2a00:db8::,2a00:db8::ffff,US,x\r\n"
        "\"2a00:db8::\",\"2a00:db8::\",QQ\r\n");
    ASSERT_EQ(makeIpDb(csv + " " + target("IP_db.dbf")).status, 0);
    const ConverterRun ipv6 = makeIpDb("--ipv6 " + csv + " " + target("IP6_db.dbf"));
    ASSERT_EQ(ipv6.status, 0) << ipv6.err;
    EXPECT_EQ(ipv6.err, "2 rows, 4 lines; 3 IPv4 rows passed over\n");
    EXPECT_EQ(find("1.0.0.7 2.0.0.255 2.0.1.0 2a00:db8::1 2a00:db8::"),
              "1.0.0.7\tDE\tGermany\n2.0.0.255\tKR\tKorea, Republic of\n2.0.1.0\t\tunknown\n"
              "2a00:db8::1\tUS\tUSA\n2a00:db8::\tQQ\tThe \"Quoted\" Isles\n");
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
        {"1.0.0.0,1.0.0.255,DE\n\n1.0.1.0,1.0.1.255,de\n", "",
         "source.csv: line 3: the country code is not two upper-case letters", 1},
        // Out of order, so read a second time, whole: the fault is still named.
        {"1.0.1.0,1.0.1.255,DE\n1.0.0.0,1.0.0.255,DE\n1.0.2.0,1.0.2.255,de\n", "",
         "source.csv: line 3: the country code is not two upper-case letters", 1},
        // Nothing left to write: a file of unknowns would look like a success.
        {"", "", "source.csv: the file is empty\n", 1},
        {"# only a comment\n", "", "source.csv: holds no country ranges\n", 1},
        {"10.0.0.0,10.255.255.255,DE\n192.168.0.0,192.168.255.255,DE\n", "",
         "yields no IPv4 range outside the special-purpose address blocks", 1},
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
    // Country.dbf, IP_db.dbf and the index the converter saved beside it:
    // no temporary left.
    EXPECT_EQ(files, 3);
    EXPECT_TRUE(fs::exists(m_dir / "IP_db.dbf.index"));
    EXPECT_EQ(makeIpDb(source("1.0.0.0,1.0.0.255,DE\n") + " '" + m_dir.string() + "/no/IP_db.dbf'")
                  .status,
              1);
    // A source that cannot be read is named once, with the system's reason.
    fs::create_directory(m_root / "folder.csv");
    source("1.0.0.0,1.0.0.255,DE\n");
    fs::permissions(m_root / "source.csv", fs::perms::none);
    const struct {
        std::string path;
        int error;
    } unread[] = {
        {(m_root / "missing.csv").string(), ENOENT},
        {(m_root / "folder.csv").string(), EISDIR},
        {(m_root / "source.csv").string(), EACCES},
    };
    for (const auto& c : unread) {
        // Root reads a file without permissions all the same.
        if (c.error == EACCES && ::access(c.path.c_str(), R_OK) == 0) continue;
        const ConverterRun run = makeIpDb("'" + c.path + "' " + target("IP_db.dbf"));
        EXPECT_EQ(run.status, 1) << c.path;
        EXPECT_EQ(run.err, c.path + ": " + std::strerror(c.error) + "\n");
        EXPECT_EQ(readFile(m_dir / "IP_db.dbf"), before) << c.path;
    }
}

// A source that claims the whole address space, as the bundled data's
// upstream claimed private and documentation blocks: the driver finds no
// country in any special-purpose block, in every form of the address, and
// the source's own where the registry says the block is globally reachable;
// --keep-special keeps the source's word.
TEST_F(MakeIpDbTest, specialPurposeBlocksLoseTheSourcesCountryUnlessKept) {
    const std::string csv =
        source("0.0.0.0,255.255.255.255,DE\n::,ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,DE\n");
    std::string addresses;
    const auto forms = ipcountry::test::specialAddressForms();
    for (const auto& form : forms) addresses += " " + form.text;
    for (const bool keep : {false, true}) {
        const std::string options = keep ? "--keep-special " : "";
        ASSERT_EQ(makeIpDb(options + csv + " " + target("IP_db.dbf")).status, 0);
        const ConverterRun ipv6 = makeIpDb(options + "--ipv6 " + csv + " " + target("IP6_db.dbf"));
        ASSERT_EQ(ipv6.status, 0) << ipv6.err;
        std::istringstream answers(find(addresses));
        for (const auto& form : forms) {
            std::string line;
            ASSERT_TRUE(std::getline(answers, line)) << form.text;
            // The last address of each family cannot start a range of its own.
            const bool last = std::string(form.row->address) == "255.255.255.255" ||
                              std::string(form.row->address).starts_with("ffff:ffff");
            // Nor is a link-local address ever looked up: it names a host on one link.
            const bool linkLocal = std::string_view(form.row->block).starts_with("fe80::/10");
            const bool country = form.row->keepsCountry || (keep && !last && !linkLocal);
            // No country: no code, and the reason.
            if (country)
                EXPECT_EQ(line, form.text + "\tDE\tGermany") << form.row->block;
            else
                EXPECT_TRUE(isNoCountryLine(line, form.text))
                    << line << ": " << form.row->block << (keep ? ", --keep-special" : "");
        }
    }
}

// The source read as the updater reads it: packed by the system's own tools,
// and a registry's statistics file as well as a CSV.
TEST_F(MakeIpDbTest, readsPackedSourcesAndRegistryFilesAsTheUpdaterDoes) {
    const std::string csv = "1.0.0.0,1.0.0.255,DE\n2a00:db8::,2a00:db8::ffff,US\n";
    const std::string registry =
        "2|ripencc|1733353199|2|19830705|20241203|+0100\n"
        "ripencc|*|ipv4|*|1|summary\n"
        "ripencc|*|ipv6|*|1|summary\n"
        "ripencc|DE|ipv4|1.0.0.0|256|20100712|allocated|D3\n"
        "ripencc|US|ipv6|2a00:db8::|112|20080101|allocated|D4\n";
    const struct {
        const char* name;
        std::string text;
        const char* pack;  // a command that packs source.csv (@) in place, or empty
    } cases[] = {
        {"plainCsv", csv, ""},
        {"gzip", csv, "gzip -c @ > @.p && mv @.p @"},
        {"xz", csv, "xz -c @ > @.p && mv @.p @"},
        {"registry", registry, ""},
        {"registryPacked", registry, "bzip2 -c @ > @.p && mv @.p @"},
    };
    for (const auto& c : cases) {
        const std::string file = source(c.text);
        std::string pack = c.pack;
        for (auto at = pack.find('@'); at != std::string::npos;
             at = pack.find('@', at + file.size()))
            pack.replace(at, 1, file);
        if (!pack.empty()) {
            ASSERT_EQ(std::system(pack.c_str()), 0) << pack;
        }
        const ConverterRun v4 = makeIpDb(file + " " + target("IP_db.dbf"));
        const ConverterRun v6 = makeIpDb("--ipv6 " + file + " " + target("IP6_db.dbf"));
        EXPECT_EQ(v4.status, 0) << c.name << ": " << v4.err;
        EXPECT_EQ(v6.status, 0) << c.name << ": " << v6.err;
        EXPECT_EQ(v4.err, "1 rows, 3 lines; 1 IPv6 rows passed over\n") << c.name;
        EXPECT_EQ(find("1.0.0.7 1.0.1.0 2a00:db8::1"),
                  "1.0.0.7\tDE\tGermany\n1.0.1.0\t\tunknown\n2a00:db8::1\tUS\tUSA\n")
            << c.name;
    }
}

}  // namespace
