#include "lookup/address_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "lookup/error.h"

namespace ipcountry::lookup {
namespace {

struct KeyCase {
    std::string text;
    std::string key;                 // expected key when no error
    std::optional<ErrorKind> error;  // expected error instead
};

class MakeAddressKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(MakeAddressKey, followsTheDotWalk) {
    const auto& c = GetParam();
    if (c.error) {
        try {
            makeAddressKey(c.text);
            FAIL() << "expected an error for \"" << c.text << "\"";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), *c.error) << c.text;
            EXPECT_FALSE(std::string(e.what()).empty());
        }
    } else {
        EXPECT_EQ(makeAddressKey(c.text), c.key) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeAddressKey,
    ::testing::Values(
        KeyCase{"192.168.0.1", "C0A80001", {}}, KeyCase{"10.0.0.255", "0A0000FF", {}},
        KeyCase{"0.0.0.0", "00000000", {}}, KeyCase{"255.255.255.255", "FFFFFFFF", {}},
        // The last octet is at most three characters when no dot follows it.
        KeyCase{"1.2.3.4567", "0102031C8", {}}, KeyCase{"1.2.3.45 x", "0102032D", {}},
        KeyCase{"1.2.3.4 x", "", ErrorKind::TypeMismatch},
        // An octet above 255 lengthens the key, which the caller then rejects.
        KeyCase{"256.1.1.1", "100010101", {}},
        // A fourth dot and what follows it are ignored.
        KeyCase{"1.2.3.4.5", "01020304", {}}, KeyCase{"10.1.2.3.77", "0A010203", {}},
        KeyCase{" 1.2.3.4", "01020304", {}}, KeyCase{"10.1.2.3 ", "0A010203", {}},
        KeyCase{"010.001.0.7", "0A010007", {}},
        // A negative octet never gives a key of 8 characters.
        KeyCase{"-1.2.3.4", "FFFFFFFF020304", {}}, KeyCase{"1.2.3", "", ErrorKind::InvalidArgument},
        KeyCase{"", "", ErrorKind::InvalidArgument}, KeyCase{"1", "", ErrorKind::InvalidArgument},
        KeyCase{"a.b.c.d", "", ErrorKind::TypeMismatch},
        KeyCase{"1.2.3.", "", ErrorKind::TypeMismatch},
        KeyCase{"1..2.3.4", "", ErrorKind::TypeMismatch},
        KeyCase{"1.2.x.4", "", ErrorKind::TypeMismatch},
        KeyCase{". . . ", "", ErrorKind::TypeMismatch}, KeyCase{"1000.1.1.1", "3E8010101", {}}));

TEST(AddressKeyLimits, hugeOctetsGiveALongKeyNotAnOverflow) {
    EXPECT_GT(makeAddressKey("99999999999999999999999.1.1.1").size(), kAddressKeyLength);
    EXPECT_GT(makeAddressKey("1.2.3.-99999999999999999999").size(), kAddressKeyLength);
}

TEST(AddressKeyConversions, roundTripAndRejectMalformedKeys) {
    for (std::uint32_t a : {0u, 1u, 0x0A000000u, 0xC0A80001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(keyToAddress(addressToKey(a)), a);
    }
    for (const char* bad : {"", "0A00000", "0A0000001", "0a000000", "0A00000G", "0A 00000"}) {
        EXPECT_FALSE(keyToAddress(bad).has_value()) << bad;
    }
}

// The plain reading of a valid key, character by character: 8 of 0-9 or A-F.
bool isHexKey(std::string_view key) {
    return key.size() == kAddressKeyLength && std::all_of(key.begin(), key.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// Texts near a key's length, mostly hex: read as hex exactly when they are valid keys.
TEST(AddressKeyConversions, readsExactlyTheValidKeysAsHex) {
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string key(7 + random() % 3, '0');
        // Past the hex digits: the characters just beside each of their runs,
        // lower case, and bytes whose upper bit is set (0xB0 is '0' plus 0x80).
        for (char& c : key)
            c = "0123456789ABCDEFaG:\xFF/@`f\x80\xB0\xC1"[random() % (random() % 4 ? 16 : 27)];
        std::uint32_t value = 0;
        std::from_chars(key.data(), key.data() + key.size(), value, 16);
        EXPECT_EQ(keyToAddress(key), isHexKey(key) ? std::optional(value) : std::nullopt);
    }
}

}  // namespace
}  // namespace ipcountry::lookup
