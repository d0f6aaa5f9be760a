#include "lookup/address_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <regex>
#include <string>

namespace {

using ipcountry::lookup::formattedLineProblem;
using ipcountry::lookup::readAddressText;

struct ReadingCase {
    const char* text;
    const char* address;  // empty: none
    const char* port;
    const char* reason;
};

TEST(AddressReading, readsTheAddressOrSaysWhatIsWrong) {
    // clang-format off
    const ReadingCase cases[] = {
        {"1.2.3.4", "1.2.3.4", "", ""},
        {" \t1.2.3.4 ", "1.2.3.4", "", ""},
        {"255.255.255.255:65535", "255.255.255.255", ":65535", ""},
        {"001.02.3.4", "001.02.3.4", "", ""},
        {"2001:db8::1", "2001:db8::1", "", ""},
        {"[2001:db8::1]", "[2001:db8::1]", "", ""},
        {"[2001:db8::1]:443", "[2001:db8::1]", ":443", ""},
        {"fe80::1%eth0", "fe80::1%eth0", "", ""},
        {"::ffff:1.2.3.4", "::ffff:1.2.3.4", "", ""},
        {"", "", "", "no address"},
        {"   ", "", "", "no address"},
        {"256.1.1.1", "", "", "octet 1 is 256"},
        {"1.2.3.999", "", "", "octet 4 is 999"},
        {"1..3.4", "", "", "octet 2 is empty"},
        {"1.2.3.", "", "", "octet 4 is empty"},
        {"1.2.3", "", "", "3 octets, not 4"},
        {"1.2.3.4.5", "", "", "more than 4 octets"},
        {"1.2.3.0004", "", "", "octet 4 (\"0004\") has more than 3 digits"},
        {"1.2.3.4x", "", "", "octet 4 (\"4x\") is not a number"},
        {"1.2.x3456789012345678.4", "", "", "octet 3 (\"x345678901234567...\") is not a number"},
        {"1.2.3.4 5", "", "", "octet 4 (\"4 5\") is not a number"},
        {"example.com", "", "", "not an IPv4 or IPv6 address"},
        {"bad line", "", "", "not an IPv4 or IPv6 address"},
        {"1234", "", "", "not an IPv4 or IPv6 address"},
        {"2001:zz::1", "", "", "not an IPv4 or IPv6 address"},
        {"8.8.8.8:53:1", "", "", "not an IPv4 or IPv6 address"},
        {"8.8.8.8:", "", "", "port is not a number"},
        {"8.8.8.8:5x", "", "", "port is not a number"},
        {"8.8.8.8:123456", "", "", "port has more than 5 digits"},
        {"256.8.8.8:x", "", "", "octet 1 is 256"},
        {"[2001:db8::1", "", "", "no ] after ["},
        {"[1.2.3.4]:80", "", "", "not an IPv6 address in brackets"},
        {"[2001:db8::1]x", "", "", "text after ]"},
        {"[2001:db8::1]:", "", "", "port is not a number"},
    };
    // clang-format on
    for (const ReadingCase& c : cases) {
        const auto reading = readAddressText(c.text);
        EXPECT_EQ(reading.address, c.address) << c.text;
        EXPECT_EQ(reading.port, c.port) << c.text;
        EXPECT_EQ(reading.reason, c.reason) << c.text;
    }
}

TEST(AddressReading, wordsWhyAFormattedLineNamesNoAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "empty line"},
        {"junk", "not an IPv4 or IPv6 address"},
        {"1.2.3.4", "no port after the address (address:port)"},
        {":80", "no address before the colon"},
        {"256.0.0.1:80", "octet 1 is 256"},
        {"a.b.c.d:80", "not an IPv4 or IPv6 address"},
        {"1.2.3:80", "3 octets, not 4"},
        {"2001:zz::1", "not an IPv4 or IPv6 address"},
        {"[2001:db8::1]:http", "port is not a number"},
        {"[2001:db8::1", "no ] after ["},
        // Texts the list's own rule refuses though they read as an address
        // on their own still get a reason.
        {"[2001:db8::1]:123456", "port has more than 5 digits"},
        {"2001:db8::1:80x", "not an IPv4 or IPv6 address"},
    };
    for (const auto& [line, problem] : cases)
        EXPECT_EQ(formattedLineProblem(line), problem) << line;
}

// The reading as inet_pton and a regular expression take it, sharing
// nothing with the reader: IPv4 four octets of 1 to 3 digits up to 255, IPv6
// what inet_pton reads, in brackets when a port follows.
bool referenceAccepts(std::string text) {
    static const std::regex blanks("^[ \t]+|[ \t]+$");
    text = std::regex_replace(text, blanks, "");
    static const std::regex ipv4(R"(^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})(:\d{1,5})?$)");
    static const std::regex bracketed(R"(^\[([^\]]*)\](:\d{1,5})?$)");
    std::smatch match;
    unsigned char bytes[16];
    if (std::regex_match(text, match, ipv4)) {
        for (int i = 1; i <= 4; ++i)
            if (std::stoi(match[i].str()) > 255) return false;
        return true;
    }
    if (std::regex_match(text, match, bracketed))
        return ::inet_pton(AF_INET6, match[1].str().c_str(), bytes) == 1;
    return text.find('[') == std::string::npos && ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// Addresses of every form, mutated one to three characters at a time: the
// reader takes exactly what the reference takes; what it refuses gets a
// short reason.
TEST(AddressReading, takesWhatAnIndependentReadingTakes) {
    const std::string seeds[] = {
        "1.2.3.4",
        "255.255.255.255:65535",
        "10.0.0.1:80",
        "[2001:db8::1]:443",
        "2001:db8::1",
        "::ffff:192.0.2.1",
        "[::1]",
        " 8.8.8.8 ",
        "::",
        "1:2:3:4:5:6:7:8",
        "64:ff9b::1.2.3.4",
        "2001:db8:0:0:1::1",
    };
    const std::string alphabet = "0123456789abcdefABCDEF.:[] \tx";
    std::mt19937 random(20261208);
    int accepted = 0, refused = 0;
    for (int i = 0; i < 60000; ++i) {
        std::string text = seeds[random() % std::size(seeds)];
        for (auto edits = 1 + random() % 3; edits > 0; --edits) {
            const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c);
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default:
                    if (at < text.size()) text[at] = c;
            }
        }
        const auto reading = readAddressText(text);
        ASSERT_EQ(reading.reason.empty(), referenceAccepts(text))
            << '"' << text << "\" " << reading.reason;
        if (reading.reason.empty()) {
            ++accepted;
            EXPECT_FALSE(reading.address.empty()) << text;
        } else {
            ++refused;
            EXPECT_LE(reading.reason.size(), 60u) << text;
        }
    }
    // Both sides of the line are well visited.
    EXPECT_GT(accepted, 5000);
    EXPECT_GT(refused, 5000);
}

}  // namespace

namespace {

// The plain dotted reading against the regular expression, value and all:
// texts of every length around the 7 to 15 characters it takes, octets of
// 0 to 4 digits with leading zeros, values around 255, and stray characters.
TEST(PlainAddress, readsWhatTheRegularExpressionReads) {
    static const std::regex dotted(R"(^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$)");
    std::mt19937 random(20261208);
    const std::string octets[] = {"0",   "00",  "000", "1",   "01",  "9",   "25",   "99", "100",
                                  "199", "255", "256", "299", "300", "999", "1000", "",   "x"};
    const std::string strays = "0123456789..x: ";
    for (int i = 0; i < 100000; ++i) {
        std::string text;
        const int parts = 3 + static_cast<int>(random() % 3);
        for (int k = 0; k < parts; ++k) {
            if (k > 0) text += '.';
            text += octets[random() % std::size(octets)];
        }
        if (random() % 4 == 0)
            text.insert(random() % (text.size() + 1), 1, strays[random() % strays.size()]);
        std::smatch match;
        std::optional<std::uint32_t> expected;
        if (std::regex_match(text, match, dotted)) {
            std::uint32_t value = 0;
            bool small = true;
            for (int k = 1; k <= 4; ++k) {
                const int octet = std::stoi(match[k].str());
                small = small && octet <= 255;
                value = value << 8 | static_cast<std::uint32_t>(octet & 0xFF);
            }
            if (small) expected = value;
        }
        ASSERT_EQ(ipcountry::lookup::readPlainAddress(text), expected) << '"' << text << '"';
    }
}

}  // namespace
