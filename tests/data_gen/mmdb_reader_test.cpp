// The MaxMind DB reader against Debian's MaxMind::DB::Writer: the ranges read
// back from a database the writer made equal the ranges it was given.
#include "mmdb_reader.h"
#include "lookup/range_set.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using ipcountry::data::Address6;
using ipcountry::data::MmdbCountries;
using ipcountry::data::readMmdbCountries;
using ipcountry::data::SourceError;

const std::string kWriter = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/../data_gen/write_mmdb.pl";

using ipcountry::test::TempDir;

bool writerAvailable() {
    return std::system("perl -MMaxMind::DB::Writer::Tree -e 1 2>/dev/null") == 0;
}

// Runs the writer; `ranges` is its input, "FIRST LAST CC" per line.
void writeDatabase(const std::filesystem::path& out, const char* layout, int ipVersion, bool alias,
                   const std::string& ranges) {
    const std::string command = "perl '" + kWriter + "' '" + out.string() + "' " + layout + " " +
                                std::to_string(ipVersion) + " " + (alias ? "1" : "0");
    FILE* pipe = ::popen(command.c_str(), "w");
    ASSERT_NE(pipe, nullptr);
    std::fwrite(ranges.data(), 1, ranges.size(), pipe);
    ASSERT_EQ(::pclose(pipe), 0) << command;
}

std::string text4(std::uint32_t a) { return ipcountry::lookup::addressText(a); }
std::string text6(Address6 a) { return ipcountry::lookup::addressText(a); }

// The ranges as the writer's input writes them, neighbours of one code
// joined: the tree stores a range as the prefixes that cover it.
template <class Range, class Text>
std::string joined(const std::vector<Range>& ranges, Text text) {
    std::vector<Range> merged;
    for (const Range& r : ranges) {
        if (!merged.empty() && merged.back().code == r.code) {
            auto next = merged.back().last;
            if (++next == r.first) {
                merged.back().last = r.last;
                continue;
            }
        }
        merged.push_back(r);
    }
    std::string out;
    for (const Range& r : merged) out += text(r.first) + " " + text(r.last) + " " + r.code + "\n";
    return out;
}

std::string readBack(const MmdbCountries& db) {
    return joined(db.ipv4, text4) + joined(db.ipv6, text6);
}

struct MmdbCase {
    const char* name;
    const char* layout;
    int ipVersion;
    bool alias;
    std::string input;     // the writer's ranges
    std::string expected;  // what is read back: IPv4 rows first, then IPv6
};

void PrintTo(const MmdbCase& c, std::ostream* os) { *os << c.name; }

class MmdbReaderTest : public testing::TestWithParam<MmdbCase> {};

TEST_P(MmdbReaderTest, readsBackTheWritersRanges) {
    if (!writerAvailable()) GTEST_SKIP() << "libmaxmind-db-writer-perl is not installed";
    const MmdbCase& c = GetParam();
    TempDir dir;
    const auto file = dir.path() / "test.mmdb";
    writeDatabase(file, c.layout, c.ipVersion, c.alias, c.input);
    const MmdbCountries db = readMmdbCountries(file.string());
    EXPECT_EQ(readBack(db), c.expected);
}

const std::string kBoth =
    "1.0.0.0 1.0.0.255 AU\n"
    "1.0.1.3 1.0.2.200 CN\n"  // no prefix boundary at either end
    "223.255.255.0 255.255.255.255 ZA\n"
    "2001:200:: 2001:200:ffff:ffff:ffff:ffff:ffff:ffff JP\n"
    "2a00:1::5 2a00:1::ffff DE\n"
    "ffff:: ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff EU\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, MmdbReaderTest,
    testing::Values(
        // IPv4 kept once although ::ffff:0:0/96, 2001::/32 and 2002::/16 lead to it too.
        MmdbCase{"isoCodeIpv6TreeWithAliases", "iso", 6, true, kBoth, kBoth},
        MmdbCase{"countryCodeIpv6TreeWithAliases", "code", 6, true, kBoth, kBoth},
        MmdbCase{"isoCodeIpv6TreeWithoutAliases", "iso", 6, false, kBoth, kBoth},
        MmdbCase{"ipv4Tree", "iso", 4, false,
                 "0.0.0.0 0.0.0.0 US\n1.0.0.0 1.0.0.255 AU\n9.9.9.9 9.9.9.10 CH\n",
                 "0.0.0.0 0.0.0.0 US\n1.0.0.0 1.0.0.255 AU\n9.9.9.9 9.9.9.10 CH\n"},
        // An alias sits beside real IPv6 data in 2001::/16.
        MmdbCase{
            "ipv6DataBesideTheTeredoAlias", "code", 6, true,
            "2001:1:: 2001:1::ffff NL\n2001:1:0:1:: 2001:1:0:1::ffff BE\n8.8.8.0 8.8.8.255 US\n",
            "8.8.8.0 8.8.8.255 US\n2001:1:: 2001:1::ffff NL\n2001:1:0:1:: 2001:1:0:1::ffff BE\n"},
        // Codes in lower case, as some databases write them, read in upper case.
        MmdbCase{"lowerCaseCodesReadInUpperCase", "iso", 4, false,
                 "1.0.0.0 1.0.0.255 de\n2.0.0.0 2.0.0.255 fR\n",
                 "1.0.0.0 1.0.0.255 DE\n2.0.0.0 2.0.0.255 FR\n"},
        MmdbCase{"recordWithoutACountryIsPassedOver", "iso", 6, true,
                 "1.0.0.0 1.0.0.255 AU\n1.0.1.0 1.0.1.255 -\n2001:200:: 2001:200::ff -\n",
                 "1.0.0.0 1.0.0.255 AU\n"}));

// Random ranges with boundaries anywhere, in both families of one IPv6 tree
// with its aliases: each written range comes back whole, nothing more.
TEST(MmdbReaderRandomTest, readsBackRandomRangesOfBothFamilies) {
    if (!writerAvailable()) GTEST_SKIP() << "libmaxmind-db-writer-perl is not installed";
    const char* const kCodes[] = {"AU", "CN", "DE", "EU", "AP", "US", "BR"};
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937_64 random(seed);
        std::string input4, input6;
        std::uint32_t next4 = static_cast<std::uint32_t>(random() % 1000);
        // Each range's code differs from the one before: neighbours of one
        // code would read back as one range.
        std::size_t code4 = 0, code6 = 0;
        Address6 next6{0x2000000000000000ULL + random() % 1000, random()};
        for (int i = 0; i < 150; ++i) {
            code4 = (code4 + 1 + random() % 6) % 7;
            const std::uint32_t first = next4 + static_cast<std::uint32_t>(random() % 3 * 1000);
            const std::uint32_t last = first + static_cast<std::uint32_t>(random() % 100000);
            input4 += text4(first) + " " + text4(last) + " " + kCodes[code4] + "\n";
            next4 = last + 1;

            code6 = (code6 + 1 + random() % 6) % 7;
            Address6 first6 = next6;
            if (random() % 2 == 0) first6.low += random() % 5000;
            if (first6 < next6) ++first6.high;
            Address6 last6 = first6;
            last6.low += random() % (std::uint64_t{1} << (random() % 60));
            if (last6 < first6) last6 = {first6.high, ~std::uint64_t{0}};
            input6 += text6(first6) + " " + text6(last6) + " " + kCodes[code6] + "\n";
            next6 = last6;
            ++next6;
        }
        TempDir dir;
        const auto file = dir.path() / "random.mmdb";
        writeDatabase(file, seed == 2 ? "code" : "iso", 6, true, input4 + input6);
        EXPECT_EQ(readBack(readMmdbCountries(file.string())), input4 + input6) << "seed " << seed;
    }
}

TEST(MmdbReaderTest, refusesAFileThatIsNoDatabase) {
    TempDir dir;
    const auto file = dir.path() / "not.mmdb";
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        std::fputs("1.0.0.0,1.0.0.255,AU\n", f);
        std::fclose(f);
    }
    EXPECT_THROW(readMmdbCountries(file.string()), SourceError);
}

// A database cut short loses its metadata (written at the end) and is refused.
TEST(MmdbReaderTest, refusesADatabaseCutShort) {
    if (!writerAvailable()) GTEST_SKIP() << "libmaxmind-db-writer-perl is not installed";
    TempDir dir;
    const auto file = dir.path() / "cut.mmdb";
    writeDatabase(file, "iso", 6, true, kBoth);
    std::filesystem::resize_file(file, std::filesystem::file_size(file) / 2);
    EXPECT_THROW(readMmdbCountries(file.string()), SourceError);
}

}  // namespace
