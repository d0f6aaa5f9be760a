#include "lookup/address_key.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "lookup/error.h"

namespace ipcountry::lookup {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Reads an octet as a whole number: optional blanks around an optionally
// signed run of decimal digits. Anything else is a type mismatch, as is an
// octet with no digits at all.
std::int64_t readOctet(std::string_view text, int octet) {
    std::size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t digitsBegin = pos;
    std::int64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        // Anything this large is rejected by the key's length anyway; stop
        // growing so that no number overflows.
        if (value < 1'000'000'000'000LL) value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    const std::size_t digitsEnd = pos;
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    if (text.empty()) {
        throw Error(ErrorKind::TypeMismatch, ErrorCode::OctetEmpty,
                    {.number = static_cast<std::uint64_t>(octet)});
    }
    if (digitsBegin == digitsEnd || pos != text.size()) {
        throw Error(ErrorKind::TypeMismatch, ErrorCode::OctetNotNumber,
                    {.number = static_cast<std::uint64_t>(octet), .text = std::string(text)});
    }
    return negative ? -value : value;
}

// Upper-case hex without leading zeros, at least two digits. A negative value
// is written in 32-bit two's complement, so its key is never 8 long.
void appendHex(std::string& key, std::int64_t value) {
    std::uint64_t v =
        value < 0 ? static_cast<std::uint32_t>(value) : static_cast<std::uint64_t>(value);
    char buffer[17];
    int n = 0;
    do {
        buffer[n++] = kHexDigits[v & 0xF];
        v >>= 4;
    } while (v != 0);
    if (n == 1) buffer[n++] = '0';
    while (n > 0) key.push_back(buffer[--n]);
}

}  // namespace

std::string makeAddressKey(std::string_view text) {
    std::string key;
    key.reserve(kAddressKeyLength);
    // Positions count from 1, as in the dot walk: `start` is the dot before
    // the octet (0 before the first), `dot` the dot after it.
    std::size_t start = 0;
    std::size_t dot = 0;
    for (int octet = 1; octet <= 4; ++octet) {
        start = dot;
        const std::size_t found =
            start < text.size() ? text.find('.', start) : std::string_view::npos;
        dot = found == std::string_view::npos ? 0 : found + 1;
        // The last octet needs no dot after it; it is then at most three
        // characters long and whatever follows is ignored.
        if (dot == 0 && octet == 4) dot = start + 4;
        if (dot == 0) {
            throw Error(ErrorKind::InvalidArgument, ErrorCode::TooFewDots, {});
        }
        const std::string_view octetText =
            start < text.size() ? text.substr(start, dot - start - 1) : std::string_view{};
        appendHex(key, readOctet(octetText, octet));
    }
    return key;
}

std::optional<std::uint32_t> keyToAddress(std::string_view key) noexcept {
    // Every range file line starts with a key: all eight digits checked and
    // read at once, one byte of the word each.
    if (key.size() != kAddressKeyLength) return std::nullopt;
    std::uint64_t word;
    std::memcpy(&word, key.data(), 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    // With every byte below 0x80, adding 0x80 - c to each sets its high bit
    // exactly where the byte is at least c, and no sum carries into the next byte.
    const auto atLeast = [word](unsigned c) { return word + kOnes * (0x80 - c); };
    const std::uint64_t digit = atLeast('0') & ~atLeast('9' + 1);
    const std::uint64_t letter = atLeast('A') & ~atLeast('F' + 1);
    if ((word & kHigh) != 0 || ((digit | letter) & kHigh) != kHigh) return std::nullopt;
    // Each byte's value, 0-15; then two to a byte, four bytes to the address.
    const std::uint64_t nibbles = (word & (kOnes * 0x0F)) + ((letter & kHigh) >> 7) * 9;
    const std::uint64_t pairs =
        ((nibbles & 0x000F000F000F000Fu) << 4) | ((nibbles >> 8) & 0x000F000F000F000Fu);
    const std::uint64_t quads = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFu;
    const auto bytes = static_cast<std::uint32_t>(quads | (quads >> 16));
    // The first digit pair came first in memory, so it is the lowest byte.
    return (bytes >> 24) | ((bytes >> 8) & 0xFF00u) | ((bytes << 8) & 0xFF0000u) | (bytes << 24);
}

std::string addressToKey(std::uint32_t address) {
    std::string key(kAddressKeyLength, '0');
    for (int i = 7; i >= 0; --i) {
        key[static_cast<std::size_t>(i)] = kHexDigits[address & 0xF];
        address >>= 4;
    }
    return key;
}

}  // namespace ipcountry::lookup
