#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// Address text as the command line reads it, with the reason when it is no
// address: the one place that words what is wrong with an address. Stricter
// than the dot walk above, which the window's Find and a formatted list keep.
//
// An address stands alone, blanks around it trimmed: IPv4 as four decimal
// octets of one to three digits each, at most 255 (1.2.3.4); IPv6 in any
// form parseIpv6Text reads (bare, in brackets, with a zone). A port may
// follow: a colon and one to five digits, behind an IPv4 address or an IPv6
// address in brackets (1.2.3.4:80, [2001:db8::1]:443).
//
// Reasons are short, name what is wrong ("octet 1 is 256", "port is not a
// number") and quote at most a few characters of the text, so that a
// message about a huge line stays short.
struct AddressReading {
    // The address alone, without blanks or port, in a form parseIpv6Text or
    // the dotted reading of makeAddressKey takes; empty when there is none.
    std::string_view address;
    std::string_view port;  // ":80", or empty
    std::string reason;     // empty when the text is an address
    TypedAddress typed;     // the address read, when `reason` is empty
};

AddressReading readAddressText(std::string_view text);

// Why a line of a formatted list (TABs removed) that names no address names
// none, in the same words. The list's own reading rule decides which lines
// those are: address:port with any port text for IPv4, an IPv6 address bare
// or in brackets with a port of digits; this only words the failure.
std::string formattedLineProblem(std::string_view line);

}  // namespace ipcountry::lookup
