#include "lookup/range_set.h"

#include <cstring>

namespace ipcountry::lookup {

namespace {

// "0" to "255", each as its length and up to three digits: an octet is
// written as four bytes copied and the length added.
struct OctetTexts {
    char text[256][4];
    constexpr OctetTexts() : text{} {
        for (unsigned value = 0; value < 256; ++value) {
            int length = 0;
            if (value >= 100) text[value][1 + length++] = static_cast<char>('0' + value / 100);
            if (value >= 10) text[value][1 + length++] = static_cast<char>('0' + value / 10 % 10);
            text[value][1 + length++] = static_cast<char>('0' + value % 10);
            text[value][0] = static_cast<char>(length);
        }
    }
};
constexpr OctetTexts kOctets;

// Always copies three bytes: a shorter octet leaves bytes past its digits
// that what follows overwrites, never past where the longest text ends.
char* writeOctet(char* out, unsigned value) noexcept {
    const char* entry = kOctets.text[value];
    std::memcpy(out, entry + 1, 3);
    return out + entry[0];
}

// A group of an IPv6 address: lower-case hex without leading zeros.
char* writeGroup(char* out, unsigned group) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    int shift = 12;
    while (shift > 0 && (group >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) *out++ = kDigits[(group >> shift) & 0xF];
    return out;
}

}  // namespace

char* writeAddressText(char* out, std::uint32_t address) noexcept {
    out = writeOctet(out, address >> 24);
    *out++ = '.';
    out = writeOctet(out, (address >> 16) & 0xFF);
    *out++ = '.';
    out = writeOctet(out, (address >> 8) & 0xFF);
    *out++ = '.';
    return writeOctet(out, address & 0xFF);
}

char* writeAddressText(char* out, Address6 address) noexcept {
    unsigned groups[8];
    for (int i = 0; i < 4; ++i) {
        groups[i] = static_cast<unsigned>(address.high >> (48 - 16 * i)) & 0xFFFF;
        groups[4 + i] = static_cast<unsigned>(address.low >> (48 - 16 * i)) & 0xFFFF;
    }
    // The longest run of two or more zero groups becomes ::, the first of
    // runs of equal length.
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }
    for (int i = 0; i < 8; ++i) {
        if (bestStart >= 0 && i >= bestStart && i < bestStart + bestLength) {
            if (i == bestStart) *out++ = ':';
            continue;
        }
        if (i != 0) *out++ = ':';
        // ::a.b.c.d and ::ffff:a.b.c.d keep the IPv4 address dotted.
        if (i == 6 && bestStart == 0 &&
            (bestLength == 6 || (bestLength == 5 && groups[5] == 0xFFFF)))
            return writeAddressText(out, static_cast<std::uint32_t>(address.low));
        out = writeGroup(out, groups[i]);
    }
    if (bestStart >= 0 && bestStart + bestLength == 8) *out++ = ':';
    return out;
}

std::string addressText(std::uint32_t address) {
    char buffer[kCidrTextRoom];
    return std::string(buffer, writeAddressText(buffer, address));
}

std::string addressText(Address6 address) {
    char buffer[kCidrTextRoom];
    return std::string(buffer, writeAddressText(buffer, address));
}

}  // namespace ipcountry::lookup
