#include "lookup/country_ranges.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "lookup/address_key.h"
#include "lookup/error.h"
#include "lookup/special_blocks.h"
#include "support/temp_dir.h"

namespace ipcountry::lookup {
namespace {

using R4 = AddressRange<std::uint32_t>;

TEST(CountryRanges, followTheLookupRuleLineByLine) {
    const struct {
        const char* what;
        std::string content;
        std::map<std::string, std::vector<R4>> expected;
    } cases[] = {
        {"empty file", "", {}},
        {"the last line holds nothing", "01000000DE\r\n", {}},
        {"two countries, ZZ between and after",
         "00000000ZZ\r\n01000000DE\r\n01000100ZZ\r\n02000000FR\r\n02000004ZZ\r\n",
         {{"DE", {{0x01000000, 0x010000FF}}}, {"FR", {{0x02000000, 0x02000003}}}}},
        {"one country's lines apart and adjacent merge",
         "01000000DE\r\n01000010DE\r\n01000020ZZ\r\n01000030DE\r\n01000040ZZ\r\n",
         {{"DE", {{0x01000000, 0x0100001F}, {0x01000030, 0x0100003F}}}}},
        {"a repeated start gives the earlier line nothing",
         "01000000FR\r\n01000000DE\r\n01000010ZZ\r\n",
         {{"DE", {{0x01000000, 0x0100000F}}}}},
        {"codes that name no country are left out",
         "01000000EU\r\n01000010A1\r\n01000020--\r\n01000030ZZ\r\n",
         {{"EU", {{0x01000000, 0x0100000F}}}}},
        // A file built with the special blocks kept (or by hand) still yields
        // no special address: 10.0.0.0/8 and 100.64.0.0/10 are cut out.
        {"special blocks never belong to a country",
         "09FFFFFEDE\r\n0A000002DE\r\n0B000000ZZ\r\n64400000US\r\n64400001ZZ\r\n",
         {{"DE", {{0x09FFFFFE, 0x09FFFFFF}}}}},
    };
    for (const auto& c : cases) {
        const auto got = countryRangesOf(RangeIndex::fromContent(c.content), "IP_db.dbf");
        std::map<std::string, std::vector<R4>> plain;
        for (const auto& [code, set] : got) plain[code] = set.ranges();
        EXPECT_EQ(plain, c.expected) << c.what;
    }
}

TEST(CountryRanges, refuseAFileOutOfOrderNamingIt) {
    test::TempDir dir("country-ranges");
    dir.write("IP_db.dbf", "02000000DE\r\n01000000FR\r\n03000000ZZ\r\n");
    try {
        readCountryRanges4(dir.path());
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::BadData);
        EXPECT_NE(std::string(e.what()).find("IP_db.dbf"), std::string::npos) << e.what();
    }
    try {
        readCountryRanges6(dir.path());
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileNotFound);
    }
}

// Every address the sets hold is answered with that country by the lookup,
// and every address the lookup gives a country (outside the special blocks)
// is in that country's set: random files, probes at every border.
TEST(CountryRanges, agreeWithTheLookupOnRandomFiles) {
    std::mt19937 random(4);
    const char* codes[] = {"DE", "FR", "ZZ", "US"};
    for (int round = 0; round < 50; ++round) {
        std::string content;
        std::vector<std::uint32_t> starts;
        std::uint32_t at = static_cast<std::uint32_t>(random() % 0x20000000);
        for (int i = 0; i < 40; ++i) {
            starts.push_back(at);
            content += addressToKey(at) + codes[random() % 4] + "\r\n";
            at += random() % 3 == 0 ? 0 : 1 + random() % 0x4000000;
        }
        const RangeIndex index = RangeIndex::fromContent(content);
        ASSERT_TRUE(index.usesIndex());
        const auto sets = countryRangesOf(index, "IP_db.dbf");
        // Limited to some codes: exactly those sets, the same as unlimited.
        const auto some = countryRangesOf(index, "IP_db.dbf", {"DE", "ZZ", "XX"});
        ASSERT_LE(some.size(), 1u);
        if (sets.count("DE") == 1) {
            EXPECT_EQ(some.at("DE").ranges(), sets.at("DE").ranges());
        }
        // All countries in one list: in address order, apart, each end
        // answered with its code by the lookup, and a country's touching
        // lines merged into one range.
        const auto coded = codedRangesOf(index, "IP_db.dbf");
        std::size_t inSets = 0;
        for (const auto& [setCode, set] : sets) inSets += set.ranges().size();
        EXPECT_EQ(coded.size(), inSets);
        for (std::size_t i = 0; i < coded.size(); ++i) {
            const CodedRange<std::uint32_t>& range = coded[i];
            ASSERT_LE(range.first, range.last);
            for (const std::uint32_t end : {range.first, range.last})
                EXPECT_EQ(index.findCountryCode(end), unpackCode(range.code)) << end;
            if (i == 0) continue;
            ASSERT_LT(coded[i - 1].last, range.first);
            EXPECT_FALSE(coded[i - 1].last + 1 == range.first && coded[i - 1].code == range.code)
                << "touching ranges of one country at " << range.first;
        }
        for (const std::uint32_t start : starts) {
            for (const std::uint32_t probe : {start - 1, start, start + 1}) {
                const auto code = index.findCountryCode(probe);
                const bool counted = code && *code != "ZZ" && !findSpecialBlock(probe);
                for (const auto& [setCode, set] : sets)
                    EXPECT_EQ(set.contains(probe), counted && *code == setCode)
                        << probe << " " << setCode;
            }
        }
    }
}

}  // namespace
}  // namespace ipcountry::lookup
