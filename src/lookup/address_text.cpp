#include "lookup/address_text.h"

#include <string>

#include "lookup/address_key.h"
#include "lookup/error.h"

namespace ipcountry::lookup {

std::optional<std::uint32_t> readPlainAddress(std::string_view text) noexcept {
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && digits < 4 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        address = (address << 8) | value;
    }
    if (pos != text.size()) return std::nullopt;
    return address;
}

std::uint32_t readAddress(std::string_view text) {
    if (const std::optional<std::uint32_t> plain = readPlainAddress(text)) return *plain;
    const std::optional<std::uint32_t> address = keyToAddress(makeAddressKey(text));
    if (!address) throw Error(ErrorKind::InvalidArgument, std::string());
    return *address;
}

std::optional<TypedAddress> typedAddressOf(const Ipv6Address& parsed) {
    switch (parsed.kind) {
        case Ipv6Address::Kind::Invalid:
            break;
        case Ipv6Address::Kind::Ipv4:
            return TypedAddress{TypedAddress::Kind::Ipv4, parsed.ipv4, {}};
        case Ipv6Address::Kind::Ipv6:
            return TypedAddress{TypedAddress::Kind::Ipv6, 0, parsed.address};
        case Ipv6Address::Kind::LinkLocal:
            return TypedAddress{TypedAddress::Kind::LinkLocal, 0, parsed.address};
    }
    return std::nullopt;
}

TypedAddress readTypedAddress(std::string_view text) {
    if (const std::optional<std::uint32_t> plain = readPlainAddress(text))
        return {TypedAddress::Kind::Ipv4, *plain, {}};
    try {
        return {TypedAddress::Kind::Ipv4, readAddress(text), {}};
    } catch (const Error&) {
        if (const std::optional<TypedAddress> typed = typedAddressOf(parseIpv6Text(text)))
            return *typed;
        throw;
    }
}

}  // namespace ipcountry::lookup
