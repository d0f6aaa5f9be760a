#include "lookup/ipv6_text.h"

#include <arpa/inet.h>

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

std::optional<Address6> readIpv6Value(std::string_view text) noexcept {
    if (text.empty() || text.size() > kLongestIpv6Text) return std::nullopt;
    // inet_pton wants a NUL-terminated text.
    char buffer[kLongestIpv6Text + 1];
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, buffer, bytes) != 1) return std::nullopt;
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
