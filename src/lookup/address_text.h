#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "lookup/address6.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::lookup {

// Address text as the user types or lists it, read in one place. IPv4 text
// follows the dot walk of makeAddressKey (address_key.h), with the common
// form read first without building a key; IPv6 text is read by
// readIpv6Value and parseIpv6Text (ipv6_text.h).

// The common form, four groups of one to three digits each at most 255;
// nullopt for anything else (blanks, a fifth part, an octet above 255, ...),
// which only the dot walk decides.
std::optional<std::uint32_t> readPlainAddress(std::string_view text) noexcept;

// An address as typed or listed. Throws Error: the walk's own failures (an
// octet that is not a number, fewer than three dots) with their description,
// and an address whose key is not 8 digits long (an octet above 255) with an
// empty one, as that failure has no description of its own.
std::uint32_t readAddress(std::string_view text);

// An address as "Find", the driver and a formatted list take it: IPv4 text
// by readAddress's rules, else any IPv6 text form (bare or in brackets, with
// or without a zone). IPv4 written in IPv6 notation (::ffff:192.0.2.1,
// ::ffff:c000:201) is that IPv4 address.
struct TypedAddress {
    enum class Kind {
        Ipv4,       // look `ipv4` up in IP_db.dbf
        Ipv6,       // look `ipv6` up in IP6_db.dbf
        LinkLocal,  // bound to one link: no country, nothing to look up
    };
    Kind kind = Kind::Ipv4;
    std::uint32_t ipv4 = 0;
    Address6 ipv6;
};

// What an address read by parseIpv6Text (or a scanner) is looked up as:
// nullopt for text that is no IPv6 address.
std::optional<TypedAddress> typedAddressOf(const Ipv6Address& parsed);

// Throws readAddress's error for text that is no IPv6 address either, so that
// every text that fails today fails with today's message. No text is both:
// IPv6 needs a colon before any dot, which no IPv4 octet accepts.
TypedAddress readTypedAddress(std::string_view text);

}  // namespace ipcountry::lookup
