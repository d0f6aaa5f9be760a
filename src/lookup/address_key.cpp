#include "lookup/address_key.h"

#include <array>
#include <cstdint>

#include "lookup/error.h"

namespace ipcountry::lookup {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string octetLabel(int octet, std::string_view text) {
    return "octet " + std::to_string(octet) + " (\"" + std::string(text) + "\")";
}

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
        throw Error(ErrorKind::TypeMismatch,
                    "Type mismatch: octet " + std::to_string(octet) + " is empty");
    }
    if (digitsBegin == digitsEnd || pos != text.size()) {
        throw Error(ErrorKind::TypeMismatch,
                    "Type mismatch: " + octetLabel(octet, text) + " is not a number");
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
            throw Error(ErrorKind::InvalidArgument,
                        "Invalid argument: the address has fewer than three dots");
        }
        const std::string_view octetText =
            start < text.size() ? text.substr(start, dot - start - 1) : std::string_view{};
        appendHex(key, readOctet(octetText, octet));
    }
    return key;
}

bool isValidAddressKey(std::string_view key) noexcept {
    if (key.size() != kAddressKeyLength) return false;
    for (char c : key) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::optional<std::uint32_t> keyToAddress(std::string_view key) noexcept {
    // Every range file line starts with a key: one table look per digit, and
    // a single test for the whole key at the end.
    static constexpr auto kValue = [] {
        std::array<std::uint8_t, 256> value{};
        value.fill(0x10);
        for (int i = 0; i < 16; ++i)
            value[static_cast<unsigned char>(kHexDigits[i])] = static_cast<std::uint8_t>(i);
        return value;
    }();
    if (key.size() != kAddressKeyLength) return std::nullopt;
    std::uint32_t value = 0;
    std::uint32_t invalid = 0;
    for (char c : key) {
        const std::uint32_t digit = kValue[static_cast<unsigned char>(c)];
        invalid |= digit;
        value = (value << 4) | (digit & 0xF);
    }
    if (invalid & 0x10) return std::nullopt;
    return value;
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
