#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ipcountry::lookup {

// An IPv6 address as a 128-bit number; `high` holds the first 64 bits as
// written. The member order makes the defaulted comparison numeric.
struct Address6 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    friend constexpr auto operator<=>(const Address6&, const Address6&) = default;

    static constexpr Address6 max() noexcept { return {~std::uint64_t{0}, ~std::uint64_t{0}}; }
    // Both wrap around at the ends of the address space, as unsigned numbers do.
    constexpr Address6& operator++() noexcept {
        if (++low == 0) ++high;
        return *this;
    }
    constexpr Address6& operator--() noexcept {
        if (low-- == 0) --high;
        return *this;
    }

    // The 16 bytes in network order (inet_pton's and sockaddr_in6's layout).
    static constexpr Address6 fromBytes(const unsigned char* bytes) noexcept {
        Address6 a;
        for (int i = 0; i < 8; ++i) a.high = (a.high << 8) | bytes[i];
        for (int i = 8; i < 16; ++i) a.low = (a.low << 8) | bytes[i];
        return a;
    }
    constexpr void toBytes(unsigned char* bytes) const noexcept {
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<unsigned char>(high >> (56 - 8 * i));
            bytes[8 + i] = static_cast<unsigned char>(low >> (56 - 8 * i));
        }
    }
};

// The key of an IPv6 address in IP6_db.dbf: 32 upper-case hex digits, most
// significant first, so that text order of keys equals numeric order.
inline constexpr std::size_t kAddress6KeyLength = 32;

inline std::string address6ToKey(Address6 address) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string key(kAddress6KeyLength, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        key[i] = kDigits[(address.high >> (60 - 4 * i)) & 0xF];
        key[16 + i] = kDigits[(address.low >> (60 - 4 * i)) & 0xF];
    }
    return key;
}

// The address of a valid key (exactly 32 characters, each 0-9 or A-F); nullopt otherwise.
inline std::optional<Address6> keyToAddress6(std::string_view key) noexcept {
    if (key.size() != kAddress6KeyLength) return std::nullopt;
    Address6 a;
    for (std::size_t i = 0; i < kAddress6KeyLength; ++i) {
        const char c = key[i];
        int v = 0;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        std::uint64_t& half = i < 16 ? a.high : a.low;
        half = (half << 4) | static_cast<std::uint64_t>(v);
    }
    return a;
}

}  // namespace ipcountry::lookup
