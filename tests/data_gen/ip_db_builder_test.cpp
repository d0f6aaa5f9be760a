#include "ip_db_builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/address_text.h"
#include "lookup/ipv6_text.h"
#include "support/special_addresses.h"

namespace {

using ipcountry::data::Address6;
using ipcountry::data::buildRangeFileLines;
using ipcountry::data::ConvertOptions;
using ipcountry::data::countAddresses;
using ipcountry::data::flattenRanges;
using ipcountry::data::makeIpDbLines;
using ipcountry::data::parseRangeCsv;
using ipcountry::data::SortedRangeFileWriter;
using ipcountry::data::SourceError;
using ipcountry::data::SourceRange;
using ipcountry::data::writeIpDb;

template <class Address = std::uint32_t>
std::string convert(const std::string& csv) {
    std::istringstream in(csv);
    std::ostringstream out;
    writeIpDb(out, makeIpDbLines(flattenRanges(parseRangeCsv<Address>(in))));
    return out.str();
}

struct ConversionCase {
    const char* name;
    const char* csv;
    const char* expected;
    bool ipv6 = false;
};

constexpr bool kIpv6 = true;

void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }

class ConversionTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, writesTheExpectedRangeFile) {
    const auto& c = GetParam();
    EXPECT_EQ(c.ipv6 ? convert<Address6>(c.csv) : convert(c.csv), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTest,
    testing::Values(
        // The registries' own example: narrower later rows win inside
        // themselves and the wider row resumes after them.
        ConversionCase{"nestedRowsWinInsideTheWiderRow",
                       "3.2.35.0,3.2.35.63,DE\n3.2.35.40,3.2.35.47,TR\n3.2.35.48,3.2.35.55,GR\n"
                       "3.2.35.64,3.2.35.127,BR\n",
                       "00000000ZZ\r\n03022300DE\r\n03022328TR\r\n03022330GR\r\n03022338DE\r\n"
                       "03022340BR\r\n03022380ZZ\r\n"},
        ConversionCase{"nestedRowAtTheWiderRowsStart",
                       "10.0.0.0,10.0.0.255,DE\n10.0.0.0,10.0.0.15,FR\n",
                       "00000000ZZ\r\n0A000000FR\r\n0A000010DE\r\n0A000100ZZ\r\n"},
        ConversionCase{"nestedRowAtTheWiderRowsEnd",
                       "10.0.0.0,10.0.0.255,DE\n10.0.0.240,10.0.0.255,FR\n",
                       "00000000ZZ\r\n0A000000DE\r\n0A0000F0FR\r\n0A000100ZZ\r\n"},
        ConversionCase{"doublyNestedRows",
                       "10.0.0.0,10.0.0.255,DE\n10.0.0.16,10.0.0.63,FR\n10.0.0.32,10.0.0.47,IT\n",
                       "00000000ZZ\r\n0A000000DE\r\n0A000010FR\r\n0A000020IT\r\n0A000030FR\r\n"
                       "0A000040DE\r\n0A000100ZZ\r\n"},
        ConversionCase{"laterRowWinsWherePartlyOverlapping",
                       "17.67.224.0,17.67.239.255,ES\n17.67.233.0,17.67.247.255,US\n",
                       "00000000ZZ\r\n1143E000ES\r\n1143E900US\r\n1143F800ZZ\r\n"},
        ConversionCase{"laterRowCoversSeveralEarlierOnes",
                       "10.0.0.0,10.0.0.9,DE\n10.0.0.10,10.0.0.19,FR\n10.0.0.20,10.0.0.29,IT\n"
                       "10.0.0.5,10.0.0.24,NL\n",
                       "00000000ZZ\r\n0A000000DE\r\n0A000005NL\r\n0A000019IT\r\n0A00001EZZ\r\n"},
        ConversionCase{"adjacentRowsOfOneCodeMerge",
                       "1.0.0.0,1.0.0.255,AU\n1.0.1.0,1.0.3.255,AU\n1.0.4.0,1.0.7.255,CN\n",
                       "00000000ZZ\r\n01000000AU\r\n01000400CN\r\n01000800ZZ\r\n"},
        ConversionCase{"aGapKeepsRowsOfOneCodeApart",
                       "1.0.0.0,1.0.0.255,AU\n1.0.2.0,1.0.2.255,AU\n",
                       "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n01000200AU\r\n01000300ZZ\r\n"},
        ConversionCase{"rangeAtAddressZeroNeedsNoLeadingGap", "0.0.0.0,0.255.255.255,US\n",
                       "00000000US\r\n01000000ZZ\r\n"},
        ConversionCase{"rangeUpToTheBroadcastAddressIsClosedByIt", "224.0.0.0,255.255.255.255,US\n",
                       "00000000ZZ\r\nE0000000US\r\nFFFFFFFFZZ\r\n"},
        ConversionCase{"theBroadcastAddressAloneIsDropped",
                       "1.0.0.0,1.0.0.255,AU\n255.255.255.255,255.255.255.255,US\n",
                       "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n"},
        ConversionCase{"singleAddressRows", "0.0.0.1,0.0.0.1,AU\n0.0.0.2,0.0.0.2,NZ\n",
                       "00000000ZZ\r\n00000001AU\r\n00000002NZ\r\n00000003ZZ\r\n"},
        ConversionCase{"numericAddressesCrlfAndBlankLines",
                       "16777216,16777471,AU\r\n\r\n16777472,16778239,CN\r\n",
                       "00000000ZZ\r\n01000000AU\r\n01000100CN\r\n01000400ZZ\r\n"},
        ConversionCase{"noRowsGiveOneUnknownRange", "", "00000000ZZ\r\n"},
        // The CSV forms of the free country databases: quoted fields, more
        // columns (names with commas), numbers, "-" for no country, a header
        // and a byte order mark, both families in one file.
        ConversionCase{"quotedFieldsAndMoreColumns",
                       "\"1.0.0.0\",\"1.0.0.255\",\"AU\",\"Australia, Commonwealth of\"\n"
                       "1.0.1.0,1.0.3.255,CN,\"China\",x,\n",
                       "00000000ZZ\r\n01000000AU\r\n01000100CN\r\n01000400ZZ\r\n"},
        ConversionCase{"quotedNumbersAndNoCountry",
                       "\"0\",\"16777215\",\"-\",\"-\"\r\n\"16777216\",\"16777471\",\"US\","
                       "\"United States\"\r\n",
                       "00000000ZZ\r\n01000000US\r\n01000100ZZ\r\n"},
        ConversionCase{
            "headerAndByteOrderMark",
            "\xEF\xBB\xBFip_range_start,ip_range_end,country_code\n1.0.0.0,1.0.0.255,AU\n",
            "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n"},
        ConversionCase{
            "ipv6RowsPassedOverForIpv4",
            "1.0.0.0,1.0.0.255,AU\n2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n",
            "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n"},
        ConversionCase{
            "ipv4RowsPassedOverForIpv6",
            "1.0.0.0,1.0.0.255,AU\n2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n",
            "00000000000000000000000000000000ZZ\r\n20010200000000000000000000000000JP\r\n"
            "20010201000000000000000000000000ZZ\r\n",
            kIpv6},
        ConversionCase{
            "ipv6AsDecimalNumbersUpToTheLast",
            "\"42540766411282592856903984951653826560\",\"42540766490510755371168322545197776895\","
            "\"DE\"\n"
            "340282366920938463463374607431768211455,340282366920938463463374607431768211455,US\n",
            "00000000000000000000000000000000ZZ\r\n20010DB8000000000000000000000000DE\r\n"
            "20010DB9000000000000000000000000ZZ\r\n",
            kIpv6},
        // IPv6: the same rules over 128 bits, in any text form the source uses.
        ConversionCase{
            "ipv6NestedRowsAcrossTheMiddle64Bits",
            "2001:db8::,2001:db8:0:1:ffff:ffff:ffff:ffff,DE\n"
            "2001:db8:0:0:ffff:ffff:ffff:fff0,2001:DB8:0:1::f,FR\n",
            "00000000000000000000000000000000ZZ\r\n20010DB8000000000000000000000000DE\r\n"
            "20010DB800000000FFFFFFFFFFFFFFF0FR\r\n20010DB8000000010000000000000010DE\r\n"
            "20010DB8000000020000000000000000ZZ\r\n",
            kIpv6},
        ConversionCase{
            "ipv6RangeUpToTheLastAddressStopsOneShort",
            "::,::ffff,AU\nff00::,ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,US\n",
            "00000000000000000000000000000000AU\r\n00000000000000000000000000010000ZZ\r\n"
            "FF000000000000000000000000000000US\r\nFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFZZ\r\n",
            kIpv6}),
    [](const testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

// The same source through the converter that writes as it reads: where the
// rows come sorted, the same file; where not, it says so and takes nothing.
TEST_P(ConversionTest, writesTheSameFileWhenWrittenAsTheRowsCome) {
    const auto& c = GetParam();
    const auto stream = [&](auto family) {
        using Address = decltype(family);
        std::istringstream in(c.csv);
        std::string text;
        SortedRangeFileWriter<Address> writer(ConvertOptions{true}, text);
        bool sorted = true;
        std::size_t rows = 0;
        ipcountry::data::forEachRangeCsvRow<Address>(
            in, [&](ipcountry::data::BasicSourceRange<Address>& row) {
                ++rows;
                if (sorted) sorted = writer.add(std::move(row));
            });
        if (!sorted) return std::optional<std::string>();
        if (rows == 0) {
            EXPECT_THROW(writer.finish(), SourceError);
            return std::optional<std::string>();
        }
        writer.finish();
        return std::optional<std::string>(text);
    };
    const auto text = c.ipv6 ? stream(Address6{}) : stream(std::uint32_t{});
    if (text) {
        EXPECT_EQ(*text, c.expected);
    }
}

TEST(ParseRangeCsv, rejectsMalformedRowsNamingTheLine) {
    const char* bad[] = {
        "1.0.0.0,1.0.0.255",
        "\"1.0.0.0,1.0.0.255,AU",
        "\"1.0.0.0\"x,1.0.0.255,AU",
        "1.0.0.0,::1,AU",
        "start,end,country",  // a header only as the first line
        "1.0.0.0,1.0.0.255,-x",
        "1.0.0,1.0.0.255,AU",
        "1.0.0.0,1.0.0.256,AU",
        "1.0.0.0.0,1.0.0.255,AU",
        "1..0.0,1.0.0.255,AU",
        "1.0.0.0,1.0.0.255,au",
        "1.0.0.0,1.0.0.255,AUS",
        "1.0.0.255,1.0.0.0,AU",
        "4294967296,4294967296,AU",
        "-1,5,AU",
        " 1.0.0.0,1.0.0.255,AU",
        "1.0.0.0,1.0.0.255,",
        "0001.0.0.0,1.0.0.255,AU",
        // IPv6 rows ("6:"): plain addresses only, ascending ends.
        "6:2001:db8::ff,2001:db8::,AU",
        "6:2001:db8::1%eth0,2001:db8::2,AU",
        "6:[2001:db8::],2001:db8::ff,AU",
        "6:0,340282366920938463463374607431768211456,AU",
        "6:0,1.0.0.0,AU",
    };
    for (const char* row : bad) {
        const bool ipv6 = std::string_view(row).starts_with("6:");
        if (ipv6) row += 2;
        std::istringstream in(std::string(ipv6 ? "::1,::1,AU\n" : "1.0.0.0,1.0.0.0,AU\n") + row +
                              "\n");
        try {
            ipv6 ? (void)parseRangeCsv<Address6>(in) : (void)parseRangeCsv(in);
            ADD_FAILURE() << "accepted: " << row;
        } catch (const SourceError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("line 2: ", 0), 0u) << row << " -> " << e.what();
        }
    }
}

// A fault must be named by the line it stands on, counted as an editor
// counts: blank lines and the lines a quoted field runs over count too.
TEST(ParseRangeCsv, namesTheLineOfTheFaultAsAnEditorCountsIt) {
    const struct {
        const char* csv;
        const char* line;
    } cases[] = {
        {"1.0.0.0,1.0.0.255,DE\n\n1.0.1.0,1.0.1.255,de\n", "line 3: "},
        {"1.0.0.0,1.0.0.255,DE\r\n\r\n\r\n1.0.1.0,1.0.1.255\r\n", "line 4: "},
        {"1.0.0.0,1.0.0.255,DE,\"two\nlines\"\n1.0.1.0,1.0.1.255,de\n", "line 3: "},
        {"start,end,country\n1.0.0.0,1.0.0.255,DE\n1.0.1.0,1.0.1.255,DE,\"open\n", "line 3: "},
        {"1.0.0.0,1.0.0.255,DE\n1.0.1.0,1.0.1.255,\"D\"E\"\n", "line 2: "},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.csv);
        try {
            (void)parseRangeCsv(in);
            ADD_FAILURE() << "accepted: " << c.csv;
        } catch (const SourceError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.line, 0), 0u) << c.csv << " -> " << e.what();
        }
    }
}

// The code a range file gives an address, by the file's own rule: the last
// line that starts at or below it, unless that is the closing line.
template <class Address>
std::string codeOf(const std::vector<ipcountry::data::BasicIpDbLine<Address>>& lines,
                   Address address) {
    std::size_t found = lines.size();
    for (std::size_t i = 0; i < lines.size() && lines[i].start <= address; ++i) found = i;
    if (found + 1 >= lines.size()) return "ZZ";
    return lines[found].code;
}

// A source that gives a country to the whole address space, as the bundled
// data's upstream did for private and documentation blocks: every address of
// the registries' table loses it, the globally reachable rows and the
// neighbours keep it, and --keep-special keeps everything the file can hold.
TEST(BuildRangeFileLines, cutsTheSpecialPurposeBlocksOutOfEverySource) {
    using ipcountry::test::kSpecialAddresses4;
    using ipcountry::test::kSpecialAddresses6;
    const std::vector<SourceRange> whole4{{0, 0xFFFFFFFF, "DE"}};
    const std::vector<ipcountry::data::SourceRange6> whole6{{Address6{}, Address6::max(), "DE"}};
    for (const bool keep : {false, true}) {
        const auto lines4 = buildRangeFileLines(whole4, ConvertOptions{keep});
        for (const auto& row : kSpecialAddresses4) {
            const auto address = ipcountry::lookup::readPlainAddress(row.address);
            ASSERT_TRUE(address) << row.address;
            const bool kept = row.keepsCountry || (keep && *address != 0xFFFFFFFF);
            EXPECT_EQ(codeOf(lines4, *address), kept ? "DE" : "ZZ")
                << row.address << " in " << row.block << (keep ? ", kept" : "");
        }
        const auto lines6 = buildRangeFileLines(whole6, ConvertOptions{keep});
        for (const auto& row : kSpecialAddresses6) {
            const auto address = ipcountry::lookup::readIpv6Value(row.address);
            ASSERT_TRUE(address) << row.address;
            const bool kept = row.keepsCountry || (keep && *address != Address6::max());
            EXPECT_EQ(codeOf(lines6, *address), kept ? "DE" : "ZZ")
                << row.address << " in " << row.block << (keep ? ", kept" : "");
        }
    }
}

// A source that leaves nothing would make a file answering "unknown" for
// every address: refused, unless the special blocks are what it is for.
TEST(BuildRangeFileLines, refusesASourceThatYieldsNoRange) {
    const struct {
        const char* name;
        std::string csv;
        bool ipv6;
        bool keepSpecial;
        const char* error;  // nullptr: lines are built
    } cases[] = {
        {"empty", "", false, false, "the source yields no IPv4 range"},
        {"headerOnly", "start,end,country\n", false, false, "the source yields no IPv4 range"},
        {"noCountryOnly", "1.0.0.0,1.0.0.255,-\n", false, false, "yields no IPv4 range"},
        {"privateOnly", "192.168.0.0,192.168.255.255,AU\n10.0.0.0,10.0.0.255,AU\n", false, false,
         "outside the special-purpose address blocks (--keep-special keeps them)"},
        {"privateKept", "192.168.0.0,192.168.255.255,AU\n", false, true, nullptr},
        {"emptyIpv6", "", true, false, "the source yields no IPv6 range"},
        {"documentationOnly", "2001:db8::,2001:db8:ffff::,JP\nfd00::,fd00::ff,JP\n", true, false,
         "yields no IPv6 range outside"},
        {"documentationKept", "2001:db8::,2001:db8:ffff::,JP\n", true, true, nullptr},
        {"aReachableExceptionIsARange", "192.0.0.9,192.0.0.9,DE\n", false, false, nullptr},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.csv);
        try {
            const std::size_t lines =
                c.ipv6 ? buildRangeFileLines(parseRangeCsv<Address6>(in), {c.keepSpecial}).size()
                       : buildRangeFileLines(parseRangeCsv(in), {c.keepSpecial}).size();
            EXPECT_EQ(c.error, nullptr) << c.name;
            EXPECT_GE(lines, 3u) << c.name;  // gap, range, closing line
        } catch (const SourceError& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
}

// Random sorted sources over the whole address space, special blocks and
// the last address included: written as they come, the same file as built
// whole; and a limit below the file's size refused by both, nothing written.
template <class Address>
void streamAgreesWithBuildingWhole(std::mt19937_64& rng, Address (*at)(std::uint64_t)) {
    const char* codes[] = {"AA", "BB", "CC"};
    for (int round = 0; round < 300; ++round) {
        std::vector<ipcountry::data::BasicSourceRange<Address>> rows;
        std::uint64_t position = rng() % 4;
        const std::size_t count = rng() % 3000;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t first = position + rng() % 3;  // adjacent or a gap
            const std::uint64_t last = first + rng() % (1ull << (rng() % 40));
            if (last >= (1ull << 32) - 1) {
                rows.push_back({at(first), at((1ull << 32) - 1), codes[rng() % 3]});
                break;
            }
            rows.push_back({at(first), at(last), codes[rng() % 3]});
            position = last + 1;
        }
        for (const bool keep : {false, true}) {
            std::string whole;
            try {
                std::ostringstream out;
                writeIpDb(out, buildRangeFileLines(rows, ConvertOptions{keep}));
                whole = out.str();
            } catch (const SourceError&) {
                whole = "refused";
            }
            std::string text;
            SortedRangeFileWriter<Address> writer(ConvertOptions{keep}, text);
            for (auto row : rows) ASSERT_TRUE(writer.add(std::move(row)));
            try {
                writer.finish();
            } catch (const SourceError&) {
                text = "refused";
            }
            ASSERT_EQ(text, whole) << "round " << round << (keep ? ", kept" : "");
            if (whole == "refused") continue;
            const std::uint64_t limit = whole.size() - 1;
            EXPECT_THROW(buildRangeFileLines(rows, ConvertOptions{keep}, limit), SourceError);
            std::string cut;
            SortedRangeFileWriter<Address> small(ConvertOptions{keep}, cut, limit);
            EXPECT_THROW(
                {
                    for (auto row : rows) small.add(std::move(row));
                    small.finish();
                },
                SourceError);
        }
    }
}

TEST(SortedRangeFileWriter, agreesWithBuildingTheWholeSourceAtOnce) {
    std::mt19937_64 rng(20261208);
    streamAgreesWithBuildingWhole<std::uint32_t>(
        rng, [](std::uint64_t a) { return static_cast<std::uint32_t>(a); });
    // IPv6 in the space's first and last parts, where the special blocks lie.
    streamAgreesWithBuildingWhole<Address6>(rng, [](std::uint64_t a) {
        return a < (1ull << 31) ? Address6{0x2001000000000000ULL | a >> 8, a << 56}
                                : Address6{~0ULL, a};
    });
}

TEST(CountAddresses, countsEachLineUpToTheNextAndNothingForTheLast) {
    std::istringstream in("1.0.0.0,1.0.0.255,AU\n1.0.1.0,1.0.1.127,CN\n1.0.2.0,1.0.2.255,AU\n");
    const auto counts = countAddresses(makeIpDbLines(flattenRanges(parseRangeCsv(in))));
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts.at("AU"), 512u);
    EXPECT_EQ(counts.at("CN"), 128u);
    EXPECT_EQ(counts.at("ZZ"), 0x01000000u + 128u);  // below 1.0.0.0 and the gap; not past the end
}

// Against a brute-force painter over a small address space: every address
// takes the code of the last row that holds it.
TEST(FlattenRanges, agreesWithPaintingEveryAddressInRowOrder) {
    std::mt19937 rng(20240611);
    const char* codes[] = {"AA", "BB", "CC"};
    for (int round = 0; round < 2000; ++round) {
        const std::uint32_t space = 1 + rng() % 64;
        std::vector<SourceRange> rows(rng() % 12);
        std::vector<std::string> painted(space);
        for (SourceRange& row : rows) {
            std::uint32_t a = rng() % space;
            std::uint32_t b = rng() % space;
            row = {std::min(a, b), std::max(a, b), codes[rng() % 3]};
            for (std::uint32_t x = row.first; x <= row.last; ++x) {
                painted[x] = row.code;
            }
        }
        const auto flat = flattenRanges(rows);
        std::vector<std::string> got(space);
        for (std::size_t i = 0; i < flat.size(); ++i) {
            ASSERT_LE(flat[i].first, flat[i].last);
            if (i > 0) {
                ASSERT_LT(flat[i - 1].last, flat[i].first)
                    << "overlap or disorder, round " << round;
            }
            for (std::uint32_t x = flat[i].first; x <= flat[i].last; ++x) {
                got[x] = flat[i].code;
            }
        }
        ASSERT_EQ(got, painted) << "round " << round;

        // The file's lines then give every address the same code (ZZ where unpainted).
        const auto lines = makeIpDbLines(flat);
        ASSERT_EQ(lines.front().start, 0u);
        ASSERT_EQ(lines.back().code, "ZZ");
        for (std::size_t i = 1; i < lines.size(); ++i) {
            ASSERT_LT(lines[i - 1].start, lines[i].start);
            ASSERT_NE(lines[i - 1].code, lines[i].code) << "unmerged neighbours, round " << round;
        }
        std::size_t line = 0;
        for (std::uint32_t x = 0; x < space; ++x) {
            while (line + 1 < lines.size() && lines[line + 1].start <= x) {
                ++line;
            }
            // Past the closing line no range holds the address; neither does a gap.
            const std::string expected = painted[x].empty() ? "ZZ" : painted[x];
            ASSERT_EQ(line + 1 < lines.size() ? lines[line].code : "ZZ", expected)
                << "address " << x << ", round " << round;
        }
    }
}

}  // namespace
