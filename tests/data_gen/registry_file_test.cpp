#include "registry_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "checksum.h"
#include "ip_db_builder.h"
#include "lookup/ipv6_text.h"
#include "lookup/range_file.h"

namespace {

using ipcountry::data::parseMd5File;
using ipcountry::data::parseRegistryFile;
using ipcountry::data::RegistryFile;
using ipcountry::data::SourceError;

// A file in the registries' real form: header comments, the version line,
// summaries, asn records, available and reserved space, EU and AP codes, IPv4
// counts that are not powers of two, and IPv6 prefixes of several lengths.
const std::string kGood =
    "# statistics of a test registry\n"
    "2|ripencc|1733353199|9|19830705|20241204|+0100\n"
    "ripencc|*|asn|*|1|summary\n"
    "ripencc|*|ipv4|*|5|summary\n"
    "ripencc|*|ipv6|*|3|summary\n"
    "ripencc|FR|asn|3215|1|19930901|allocated|e3f1\n"
    "ripencc|FR|ipv4|2.0.0.0|1048576|20100712|allocated|e3f1\n"
    "ripencc|EU|ipv4|2.16.0.0|768|20100910|assigned|aa11\n"
    "ripencc||ipv4|2.57.224.0|1024||available||\n"
    "ripencc|ZZ|ipv4|5.0.0.0|256|00000000|reserved|\n"
    "# a comment between records\n"
    "\n"
    "ripencc|DE|ipv4|5.1.0.0|3|20120101|assigned|b2\n"
    "ripencc|AP|ipv6|2001:600::|32|19990826|allocated|c3\n"
    "ripencc|DE|ipv6|2a00:1::|128|20240101|assigned|d4|extension\n"
    "ripencc|NL|ipv6|::|0|20240101|assigned|e5\n";

std::string text(const RegistryFile& file) {
    std::ostringstream out;
    for (const auto& r : file.ipv4) out << r.first << "-" << r.last << " " << r.code << "\n";
    for (const auto& r : file.ipv6)
        out << std::hex << r.first.high << ":" << r.first.low << "-" << r.last.high << ":"
            << r.last.low << std::dec << " " << r.code << "\n";
    return out.str();
}

TEST(RegistryFileTest, readsTheCountriesOfAllocatedAndAssignedRecordsOnly) {
    std::istringstream in(kGood);
    const RegistryFile file = parseRegistryFile(in);
    EXPECT_EQ(file.registry, "ripencc");
    EXPECT_EQ(file.endDate, "20241204");
    EXPECT_EQ(file.records, 9u);
    // 2.0.0.0 = 33554432, 5.1.0.0 = 83951616; 768 and 3 addresses stay as counted.
    EXPECT_EQ(text(file),
              "33554432-34603007 FR\n"
              "34603008-34603775 EU\n"
              "83951616-83951618 DE\n"
              "2001060000000000:0-20010600ffffffff:ffffffffffffffff AP\n"
              "2a00000100000000:0-2a00000100000000:0 DE\n"
              "0:0-ffffffffffffffff:ffffffffffffffff NL\n");
}

struct BadFile {
    const char* name;
    std::string text;
    std::string message;  // what the error must say
};

void PrintTo(const BadFile& c, std::ostream* os) { *os << c.name; }

class BadRegistryFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(BadRegistryFileTest, isRefusedWithItsReason) {
    std::istringstream in(GetParam().text);
    try {
        parseRegistryFile(in);
        FAIL() << "accepted";
    } catch (const SourceError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
}

std::string cutAfterLine(const std::string& text, int lines) {
    std::size_t at = 0;
    for (int i = 0; i < lines; ++i) at = text.find('\n', at) + 1;
    return text.substr(0, at);
}

const std::string kHeader =
    "2|apnic|20241204|2|19830613|20241203|+1000\n"
    "apnic|*|ipv4|*|2|summary\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadRegistryFileTest,
    testing::Values(
        BadFile{"cutBetweenRecords", cutAfterLine(kGood, 13),
                "the version line announces 9 records, the file holds 6: the file is cut short "
                "or damaged"},
        BadFile{"cutInsideTheLastLine", kGood.substr(0, kGood.size() - 4),
                "line 16: the line has no end: the file is cut short"},
        BadFile{"summaryDisagrees",
                "2|apnic|1|2|19830613|20241203|+1000\napnic|*|ipv4|*|3|summary\n"
                "apnic|JP|ipv4|1.0.16.0|4096|20110412|allocated\n"
                "apnic|AU|ipv4|1.0.0.0|256|20110811|assigned\n",
                "the summary announces 3 ipv4 records, the file holds 2: the file is cut short or "
                "damaged"},
        BadFile{"empty", "", "no version line: not a registry statistics file"},
        BadFile{"onlyComments", "# nothing\n\n", "no version line: not a registry statistics file"},
        BadFile{"noVersionLine", "apnic|JP|ipv4|1.0.16.0|4096|20110412|allocated\n",
                "line 1: expected the version line (version|registry|serial|records|...)"},
        BadFile{"tooFewFields", kHeader + "apnic|JP|ipv4|1.0.16.0|4096|20110412\n",
                "line 3: expected registry|cc|type|start|value|date|status fields, found 6"},
        BadFile{"badStart", kHeader + "apnic|JP|ipv4|1.0.16|4096|20110412|allocated\n",
                "line 3: the start is not an IPv4 address"},
        BadFile{"octetAbove255", kHeader + "apnic|JP|ipv4|1.0.256.0|4096|20110412|allocated\n",
                "line 3: the start is not an IPv4 address"},
        BadFile{"zeroCount", kHeader + "apnic|JP|ipv4|1.0.16.0|0|20110412|allocated\n",
                "line 3: the count of addresses is not a number that fits after the start"},
        BadFile{"countPastTheLastAddress",
                kHeader + "apnic|JP|ipv4|255.255.255.0|257|20110412|allocated\n",
                "line 3: the count of addresses is not a number that fits after the start"},
        BadFile{"countNotANumber", kHeader + "apnic|JP|ipv4|1.0.16.0|4k|20110412|allocated\n",
                "line 3: the count of addresses is not a number that fits after the start"},
        BadFile{"prefixTooLong", kHeader + "apnic|JP|ipv6|2001:200::|129|20110412|allocated\n",
                "line 3: the prefix length is not 0 to 128"},
        BadFile{"prefixWithHostBits", kHeader + "apnic|JP|ipv6|2001:200::1|32|20110412|allocated\n",
                "line 3: the start is not the first address of its prefix"},
        BadFile{"badIpv6", kHeader + "apnic|JP|ipv6|2001:200:::|32|20110412|allocated\n",
                "line 3: the start is not an IPv6 address"},
        BadFile{"lowerCaseCountry", kHeader + "apnic|jp|ipv4|1.0.16.0|4096|20110412|allocated\n",
                "line 3: the country code is not two upper-case letters"},
        BadFile{"noCountryForAllocatedSpace",
                kHeader + "apnic||ipv4|1.0.16.0|4096|20110412|allocated\n",
                "line 3: the country code is not two upper-case letters"},
        BadFile{"unknownStatus", kHeader + "apnic|JP|ipv4|1.0.16.0|4096|20110412|given\n",
                "line 3: unknown status \"given\""},
        BadFile{"unknownType", kHeader + "apnic|JP|ipv5|1.0.16.0|4096|20110412|allocated\n",
                "line 3: unknown record type \"ipv5\""},
        BadFile{"badSummaryCount",
                "2|apnic|1|0|19830613|20241203|+1000\napnic|*|ipv4|*|x|summary\n",
                "line 2: the summary's count is not a number"},
        BadFile{"twentyDigitRecordCount",
                "2|apnic|1|12345678901234567890|19830613|20241203|+1000\n",
                "line 1: the version line's count of records is not a number"}));

TEST(RegistryFileTest, acceptsCrLfLineEndsAndAFormatVersionWithADot) {
    std::istringstream in(
        "2.3|arin|20241204|1|19700101|20241203|-0500\r\n"
        "arin|US|ipv4|3.0.0.0|16777216|19880223|allocated|x\r\n");
    const RegistryFile file = parseRegistryFile(in);
    ASSERT_EQ(file.ipv4.size(), 1u);
    EXPECT_EQ(file.ipv4[0].last, 0x03FFFFFFu);
}

// The last block of the address space: the range file cannot start a line
// past it, so the block stops one short and the file still reads as sorted.
TEST(RegistryFileTest, aBlockEndingAtTheLastAddressBecomesAReadableRangeFile) {
    std::istringstream in(
        "2|apnic|1|2|19830613|20241203|+1000\n"
        "apnic|JP|ipv4|1.0.16.0|4096|20110412|allocated\n"
        "apnic|AU|ipv4|255.255.255.0|256|20110811|assigned\n");
    const RegistryFile file = parseRegistryFile(in);
    ASSERT_EQ(file.ipv4.size(), 2u);
    EXPECT_EQ(file.ipv4[1].last, 0xFFFFFFFFu);
    ipcountry::data::ConvertOptions keep;
    keep.keepSpecial = true;
    std::ostringstream out;
    ipcountry::data::writeIpDb(out, ipcountry::data::buildRangeFileLines(file.ipv4, keep));
    const auto index = ipcountry::lookup::RangeIndex::fromContent(out.str());
    ASSERT_TRUE(index.usesIndex()) << out.str();
    EXPECT_EQ(index.findCountryCode(0xFFFFFF00u), "AU");
    EXPECT_EQ(index.findCountryCode(0xFFFFFFFEu), "AU");
    EXPECT_EQ(index.findCountryCode(0x01001000u), "JP");
}

struct Md5Case {
    const char* name;
    const char* text;
    const char* expected;  // nullptr: no checksum
};

void PrintTo(const Md5Case& c, std::ostream* os) { *os << c.name; }

class Md5FileTest : public testing::TestWithParam<Md5Case> {};

TEST_P(Md5FileTest, findsTheChecksumInEitherForm) {
    const auto sum = parseMd5File(GetParam().text);
    if (GetParam().expected == nullptr) {
        EXPECT_FALSE(sum) << *sum;
    } else {
        ASSERT_TRUE(sum);
        EXPECT_EQ(*sum, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Md5FileTest,
    testing::Values(
        Md5Case{"bsdForm",
                "MD5 (delegated-ripencc-extended-latest) = 0123456789abcdef0123456789ABCDEF\n",
                "0123456789abcdef0123456789abcdef"},
        Md5Case{"md5sumForm", "0123456789abcdef0123456789abcdef  delegated-arin-extended-latest\n",
                "0123456789abcdef0123456789abcdef"},
        Md5Case{"md5sumBinaryForm", "0123456789abcdef0123456789abcdef *file\r\n",
                "0123456789abcdef0123456789abcdef"},
        Md5Case{"nameWithParenthesesInBsdForm", "MD5 (a) b) = ffffffffffffffffffffffffffffffff",
                "ffffffffffffffffffffffffffffffff"},
        Md5Case{"afterAComment", "# checksum\nMD5 (f) = 00000000000000000000000000000001\n",
                "00000000000000000000000000000001"},
        Md5Case{"tooShort", "0123456789abcdef0123456789abcde  f\n", nullptr},
        Md5Case{"notHex", "MD5 (f) = 0123456789abcdef0123456789abcdeg\n", nullptr},
        Md5Case{"sumWithoutAName", "0123456789abcdef0123456789abcdef\n", nullptr},
        Md5Case{"empty", "", nullptr},
        Md5Case{"anHtmlErrorPage", "<html><body>Not Found</body></html>\n", nullptr}));

}  // namespace
