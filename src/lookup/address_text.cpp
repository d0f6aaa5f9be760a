#include "lookup/address_text.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "lookup/address_key.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

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
    if (!address) throw Error(ErrorKind::InvalidArgument, ErrorCode::NoAddressKey, {});
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

namespace {

constexpr std::string_view kNoAddress = "not an IPv4 or IPv6 address";
// Quoted text in a reason is cut here: a reason about a huge line stays short.
constexpr std::size_t kLongestQuote = 16;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += text.substr(0, kLongestQuote);
    if (text.size() > kLongestQuote) out += "...";
    out += '"';
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// What is wrong with text that should be a dotted IPv4 address; empty when
// nothing is. Octet by octet only for text that begins as an IPv4 address
// does (a digit, and a dot somewhere): "example.com" is no IPv4 address
// with a wrong first octet.
std::string ipv4Problem(std::string_view text) {
    if (text.empty()) return "no address";
    if (!isDigit(text.front()) || text.find('.') == std::string_view::npos)
        return std::string(kNoAddress);
    int octet = 0;
    std::size_t start = 0;
    for (;;) {
        ++octet;
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot - start);
        if (octet > 4) return "more than 4 octets";
        if (part.empty()) return "octet " + std::to_string(octet) + " is empty";
        if (!std::all_of(part.begin(), part.end(), isDigit))
            return "octet " + std::to_string(octet) + " (" + quoted(part) + ") is not a number";
        if (part.size() > 3) {
            return "octet " + std::to_string(octet) + " (" + quoted(part) +
                   ") has more than 3 digits";
        }
        if (std::stoi(std::string(part)) > 255)
            return "octet " + std::to_string(octet) + " is " + std::string(part);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (octet < 4) return std::to_string(octet) + " octets, not 4";
    return {};
}

// A port as the command line takes it: a colon and one to five digits.
std::string portProblem(std::string_view port) {
    const std::string_view digits = port.substr(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return "port is not a number";
    if (digits.size() > 5) return "port has more than 5 digits";
    return {};
}

// The address an IPv6 text names, if it names one.
std::optional<TypedAddress> readIpv6(std::string_view text) {
    return typedAddressOf(parseIpv6Text(text));
}

// "[address]" or "[address]:port".
AddressReading readBracketed(std::string_view text) {
    AddressReading reading;
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
        reading.reason = "no ] after [";
        return reading;
    }
    const std::string_view address = text.substr(0, close + 1);
    const std::string_view rest = text.substr(close + 1);
    const std::optional<TypedAddress> typed = readIpv6(address);
    if (!typed) {
        reading.reason = "not an IPv6 address in brackets";
        return reading;
    }
    if (!rest.empty()) {
        if (rest.front() != ':') {
            reading.reason = "text after ]";
            return reading;
        }
        reading.reason = portProblem(rest);
        if (!reading.reason.empty()) return reading;
        reading.port = rest;
    }
    reading.address = address;
    reading.typed = *typed;
    return reading;
}

}  // namespace

AddressReading readAddressText(std::string_view text) {
    text = trimmed(text);
    AddressReading reading;
    if (text.empty()) {
        reading.reason = "no address";
        return reading;
    }
    if (text.front() == '[') return readBracketed(text);
    const std::size_t colon = text.find(':');
    // An IPv6 address has two colons at least; one colon is an IPv4 port's.
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
        if (const std::optional<TypedAddress> typed = readIpv6(text)) {
            reading.address = text;
            reading.typed = *typed;
        } else {
            reading.reason = kNoAddress;
        }
        return reading;
    }
    const std::string_view address = text.substr(0, colon);
    // Most texts are plain addresses, read at once: the reasons are only
    // sought for the rest (find - reads a million lines this way).
    const std::optional<std::uint32_t> plain = readPlainAddress(address);
    if (!plain) reading.reason = ipv4Problem(address);
    if (reading.reason.empty() && colon != std::string_view::npos) {
        reading.port = text.substr(colon);
        reading.reason = portProblem(reading.port);
    }
    if (reading.reason.empty()) {
        reading.address = address;
        reading.typed = {TypedAddress::Kind::Ipv4, plain ? *plain : readAddress(address), {}};
    } else {
        reading.port = {};
    }
    return reading;
}

std::string formattedLineProblem(std::string_view line) {
    if (line.empty()) return "empty line";
    const std::size_t colon = line.find(':');
    const bool ipv6 =
        line.front() == '[' ||
        (colon != std::string_view::npos && line.find(':', colon + 1) != std::string_view::npos &&
         line.substr(0, colon).find('.') == std::string_view::npos);
    std::string problem;
    if (ipv6) {
        problem = readAddressText(line).reason;
    } else if (colon == 0) {
        problem = "no address before the colon";
    } else if (colon == std::string_view::npos) {
        problem = ipv4Problem(line);
        if (problem.empty()) problem = "no port after the address (address:port)";
    } else {
        problem = ipv4Problem(line.substr(0, colon));
    }
    // The list's rule reads some texts this reading takes (blanks around an
    // address): their failure still gets a reason.
    return problem.empty() ? std::string(kNoAddress) : problem;
}

}  // namespace ipcountry::lookup
