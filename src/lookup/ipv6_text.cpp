#include "lookup/ipv6_text.h"

#include <array>
#include <cstring>

namespace ipcountry::lookup {
namespace {

// Interface names as RFC 6874 lets them stand in a URI; enough for every
// name Linux, BSD and Windows give (eth0, enp3s0, wlan0.1, 12).
bool isZone(std::string_view zone) {
    if (zone.empty()) return false;
    for (char c : zone) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

Ipv6Address classifyIpv6(Address6 address, bool writtenDotted, bool zoned) {
    Ipv6Address result;
    result.address = address;
    const auto tail = static_cast<std::uint32_t>(address.low);
    const std::uint32_t above = static_cast<std::uint32_t>(address.low >> 32);
    if (zoned || (address.high >> 54) == (0xFE80u >> 6)) {
        result.kind = Ipv6Address::Kind::LinkLocal;
    } else if ((address.high == 0 && above == 0xFFFF) ||
               (address.high == 0x0064FF9B00000000ULL && above == 0) ||
               (address.high == 0 && above == 0 && writtenDotted)) {
        result.kind = Ipv6Address::Kind::Ipv4;
        result.ipv4 = tail;
    } else {
        result.kind = Ipv6Address::Kind::Ipv6;
    }
    return result;
}

namespace {

// Each byte's hex value, or kNotHex: one load per character instead of three
// range tests, whose branches a log's mix of digits and letters mispredicts.
constexpr unsigned char kNotHex = 0xFF;
constexpr auto kHexValues = [] {
    std::array<unsigned char, 256> values{};
    values.fill(kNotHex);
    for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<unsigned char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<unsigned char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) values[c] = static_cast<unsigned char>(c - 'A' + 10);
    return values;
}();

int hexValue(char c) noexcept {
    const unsigned char value = kHexValues[static_cast<unsigned char>(c)];
    return value == kNotHex ? -1 : value;
}

// A dotted IPv4 tail as inet_pton reads one: four octets of at most three
// digits, none above 255, none with a leading zero; nothing after it.
bool readDottedTail(std::string_view text, unsigned char* bytes) noexcept {
    int octets = 0;
    unsigned value = 0;
    int digits = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (digits > 0 && value == 0) return false;  // a leading zero
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 255) return false;
            if (digits++ == 0 && ++octets > 4) return false;
            bytes[octets - 1] = static_cast<unsigned char>(value);
        } else if (c == '.' && digits > 0 && octets < 4) {
            value = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    return octets == 4 && digits > 0;
}

}  // namespace

// The forms inet_pton reads, read here without its copy of the text: the
// free-text scan reads every candidate of a dual-stack log through it.
std::optional<Address6> readIpv6Value(std::string_view text) noexcept {
    if (text.empty() || text.size() > kLongestIpv6Text) return std::nullopt;
    unsigned char bytes[16] = {};
    std::size_t filled = 0;             // bytes of groups read so far
    constexpr std::size_t kNoGap = 17;  // past any place "::" can stand
    std::size_t gap = kNoGap;           // where "::" stands among the bytes
    std::size_t at = 0;
    // A leading colon only as the first of "::".
    if (text[0] == ':') {
        if (text.size() < 2 || text[1] != ':') return std::nullopt;
        at = 1;
    }
    std::size_t groupStart = at;  // where the group being read begins
    unsigned value = 0;
    int digits = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (const int digit = hexValue(c); digit >= 0) {
            if (digits == 4) return std::nullopt;
            value = value << 4 | static_cast<unsigned>(digit);
            ++digits;
            continue;
        }
        if (c == ':') {
            groupStart = at + 1;
            if (digits == 0) {
                if (gap != kNoGap) return std::nullopt;  // a second "::"
                gap = filled;
                continue;
            }
            if (at + 1 == text.size() || filled + 2 > 16) return std::nullopt;
            bytes[filled++] = static_cast<unsigned char>(value >> 8);
            bytes[filled++] = static_cast<unsigned char>(value);
            value = 0;
            digits = 0;
            continue;
        }
        // A dotted tail takes the last four bytes, from the group's start on.
        if (c == '.' && filled + 4 <= 16 &&
            readDottedTail(text.substr(groupStart), bytes + filled)) {
            filled += 4;
            digits = 0;
            break;
        }
        return std::nullopt;
    }
    if (digits > 0) {
        if (filled + 2 > 16) return std::nullopt;
        bytes[filled++] = static_cast<unsigned char>(value >> 8);
        bytes[filled++] = static_cast<unsigned char>(value);
    }
    if (gap != kNoGap) {
        // "::" stands for at least one group of zeros.
        if (filled == 16) return std::nullopt;
        const std::size_t after = filled - gap;
        std::memmove(bytes + 16 - after, bytes + gap, after);
        std::memset(bytes + gap, 0, 16 - after - gap);
        filled = 16;
    }
    if (filled != 16) return std::nullopt;
    return Address6::fromBytes(bytes);
}

Ipv6Address parseIpv6Text(std::string_view text) {
    const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    if (bracketed) text = text.substr(1, text.size() - 2);
    std::string_view zone;
    if (const auto percent = text.find('%'); percent != std::string_view::npos) {
        zone = text.substr(percent + 1);
        // In a URI the "%" itself is written %25.
        if (bracketed && zone.starts_with("25") && isZone(zone.substr(2))) zone.remove_prefix(2);
        if (!isZone(zone)) return {};
        text = text.substr(0, percent);
    }
    const std::optional<Address6> value = readIpv6Value(text);
    if (!value) return {};
    auto result = classifyIpv6(*value, text.find('.') != std::string_view::npos, !zone.empty());
    result.zone = zone;
    return result;
}

}  // namespace ipcountry::lookup
