// The MaxMind DB writer held to libmaxminddb, the reader nginx, syslog-ng and
// GoAccess use: every range of random databases answers its record at its
// ends, past them and inside, in both families and through the IPv4 aliases;
// values at every size border of the encoding read back; the record sizes,
// the metadata, and the data folder's countries, names and continents.
#include "mmdb_writer.h"
#include "lookup/range_set.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <maxminddb.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "country_mmdb.h"
#include "lookup/error.h"
#include "support/temp_dir.h"

namespace {

namespace mmdb = ipcountry::data::mmdb;
using ipcountry::lookup::Address6;
using ipcountry::test::TempDir;
using mmdb::Value;

std::string text4(std::uint32_t a) { return ipcountry::lookup::addressText(a); }
std::string text6(Address6 a) { return ipcountry::lookup::addressText(a); }

// A database opened by libmaxminddb from the bytes we wrote.
class Opened {
public:
    explicit Opened(const std::string& bytes) : m_file(m_dir.write("test.mmdb", bytes)) {
        m_status = MMDB_open(m_file.c_str(), MMDB_MODE_MMAP, &m_db);
    }
    ~Opened() {
        if (m_status == MMDB_SUCCESS) MMDB_close(&m_db);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    int status() const { return m_status; }
    MMDB_s& db() { return m_db; }

    // The string at `path` of the address's record; nullopt when there is
    // none. A failed lookup is a test failure, with "!" as the answer.
    std::optional<std::string> find(const std::string& address, const char* const* path) {
        int gai = 0, error = 0;
        MMDB_lookup_result_s result = MMDB_lookup_string(&m_db, address.c_str(), &gai, &error);
        if (gai != 0 || error != MMDB_SUCCESS) {
            ADD_FAILURE() << address << ": " << MMDB_strerror(error);
            return "!";
        }
        if (!result.found_entry) return std::nullopt;
        MMDB_entry_data_s data;
        if (MMDB_aget_value(&result.entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
            data.type != MMDB_DATA_TYPE_UTF8_STRING)
            return "?";
        return std::string(data.utf8_string, data.data_size);
    }
    std::optional<std::string> code(const std::string& address) {
        static const char* const kPath[] = {"code", nullptr};
        return find(address, kPath);
    }

private:
    TempDir m_dir{"ipcountry-mmdb"};
    std::string m_file;
    MMDB_s m_db{};
    int m_status = -1;
};

// A database with the metadata every reader needs.
mmdb::Database database() {
    mmdb::Database db;
    db.metadata.databaseType = "test";
    db.metadata.buildEpoch = 1;
    return db;
}

Value codeRecord(const std::string& code) { return Value::mapOf({{"code", Value::string(code)}}); }

// The record of `a` by the ranges themselves, as the reference.
template <class Range, class Address>
std::optional<std::uint32_t> expected(const std::vector<Range>& ranges, Address a) {
    auto after = std::upper_bound(ranges.begin(), ranges.end(), a,
                                  [](Address x, const Range& r) { return x < r.first; });
    if (after == ranges.begin()) return std::nullopt;
    --after;
    if (a <= after->last) return after->record;
    return std::nullopt;
}

struct Shape {
    const char* name;
    unsigned seed;
    int ranges;
    int widestBits;  // how wide a range may be, in host bits
    int records;
};

// Random sorted disjoint ranges whose borders fall anywhere: not only on
// block borders, some one address wide, some touching their neighbour.
template <class Address>
std::vector<mmdb::RecordRange<Address>> randomRanges(std::mt19937_64& random, const Shape& shape,
                                                     Address lowest, Address highest) {
    std::vector<Address> borders;
    auto draw = [&]() -> Address {
        if constexpr (std::is_same_v<Address, std::uint32_t>) {
            return static_cast<std::uint32_t>(random());
        } else {
            // Most IPv6 borders fall in the first 64 bits, as the registries' do.
            Address6 a{random(), (random() % 3 == 0) ? random() : 0};
            return a;
        }
    };
    for (int i = 0; i < 2 * shape.ranges; ++i) borders.push_back(draw());
    borders.push_back(lowest);
    borders.push_back(highest);
    std::sort(borders.begin(), borders.end());
    borders.erase(std::unique(borders.begin(), borders.end()), borders.end());
    std::vector<mmdb::RecordRange<Address>> ranges;
    for (std::size_t i = 0; i + 1 < borders.size(); i += 1 + random() % 2) {
        Address last = borders[i + 1];
        if (random() % 4 != 0) --last;  // else it touches the next range
        if (last < borders[i]) last = borders[i];
        if (!ranges.empty() && !(ranges.back().last < borders[i])) continue;
        ranges.push_back({borders[i], last, static_cast<std::uint32_t>(random() % shape.records)});
    }
    return ranges;
}

template <class Address>
std::vector<Address> probesOf(const std::vector<mmdb::RecordRange<Address>>& ranges) {
    std::vector<Address> probes;
    for (const auto& r : ranges) {
        Address before = r.first, after = r.last, middle = r.first;
        --before;
        ++after;
        if constexpr (std::is_same_v<Address, std::uint32_t>) {
            middle = r.first + (r.last - r.first) / 2;
        } else {
            middle.high = r.first.high + (r.last.high - r.first.high) / 2;
        }
        for (const Address a : {r.first, r.last, before, after, middle}) probes.push_back(a);
    }
    return probes;
}

class RandomDatabases : public testing::TestWithParam<Shape> {};

TEST_P(RandomDatabases, answerEveryRangeAsTheRangesSay) {
    const Shape shape = GetParam();
    std::mt19937_64 random(shape.seed);
    mmdb::Database db = database();
    for (int i = 0; i < shape.records; ++i)
        db.records.push_back(codeRecord("R" + std::to_string(i)));
    db.ipv4 = randomRanges<std::uint32_t>(random, shape, 0, 0xFFFFFFFF);
    // IPv6 ranges everywhere, the IPv4 places included: the IPv4 space must win there.
    db.ipv6 = randomRanges<Address6>(random, shape, Address6{}, Address6::max());
    Opened opened(mmdb::writeDatabase(db));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    auto name = [](std::optional<std::uint32_t> r) {
        return r ? std::optional<std::string>("R" + std::to_string(*r)) : std::nullopt;
    };
    for (const std::uint32_t a : probesOf(db.ipv4)) {
        const auto want = name(expected(db.ipv4, a));
        ASSERT_EQ(opened.code(text4(a)), want) << text4(a);
        ASSERT_EQ(opened.code("::ffff:" + text4(a)), want) << "::ffff:" + text4(a);
        char sixToFour[64];
        std::snprintf(sixToFour, sizeof sixToFour, "2002:%x:%x:%x::", a >> 16, a & 0xFFFF,
                      static_cast<unsigned>(random() & 0xFFFF));
        ASSERT_EQ(opened.code(sixToFour), want) << sixToFour;
    }
    auto ipv4Place = [](Address6 a) {
        return (a.high == 0 && (a.low >> 32) == 0) || (a.high == 0 && (a.low >> 32) == 0xFFFF) ||
               (a.high >> 48) == 0x2002;
    };
    for (const Address6 a : probesOf(db.ipv6)) {
        if (ipv4Place(a)) continue;
        ASSERT_EQ(opened.code(text6(a)), name(expected(db.ipv6, a))) << text6(a);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RandomDatabases,
                         testing::Values(Shape{"few wide ranges", 1, 8, 32, 2},
                                         Shape{"many narrow ranges", 2, 3000, 12, 40},
                                         Shape{"one record for all", 3, 500, 20, 1},
                                         Shape{"many records", 4, 2000, 32, 300},
                                         Shape{"neighbours", 5, 5000, 4, 3}),
                         [](const testing::TestParamInfo<Shape>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST(MmdbWriter, wholeSpacesAndSingleAddressesAtTheEnds) {
    mmdb::Database db = database();
    db.records = {codeRecord("A"), codeRecord("B")};
    db.ipv4 = {{0, 0, 0}, {1, 0xFFFFFFFE, 1}, {0xFFFFFFFF, 0xFFFFFFFF, 0}};
    db.ipv6 = {{Address6{0x3000000000000000ull, 0}, Address6::max(), 0}};
    Opened opened(mmdb::writeDatabase(db));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    EXPECT_EQ(opened.code("0.0.0.0"), "A");
    EXPECT_EQ(opened.code("0.0.0.1"), "B");
    EXPECT_EQ(opened.code("255.255.255.254"), "B");
    EXPECT_EQ(opened.code("255.255.255.255"), "A");
    EXPECT_EQ(opened.code("::ffff:255.255.255.255"), "A");
    EXPECT_EQ(opened.code("2002:ffff:ffff::"), "A");
    EXPECT_EQ(opened.code("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "A");
    EXPECT_EQ(opened.code("2fff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), std::nullopt);
    EXPECT_EQ(opened.code("::1:0:0"), std::nullopt);
}

TEST(MmdbWriter, anEmptyDatabaseIsValidAndAnswersNothing) {
    mmdb::Database db = database();
    Opened opened(mmdb::writeDatabase(db));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    for (const char* a : {"1.2.3.4", "::", "2002::1", "::ffff:1.2.3.4", "ffff::"})
        EXPECT_EQ(opened.code(a), std::nullopt) << a;
}

TEST(MmdbWriter, refusesRangesItCannotWrite) {
    struct Case {
        const char* name;
        std::vector<mmdb::RecordRange4> ipv4;
        std::vector<mmdb::RecordRange6> ipv6;
    };
    const Case cases[] = {
        {"descending", {{10, 20, 0}, {5, 8, 0}}, {}},
        {"overlapping", {{10, 20, 0}, {20, 30, 0}}, {}},
        {"ends before it starts", {{10, 9, 0}}, {}},
        {"no such record", {{10, 20, 1}}, {}},
        {"IPv6 overlapping",
         {},
         {{Address6{1, 0}, Address6{2, 0}, 0}, {Address6{2, 0}, Address6{3, 0}, 0}}},
        {"no build time", {}, {}},
    };
    for (const auto& c : cases) {
        mmdb::Database db = database();
        db.records = {codeRecord("A")};
        db.ipv4 = c.ipv4;
        db.ipv6 = c.ipv6;
        if (std::string_view(c.name) == "no build time") db.metadata.buildEpoch = 0;
        EXPECT_THROW(mmdb::writeDatabase(db), mmdb::WriteError) << c.name;
    }
}

// Every size and integer width the encoding changes at, read back.
TEST(MmdbWriter, valuesReadBackAtEverySizeBorder) {
    const std::size_t lengths[] = {0, 1, 28, 29, 30, 284, 285, 286, 65820, 65821, 65822, 70000};
    const std::uint64_t numbers[] = {
        0, 1, 255, 256, 65535, 65536, 0xFFFFFF, 0xFFFFFFFFull, 0x100000000ull, ~std::uint64_t{0}};
    mmdb::Database db = database();
    std::vector<Value::Entry> fields;
    for (const std::size_t n : lengths) {
        std::string text(n, 'x');
        if (n > 0) text.back() = 'y';
        fields.push_back({"s" + std::to_string(n), Value::string(text)});
    }
    for (const std::uint64_t n : numbers) {
        fields.push_back({"u64_" + std::to_string(n), Value::uint64(n)});
        if (n <= 0xFFFFFFFFull)
            fields.push_back(
                {"u32_" + std::to_string(n), Value::uint32(static_cast<std::uint32_t>(n))});
        if (n <= 0xFFFF)
            fields.push_back(
                {"u16_" + std::to_string(n), Value::uint16(static_cast<std::uint16_t>(n))});
    }
    std::vector<Value> many;
    for (int i = 0; i < 300; ++i) many.push_back(Value::uint32(static_cast<std::uint32_t>(i)));
    fields.push_back({"array", Value::arrayOf(many)});
    for (int i = 0; i < 40; ++i) fields.push_back({"k" + std::to_string(i), Value::string("v")});
    db.records.push_back(Value::mapOf(fields));
    db.ipv4 = {{0x01000000, 0x01FFFFFF, 0}};
    Opened opened(mmdb::writeDatabase(db));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    int gai = 0, error = 0;
    auto result = MMDB_lookup_string(&opened.db(), "1.2.3.4", &gai, &error);
    ASSERT_TRUE(result.found_entry);
    MMDB_entry_data_s data;
    for (const std::size_t n : lengths) {
        const std::string key = "s" + std::to_string(n);
        ASSERT_EQ(MMDB_get_value(&result.entry, &data, key.c_str(), nullptr), MMDB_SUCCESS) << key;
        ASSERT_EQ(data.type, MMDB_DATA_TYPE_UTF8_STRING);
        ASSERT_EQ(data.data_size, n) << key;
        if (n > 0) {
            EXPECT_EQ(data.utf8_string[n - 1], 'y') << key;
        }
    }
    for (const std::uint64_t n : numbers) {
        std::string key = "u64_" + std::to_string(n);
        ASSERT_EQ(MMDB_get_value(&result.entry, &data, key.c_str(), nullptr), MMDB_SUCCESS) << key;
        EXPECT_EQ(data.type, MMDB_DATA_TYPE_UINT64);
        EXPECT_EQ(data.uint64, n) << key;
        key = "u32_" + std::to_string(n);
        if (n <= 0xFFFFFFFFull) {
            ASSERT_EQ(MMDB_get_value(&result.entry, &data, key.c_str(), nullptr), MMDB_SUCCESS)
                << key;
            EXPECT_EQ(data.type, MMDB_DATA_TYPE_UINT32);
            EXPECT_EQ(data.uint32, n) << key;
        }
        key = "u16_" + std::to_string(n);
        if (n <= 0xFFFF) {
            ASSERT_EQ(MMDB_get_value(&result.entry, &data, key.c_str(), nullptr), MMDB_SUCCESS)
                << key;
            EXPECT_EQ(data.type, MMDB_DATA_TYPE_UINT16);
            EXPECT_EQ(data.uint16, n) << key;
        }
    }
    ASSERT_EQ(MMDB_get_value(&result.entry, &data, "array", "299", nullptr), MMDB_SUCCESS);
    EXPECT_EQ(data.uint32, 299u);
    ASSERT_EQ(MMDB_get_value(&result.entry, &data, "k39", nullptr), MMDB_SUCCESS);
    EXPECT_EQ(std::string(data.utf8_string, data.data_size), "v");
}

// A data section past 16 MiB needs 28-bit records; the tree must still answer.
TEST(MmdbWriter, takesTheSmallestRecordSizeThatHoldsEveryPointer) {
    struct Case {
        std::size_t padding;
        int recordSize;
    };
    for (const Case c : {Case{0, 24}, Case{(std::size_t{1} << 24) + 10, 28}}) {
        mmdb::Database db = database();
        db.records = {Value::string(std::string(c.padding, 'p')), codeRecord("A"), codeRecord("B")};
        db.ipv4 = {{0x0A000000, 0x0AFFFFFF, 1}, {0x0B000000, 0x0B000000, 2}};
        db.ipv6 = {{Address6{0x2A00000000000000ull, 0}, Address6{0x2A00FFFFFFFFFFFFull, ~0ull}, 2}};
        mmdb::WriteSummary summary;
        Opened opened(mmdb::writeDatabase(db, &summary));
        ASSERT_EQ(opened.status(), MMDB_SUCCESS);
        EXPECT_EQ(summary.recordSize, c.recordSize);
        EXPECT_EQ(opened.db().metadata.record_size, c.recordSize);
        EXPECT_EQ(opened.db().metadata.node_count, summary.nodeCount);
        EXPECT_EQ(opened.code("10.255.255.255"), "A");
        EXPECT_EQ(opened.code("11.0.0.0"), "B");
        EXPECT_EQ(opened.code("11.0.0.1"), std::nullopt);
        EXPECT_EQ(opened.code("2a00:ffff::1"), "B");
        EXPECT_EQ(opened.code("2a01::"), std::nullopt);
    }
}

TEST(MmdbWriter, metadataReadsBack) {
    mmdb::Database db = database();
    db.metadata.databaseType = "ipcountry-Country";
    db.metadata.languages = {"en", "de"};
    db.metadata.description = {{"en", "Ranges (CC BY 4.0), 2026-06-17"}, {"de", "Bereiche"}};
    db.metadata.buildEpoch = 1781654400;
    Opened opened(mmdb::writeDatabase(db));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    const auto& m = opened.db().metadata;
    EXPECT_EQ(std::string(m.database_type), "ipcountry-Country");
    EXPECT_EQ(m.ip_version, 6);
    EXPECT_EQ(m.binary_format_major_version, 2);
    EXPECT_EQ(m.build_epoch, 1781654400u);
    ASSERT_EQ(m.languages.count, 2u);
    EXPECT_STREQ(m.languages.names[1], "de");
    ASSERT_EQ(m.description.count, 2u);
    EXPECT_STREQ(m.description.descriptions[0]->language, "en");
    EXPECT_STREQ(m.description.descriptions[0]->description, "Ranges (CC BY 4.0), 2026-06-17");
}

// A small data folder: names in Windows-1252, a code without a continent,
// ZZ, and a source that gave a private network a country.
TEST(CountryDatabase, laysOutCountriesAsTheCountryReadersExpect) {
    TempDir dir("ipcountry-mmdb-folder");
    dir.write("Country.dbf",
              "AX\xC5land Islands\r\nDEGermany\r\nUSUnited States\r\nAUAustralia\r\n");
    dir.write("IP_db.dbf",
              "00000000ZZ\r\n01000000AU\r\n01000100DE\r\n0A000000AU\r\n0B000000AX\r\n0C000000XX\r\n"
              "0D000000ZZ\r\nFFFFFFFFZZ\r\n");
    dir.write("IP6_db.dbf",
              "00000000000000000000000000000000ZZ\r\n"
              "20010200000000000000000000000000US\r\n"
              "20010300000000000000000000000000ZZ\r\n"
              "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFZZ\r\n");
    dir.write("provenance.txt",
              "ranges=test-ranges 1.0\nranges-licence=CC BY 4.0, test\nranges-date=2026-06-17\n"
              "names=test-names 2\nnames-licence=LGPL\n");
    ipcountry::data::CountryDatabaseSummary summary;
    Opened opened(ipcountry::data::buildCountryDatabase(
        ipcountry::lookup::DataFolders::allIn(dir.path()), &summary));
    ASSERT_EQ(opened.status(), MMDB_SUCCESS);
    EXPECT_EQ(summary.countries, 5u);
    const char* const iso[] = {"country", "iso_code", nullptr};
    const char* const name[] = {"country", "names", "en", nullptr};
    const char* const continent[] = {"continent", "code", nullptr};
    const char* const continentName[] = {"continent", "names", "en", nullptr};
    struct Case {
        const char* address;
        std::optional<std::string> iso, name, continent, continentName;
    };
    const Case cases[] = {
        {"0.255.255.255", std::nullopt, {}, {}, {}},
        {"1.0.0.0", "AU", "Australia", "OC", "Oceania"},
        {"1.0.1.0", "DE", "Germany", "EU", "Europe"},
        {"::ffff:1.0.1.0", "DE", "Germany", "EU", "Europe"},
        {"10.1.2.3", std::nullopt, {}, {}, {}},  // private, whatever the source said
        {"11.0.0.0", "AX", "\xC3\x85land Islands", "EU", "Europe"},
        {"12.0.0.1", "XX", std::nullopt, std::nullopt, std::nullopt},
        {"13.0.0.0", std::nullopt, {}, {}, {}},
        {"2001:200::", "US", "United States", "NA", "North America"},
        {"2001:2ff:ffff::", "US", "United States", "NA", "North America"},
        {"2001:300::", std::nullopt, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(opened.find(c.address, iso), c.iso);
        if (!c.iso) continue;
        EXPECT_EQ(opened.find(c.address, name), c.name ? c.name : std::optional<std::string>("?"));
        EXPECT_EQ(opened.find(c.address, continent),
                  c.continent ? c.continent : std::optional<std::string>("?"));
        EXPECT_EQ(opened.find(c.address, continentName),
                  c.continentName ? c.continentName : std::optional<std::string>("?"));
    }
    const auto& m = opened.db().metadata;
    EXPECT_EQ(std::string(m.database_type), "ipcountry-Country");
    EXPECT_EQ(m.build_epoch, 1781654400u);  // 2026-06-17 00:00 UTC
    const std::string description = m.description.descriptions[0]->description;
    for (const char* part :
         {"test-ranges 1.0 (CC BY 4.0, test)", "test-names 2 (LGPL)", "2026-06-17"})
        EXPECT_NE(description.find(part), std::string::npos) << description;
}

// Without a recorded date the range file's modification time (here 2001,
// as a copy or an unpacked archive may leave it) dates nothing: build_epoch
// is the time of the build, and the description says the date is unknown.
TEST(CountryDatabase, undatedDataGetTheBuildTimeNotTheFilesTime) {
    const std::chrono::system_clock::time_point built{std::chrono::seconds{1796731200}};
    const struct {
        const char* name;
        const char* provenance;  // nullptr: no provenance.txt
        std::uint64_t epoch;
        const char* said;
    } cases[] = {
        {"noProvenance", nullptr, 1796731200u, "The date of the data is unknown"},
        {"dateStatedUnknown", "ranges=registries\nranges-date=unknown\n", 1796731200u,
         "The date of the data is unknown"},
        {"dateNotADate", "ranges=registries\nranges-date=17.06.2026\n", 1796731200u,
         "The date of the data is unknown"},
        {"dated", "ranges=registries\nranges-date=2026-06-17\n", 1781654400u,
         "Data of 2026-06-17."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("Country.dbf", "DEGermany\r\n");
        dir.write("IP_db.dbf", "00000000ZZ\r\n01000000DE\r\n01000100ZZ\r\n");
        dir.write("IP6_db.dbf", "00000000000000000000000000000000ZZ\r\n");
        if (c.provenance) dir.write("provenance.txt", c.provenance);
        const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path() / "IP_db.dbf").c_str(), times, 0), 0);
        Opened opened(ipcountry::data::buildCountryDatabase(
            ipcountry::lookup::DataFolders::allIn(dir.path()), nullptr, built));
        ASSERT_EQ(opened.status(), MMDB_SUCCESS);
        EXPECT_EQ(opened.db().metadata.build_epoch, c.epoch);
        const std::string description =
            opened.db().metadata.description.descriptions[0]->description;
        EXPECT_NE(description.find(c.said), std::string::npos) << description;
    }
}

TEST(CountryDatabase, aBrokenRangeFileIsNamed) {
    struct Case {
        const char* name;
        const char* ipv4;
        const char* problem;
    };
    const Case cases[] = {
        {"descending", "00000000ZZ\r\n02000000AU\r\n01000000DE\r\nFFFFFFFFZZ\r\n",
         "lines malformed or out of order"},
        {"not hex", "00000000ZZ\r\n0100G000AU\r\n", "lines malformed or out of order"},
        {"short", "00000000ZZ\r\n0100\r\n", "lines malformed or out of order"},
    };
    for (const auto& c : cases) {
        TempDir dir("ipcountry-mmdb-bad");
        dir.write("Country.dbf", "AUAustralia\r\n");
        dir.write("IP_db.dbf", c.ipv4);
        dir.write("IP6_db.dbf", "00000000000000000000000000000000ZZ\r\n");
        try {
            ipcountry::data::buildCountryDatabase(
                ipcountry::lookup::DataFolders::allIn(dir.path()));
            ADD_FAILURE() << c.name << ": no error";
        } catch (const ipcountry::lookup::Error& e) {
            const std::string problem = ipcountry::output::problemText(e);
            EXPECT_NE(problem.find("IP_db.dbf: " + std::string(c.problem)), std::string::npos)
                << c.name << ": " << problem;
        }
    }
    TempDir empty("ipcountry-mmdb-empty");
    EXPECT_THROW(
        ipcountry::data::buildCountryDatabase(ipcountry::lookup::DataFolders::allIn(empty.path())),
        ipcountry::lookup::Error);
}

}  // namespace
