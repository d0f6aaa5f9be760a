#include "analysis/ipv4_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lookup/address_key.h"

namespace ipcountry::analysis {
namespace {

struct Expected {
    std::string ip;
    std::string port;
    std::string key;
};

struct ScanCase {
    const char* name;
    std::string line;
    std::vector<Expected> found;
};

std::ostream& operator<<(std::ostream& os, const ScanCase& c) { return os << c.name; }

class ScanLineTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanLineTest, findsExactlyTheExpectedAddresses) {
    const ScanCase& c = GetParam();
    const std::vector<FoundAddress> found = scanLine(c.line);
    ASSERT_EQ(found.size(), c.found.size()) << c.line;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].dottedText, c.found[i].ip) << c.line;
        EXPECT_EQ(found[i].portText, c.found[i].port) << c.line;
        EXPECT_EQ(lookup::addressToKey(found[i].address), c.found[i].key) << c.line;
    }
}

// The rules' own examples: widest candidate nearest the dot, the rescan after
// the third dot, the port rule with five digits, and octets that must touch.
INSTANTIATE_TEST_SUITE_P(
    Rules, ScanLineTest,
    ::testing::Values(
        ScanCase{"inText", "Connection from 10.0.0.1 refused", {{"10.0.0.1", "", "0A000001"}}},
        ScanCase{"portDirectlyAfter", "10.0.0.1:8080 GET", {{"10.0.0.1", ":8080", "0A000001"}}},
        ScanCase{"portOneBlankAway", "a 1.2.3.4 :80", {{"1.2.3.4", ":80", "01020304"}}},
        ScanCase{"portTwoBlanksAway", "1.2.3.4  :80", {{"1.2.3.4", "", "01020304"}}},
        ScanCase{"fiveDigitPort", "1.2.3.4:65535", {{"1.2.3.4", ":65535", "01020304"}}},
        ScanCase{
            "longDigitRunGivesFirstFive", "1.2.3.4:6553599", {{"1.2.3.4", ":65535", "01020304"}}},
        ScanCase{"portStopsAtLetter", "1.2.3.4:80abc", {{"1.2.3.4", ":80", "01020304"}}},
        ScanCase{"portStopsAtBlank", "1.2.3.4:8 0", {{"1.2.3.4", ":8", "01020304"}}},
        ScanCase{"colonThenLetter", "1.2.3.4:x", {{"1.2.3.4", "", "01020304"}}},
        ScanCase{"colonEndsLine", "1.2.3.4:", {{"1.2.3.4", ":", "01020304"}}},
        ScanCase{"highest", "255.255.255.255:0", {{"255.255.255.255", ":0", "FFFFFFFF"}}},
        ScanCase{"portBelongsToItsAddress",
                 "10.0.0.1:80 10.0.0.2",
                 {{"10.0.0.1", ":80", "0A000001"}, {"10.0.0.2", "", "0A000002"}}},
        ScanCase{"twoAddresses",
                 "1.1.1.1 2.2.2.2",
                 {{"1.1.1.1", "", "01010101"}, {"2.2.2.2", "", "02020202"}}},
        ScanCase{"fourthOctetStartsNext",
                 "1.1.1.12.2.2.2",
                 {{"1.1.1.12", "", "0101010C"}, {"12.2.2.2", "", "0C020202"}}},
        ScanCase{"fifthPartIgnored", "1.2.3.4.5", {{"1.2.3.4", "", "01020304"}}},
        ScanCase{"sevenParts",
                 "1.2.3.4.5.6.7",
                 {{"1.2.3.4", "", "01020304"}, {"4.5.6.7", "", "04050607"}}},
        ScanCase{"groupAbove255CutAtDot", "999.1.1.1", {{"99.1.1.1", "", "63010101"}}},
        ScanCase{"allGroupsAbove255", "300.300.300.300", {}},
        ScanCase{"fourDigitFirstGroup", "1234.5.6.7", {{"234.5.6.7", "", "EA050607"}}},
        ScanCase{"fourDigitLastGroup", "5.6.7.1234", {{"5.6.7.123", "", "0506077B"}}},
        ScanCase{"lastGroupCutKeepsPort", "1.2.3.456:80", {{"1.2.3.45", ":80", "0102032D"}}},
        ScanCase{"colonTooFarAfterCut", "1.2.3.4567:80", {{"1.2.3.45", "", "0102032D"}}},
        ScanCase{"leadingZerosKept", "010.001.0.7", {{"010.001.0.7", "", "0A010007"}}},
        ScanCase{"leadingDot", ".5.6.7.8", {{"5.6.7.8", "", "05060708"}}},
        ScanCase{"octetsApart", "1.abc 2.3.4", {}},
        ScanCase{"dateBeforeAddress", "24.01.15 10.0.0.1", {{"10.0.0.1", "", "0A000001"}}},
        ScanCase{"cidrSuffix", "192.168.1.1/24", {{"192.168.1.1", "", "C0A80101"}}},
        ScanCase{"letterAfterThirdDot", "1.2.3.x", {}},
        ScanCase{"blankAfterThirdDot", "1.2.3. 4", {}}, ScanCase{"emptyOctet", "1..2.3.4", {}},
        ScanCase{"timeOfDay", "12:30:45.123", {}}, ScanCase{"emptyLine", "", {}},
        ScanCase{"thirdDotEndsLine", "release 1.2.3.", {}},
        ScanCase{"thirdDotEndsLineThenNothingElse", "1.2.3.", {}},
        ScanCase{"addressAtStartAndEnd",
                 "1.2.3.4 x 5.6.7.8",
                 {{"1.2.3.4", "", "01020304"}, {"5.6.7.8", "", "05060708"}}},
        ScanCase{"tabIsOrdinary", "1.2.3.4\t:80", {{"1.2.3.4", ":80", "01020304"}}},
        ScanCase{"lastOctetCutByLineEnd", "x 1.2.3.25", {{"1.2.3.25", "", "01020319"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Real log lines: an earlier dot on the line (protocol version, fraction of a
// second, host name) must never lend its digits to an address.
INSTANTIATE_TEST_SUITE_P(
    LogLines, ScanLineTest,
    ::testing::Values(
        ScanCase{"httpVersionBefore", "HTTP/1.1 200 from 10.1.2.3", {{"10.1.2.3", "", "0A010203"}}},
        ScanCase{"dotsBeforeAddress", "HTTP/1.1 .. 10.1.2.3", {{"10.1.2.3", "", "0A010203"}}},
        ScanCase{"accessLog",
                 "203.0.113.9 - - [10/Oct/2024:13:55:36 +0000] \"GET /v1.2/index.html HTTP/1.1\" "
                 "200 2326",
                 {{"203.0.113.9", "", "CB007109"}}},
        ScanCase{"accessLogBehindProxy",
                 "10.0.0.5 - - [10/Oct/2024:13:55:36.123 +0000] \"POST /api HTTP/1.1\" 201 12 "
                 "\"-\" \"curl/7.88.1\" "
                 "198.51.100.23",
                 {{"10.0.0.5", "", "0A000005"}, {"198.51.100.23", "", "C6336417"}}},
        ScanCase{"timestampWithFraction",
                 "05:08:05.284925 [client 94.46.118.87:40286] AH01630",
                 {{"94.46.118.87", ":40286", "5E2E7657"}}},
        ScanCase{"sshd",
                 "Jan 12 03:14:07 host sshd[2121]: Failed password for root from 185.220.101.4 "
                 "port 50412 ssh2",
                 {{"185.220.101.4", "", "B9DC6504"}}},
        ScanCase{"firewall",
                 "kernel: [12345.678901] IN=eth0 OUT= SRC=45.33.32.156 DST=192.168.0.10 LEN=60 "
                 "TTL=51 SPT=61234 DPT=22",
                 {{"45.33.32.156", "", "2D21209C"}, {"192.168.0.10", "", "C0A8000A"}}},
        ScanCase{
            "versionStrings", "nginx/1.24.0 openssl 3.0.11 kernel 6.1.0-18-amd64 Java 17.0.2", {}},
        ScanCase{
            "isoTimestamp", "2024-01-15T10:00:00.5Z 8.8.8.8:53", {{"8.8.8.8", ":53", "08080808"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanLine, findsAddressesInALineOfOneMegabyte) {
    std::string line;
    for (int i = 0; i < 50'000; ++i) line += "v1.2 x 10.0." + std::to_string(i % 256) + ".1:443 ";
    const std::vector<FoundAddress> found = scanLine(line);
    ASSERT_EQ(found.size(), 50'000u);
    EXPECT_EQ(found.back().dottedText, "10.0.79.1");
    EXPECT_EQ(found.back().portText, ":443");
}

// The octet before a dot, read digit by digit, against its definition: the
// widest of 3, 2 and 1 characters before the dot that octetValue accepts.
// Every text of up to four characters from digits that straddle the limits
// (0, 2, 5, 6, 9) and a letter, the dot after each of its prefixes' ends.
TEST(ScanLine, octetBeforeADotIsTheWidestValidRun) {
    const std::string alphabet = "02569x";
    std::vector<std::string> texts{""};
    for (int length = 1; length <= 4; ++length) {
        const std::size_t before = texts.size();
        for (std::size_t i = 0; i < before; ++i)
            if (texts[i].size() == static_cast<std::size_t>(length - 1))
                for (const char c : alphabet) texts.push_back(texts[i] + c);
    }
    for (const std::string& text : texts) {
        const std::string line = text + ".";
        const std::size_t dot = text.size();
        int expected = -1;
        std::size_t expectedWidth = 3;
        for (; expectedWidth >= 1; --expectedWidth)
            if (dot >= expectedWidth &&
                (expected = detail::octetValue(line.data() + dot - expectedWidth, expectedWidth)) >=
                    0)
                break;
        std::size_t width = 0;
        ASSERT_EQ(detail::octetBefore(line.data(), dot, width), expected) << line;
        if (expected >= 0) {
            ASSERT_EQ(width, expectedWidth) << line;
        }
    }
}

}  // namespace
}  // namespace ipcountry::analysis
