#include "common/provenance.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using ipcountry::provenance::dataAgeDays;
using ipcountry::provenance::describeAge;
using ipcountry::provenance::describeData;

// The day the issue measured on: the bundled ranges were 174 days old.
constexpr sys_days kToday = sys_days{year{2026} / December / 8};

class ProvenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-provenance-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path folder(const std::string& name, const char* provenance) const {
        fs::create_directories(m_root / name);
        if (provenance) std::ofstream(m_root / name / "provenance.txt") << provenance;
        return m_root / name;
    }

    fs::path m_root;
};

TEST(DescribeAge, countsWholeDaysAcrossMonthsAndYears) {
    const struct {
        year_month_day date;
        sys_days today;
        const char* text;
    } cases[] = {
        {year{2026} / June / 17, kToday, "as of 2026-06-17, 174 days ago"},
        {year{2026} / December / 7, kToday, "as of 2026-12-07, 1 day ago"},
        {year{2026} / December / 8, kToday, "as of 2026-12-08, today"},
        {year{2026} / December / 11, kToday, "as of 2026-12-11, 3 days after today"},
        {year{2023} / December / 31, sys_days{year{2024} / March / 1},
         "as of 2023-12-31, 61 days ago"},  // through a leap day
    };
    for (const auto& c : cases) EXPECT_EQ(describeAge(c.date, c.today), c.text);
}

// What --version and the report's footer say, and what a monitor reads.
TEST_F(ProvenanceTest, namesTheFolderTheSourcesAndTheAgeOfTheRanges) {
    const struct {
        const char* name;
        const char* provenance;  // nullptr: no file
        std::vector<std::string> lines;
        std::optional<long> age;
    } cases[] = {
        {"bundled",
         "# comment\r\nranges=pkg 2.3\r\nranges-licence=CC BY 4.0\r\nranges-date=2026-06-17\r\n"
         "names=iso 4\r\nnames-licence=LGPL\r\nflags=f 1\r\nmap=m 2\r\nmap-licence=pd\r\n",
         {"Address ranges: pkg 2.3 (CC BY 4.0)", "Address ranges as of 2026-06-17, 174 days ago",
          "Country names: iso 4 (LGPL)", "Flags: f 1", "Map: m 2 (pd)"},
         174},
        {"severalSourcesInPairsTheOldestDateCounts",
         "ranges=registries\nranges-licence=public\nranges-date=2026-12-01\n"
         "ranges=dbip-lite 2026-11\nranges-licence=CC BY 4.0, db-ip.com\n"
         "ranges-date=2026-11-01\n",
         {"Address ranges: registries (public)",
          "Address ranges: dbip-lite 2026-11 (CC BY 4.0, "
          "db-ip.com)",
          "Address ranges as of 2026-11-01, 37 days ago"},
         37},
        {"networksAfterTheRanges",
         "names=iso 4\nnetworks=asn 2.3\nnetworks-licence=CC BY 4.0, db-ip.com\nranges=pkg 1\n",
         {"Address ranges: pkg 1", "Country names: iso 4",
          "Networks: asn 2.3 (CC BY 4.0, db-ip.com)"},
         std::nullopt},
        {"noDate", "ranges=pkg 1\n", {"Address ranges: pkg 1"}, std::nullopt},
        {"notADate",
         "ranges=pkg 1\nranges-date=2026-02-30\n",
         {"Address ranges: pkg 1", "Address ranges of an unknown date: *"},
         std::nullopt},
        {"noSource", "unknown=x\n", {"Data: unknown, * names no source"}, std::nullopt},
        {"noFile", nullptr, {"Data: unknown, * cannot be read"}, std::nullopt},
    };
    for (const auto& c : cases) {
        const fs::path dir = folder(c.name, c.provenance);
        std::vector<std::string> lines = describeData(dir, dir, kToday);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Data folder: " + dir.string()) << c.name;
        lines.erase(lines.begin());
        ASSERT_EQ(lines.size(), c.lines.size()) << c.name;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& want = c.lines[i];
            const auto star = want.find('*');
            if (star == std::string::npos) {
                EXPECT_EQ(lines[i], want) << c.name;
            } else {
                EXPECT_TRUE(lines[i].starts_with(want.substr(0, star)) &&
                            lines[i].ends_with(want.substr(star + 1)))
                    << c.name << ": " << lines[i];
            }
        }
        EXPECT_EQ(dataAgeDays(dir, kToday), c.age) << c.name;
    }
}

// Ranges from the user's folder, the country list from the package's: each
// named with its own folder's sources.
TEST_F(ProvenanceTest, rangesAndCountryListFromTwoFolders) {
    const fs::path user = folder("user", "ranges=registries\nranges-date=2026-12-06\n");
    const fs::path packaged =
        folder("packaged", "ranges=old 1\nranges-date=2026-06-17\nnames=iso 4\nflags=f 1\n");
    EXPECT_EQ(
        describeData(user, packaged, kToday),
        (std::vector<std::string>{"Data folder: " + user.string(), "Address ranges: registries",
                                  "Address ranges as of 2026-12-06, 2 days ago",
                                  "Country list folder: " + packaged.string(),
                                  "Country names: iso 4", "Flags: f 1"}));
}

// The provenance files written outside the program (by scripts/build-data,
// and the bundled one it wrote) use only keys the reader knows, and name
// every source the reader describes: a key renamed on one side would leave
// --version silent about it.
TEST(ProvenanceKeys, writtenByTheDataScriptAreTheReadersKeys) {
    const fs::path source = IPCOUNTRY_SOURCE_DIR;
    std::ifstream script(source / "scripts" / "build-data");
    std::ifstream bundled(source / "data" / "provenance.txt");
    ASSERT_TRUE(script && bundled);
    // The script's keys: the KEY= lines of its here-document for provenance.txt.
    const auto keysOf = [](std::istream& in, bool hereDocument) {
        std::vector<std::string> keys;
        bool inside = !hereDocument;
        for (std::string line; std::getline(in, line);) {
            if (hereDocument && line.starts_with("cat > data/provenance.txt <<END")) inside = true;
            if (hereDocument && line == "END") inside = false;
            const auto equals = line.find('=');
            if (inside && !line.starts_with('#') && equals != std::string::npos &&
                line.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") == equals)
                keys.push_back(line.substr(0, equals));
        }
        return keys;
    };
    for (const auto& [name, keys] : {std::pair{"scripts/build-data", keysOf(script, true)},
                                     std::pair{"data/provenance.txt", keysOf(bundled, false)}}) {
        for (const std::string& key : keys)
            EXPECT_TRUE(ipcountry::provenance::isKnownKey(key)) << name << ": " << key;
        for (const std::string_view known : ipcountry::provenance::keys::kSources) {
            EXPECT_NE(std::find(keys.begin(), keys.end(), known), keys.end())
                << name << ": " << known;
            EXPECT_NE(std::find(keys.begin(), keys.end(),
                                std::string(known) +
                                    std::string(ipcountry::provenance::keys::kLicenceSuffix)),
                      keys.end())
                << name << ": " << known;
        }
        EXPECT_NE(std::find(keys.begin(), keys.end(), ipcountry::provenance::keys::kRangesDate),
                  keys.end())
            << name;
    }
    EXPECT_FALSE(ipcountry::provenance::isKnownKey("range"));
    EXPECT_FALSE(ipcountry::provenance::isKnownKey("ranges-licence-licence"));
}

}  // namespace
