#include "lookup/ipv6_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

namespace ipcountry::lookup {
namespace {

using Kind = Ipv6Address::Kind;

struct TextCase {
    std::string text;
    Kind kind;
    Address6 address;        // Ipv6, LinkLocal
    std::uint32_t ipv4 = 0;  // Ipv4
    std::string zone = {};
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Ipv6TextForms : public ::testing::TestWithParam<TextCase> {};

TEST_P(Ipv6TextForms, readAsTheirKindAndValue) {
    const auto& c = GetParam();
    const auto got = parseIpv6Text(c.text);
    ASSERT_EQ(got.kind, c.kind);
    if (c.kind == Kind::Ipv4) {
        EXPECT_EQ(got.ipv4, c.ipv4);
    } else if (c.kind != Kind::Invalid) {
        EXPECT_EQ(got.address, c.address);
    }
    EXPECT_EQ(got.zone, c.zone);
}

constexpr Address6 kDoc{0x20010DB800000000ULL, 1};        // 2001:db8::1
constexpr Address6 kLinkLocal{0xFE80000000000000ULL, 1};  // fe80::1

INSTANTIATE_TEST_SUITE_P(
    Forms, Ipv6TextForms,
    ::testing::Values(
        // The notations of one address; what inet_pton refuses is not retold here.
        TextCase{"2001:0db8:0000:0000:0000:0000:0000:0001", Kind::Ipv6, kDoc},
        TextCase{"2001:DB8::1", Kind::Ipv6, kDoc}, TextCase{"[2001:db8::1]", Kind::Ipv6, kDoc},
        TextCase{"::1", Kind::Ipv6, {0, 1}},
        // Not IPv6: dotted IPv4 is left to its own rules; a port is the caller's to split off.
        TextCase{"192.0.2.1", Kind::Invalid, {}}, TextCase{"[]", Kind::Invalid, {}},
        TextCase{"[2001:db8::1", Kind::Invalid, {}}, TextCase{"2001:db8::1]", Kind::Invalid, {}},
        TextCase{"[2001:db8::1]:443", Kind::Invalid, {}},
        TextCase{" 2001:db8::1", Kind::Invalid, {}},
        TextCase{"2001:db8::1:2:3:4:5:6:7:8:9:a:b:c:d:e:f:0:1:2:3:4:5:6:7", Kind::Invalid, {}},
        // A zone names a link: no country, whatever the address.
        TextCase{"fe80::1%eth0", Kind::LinkLocal, kLinkLocal, 0, "eth0"},
        TextCase{"[fe80::1%25enp3s0]", Kind::LinkLocal, kLinkLocal, 0, "enp3s0"},
        TextCase{"ff02::1%12", Kind::LinkLocal, {0xFF02000000000000ULL, 1}, 0, "12"},
        TextCase{"fe80::1", Kind::LinkLocal, kLinkLocal},
        TextCase{"febf:ffff::1", Kind::LinkLocal, {0xFEBFFFFF00000000ULL, 1}},
        TextCase{"fec0::1", Kind::Ipv6, {0xFEC0000000000000ULL, 1}},
        TextCase{"fe80::1%", Kind::Invalid, {}}, TextCase{"fe80::1%eth 0", Kind::Invalid, {}},
        TextCase{"fe80::1%eth0%1", Kind::Invalid, {}},
        // Dotted tails: the prefixes that carry an IPv4 address give that address.
        TextCase{"::ffff:192.0.2.1", Kind::Ipv4, {}, 0xC0000201},
        TextCase{"[::ffff:192.0.2.1]", Kind::Ipv4, {}, 0xC0000201},
        TextCase{"::ffff:c000:201", Kind::Ipv4, {}, 0xC0000201},
        TextCase{"::192.0.2.1", Kind::Ipv4, {}, 0xC0000201},
        TextCase{"64:ff9b::c000:201", Kind::Ipv4, {}, 0xC0000201},
        TextCase{"2001:db8::192.0.2.1", Kind::Ipv6, {0x20010DB800000000ULL, 0xC0000201}},
        TextCase{"::1:ffff:192.0.2.1", Kind::Ipv6, {0, 0x0001FFFFC0000201ULL}},
        // Outside 64:ff9b::/96 the last 32 bits are no IPv4 address.
        TextCase{"64:ff9b::1:102:304", Kind::Ipv6, {0x0064FF9B00000000ULL, 0x0000000101020304ULL}},
        // The longest texts: 45 characters, in brackets 47; one more is none.
        TextCase{"0000:0000:0000:0000:0000:ffff:255.255.255.255", Kind::Ipv4, {}, 0xFFFFFFFF},
        TextCase{"[0000:0000:0000:0000:0000:ffff:255.255.255.255]", Kind::Ipv4, {}, 0xFFFFFFFF},
        TextCase{"0000:0000:0000:0000:0000:ffff:2.255.255.255", Kind::Ipv4, {}, 0x02FFFFFF},
        TextCase{"0000:0000:0000:0000:0000:ffff:0255.255.255.255", Kind::Invalid, {}},
        TextCase{"1234:5678:9abc:def0:1234:5678:255.255.255.255",
                 Kind::Ipv6,
                 {0x123456789ABCDEF0ULL, 0x12345678FFFFFFFFULL}}));

}  // namespace
}  // namespace ipcountry::lookup

namespace ipcountry::lookup {
namespace {

// The reading against the C library's inet_pton, which shares nothing with
// it: random texts built from groups, colons, "::" and dotted tails (most
// near-misses of an address), and random strings over their characters.
TEST(ReadIpv6Value, readsExactlyWhatInetPtonReads) {
    std::mt19937_64 rng(20261208);
    const std::string pieces[] = {
        "0",         "1",        "ff",    "FfFf",      "12345",   "abc",
        ":",         "::",       ":::",   ".",         "1.2.3.4", "255.255.255.255",
        "256.1.1.1", "01.2.3.4", "1.2.3", "1.2.3.4.5", "g",       "db8",
        "0:0"};
    const std::string characters = "0123456789abcdefABCDEF:.:.x";
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        if (i % 2 == 0) {
            const int count = 1 + static_cast<int>(rng() % 12);
            for (int k = 0; k < count; ++k) text += pieces[rng() % std::size(pieces)];
        } else {
            const std::size_t length = rng() % 48;
            for (std::size_t k = 0; k < length; ++k) text += characters[rng() % characters.size()];
        }
        unsigned char expected[16];
        const bool valid =
            text.size() <= kLongestIpv6Text && ::inet_pton(AF_INET6, text.c_str(), expected) == 1;
        const std::optional<Address6> got = readIpv6Value(text);
        ASSERT_EQ(got.has_value(), valid) << '"' << text << '"';
        if (valid) {
            ASSERT_EQ(*got, Address6::fromBytes(expected)) << '"' << text << '"';
        }
    }
}

// Where the two readings could part: the edges of "::", of the group count
// and of the dotted tail, and a NUL, which ends inet_pton's C string early
// but is no part of any address.
TEST(ReadIpv6Value, edgesOfTheForms) {
    const struct {
        std::string_view text;
        bool valid;
    } cases[] = {
        {"::", true},
        {":::", false},
        {"::1", true},
        {"1::", true},
        {":1::", false},
        {"1:", false},
        {"1::2:", false},
        {"1:2:3:4:5:6:7:8", true},
        {"1:2:3:4:5:6:7:8:9", false},
        {"1:2:3:4:5:6:7::", true},
        {"1:2:3:4:5:6:7:8::", false},
        {"::1:2:3:4:5:6:7", true},
        {"1:2:3:4:5:6:1.2.3.4", true},
        {"1:2:3:4:5:6:7:1.2.3.4", false},
        {"::ffff:1.2.3.4", true},
        {"::ffff:01.2.3.4", false},
        {"::1.2.3.4.", false},
        {"::1.2.3", false},
        {"::a.2.3.4", false},
        {"1::2::3", false},
        {"12345::", false},
        {std::string_view("::1\0ab", 6), false},
    };
    for (const auto& c : cases) EXPECT_EQ(readIpv6Value(c.text).has_value(), c.valid) << c.text;
}

}  // namespace
}  // namespace ipcountry::lookup
