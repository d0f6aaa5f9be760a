#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "lookup/address6.h"

namespace ipcountry::lookup {

// What an address written in IPv6 notation stands for, and so where its
// country is looked up.
struct Ipv6Address {
    enum class Kind {
        Invalid,    // not an IPv6 address; dotted IPv4 text is makeAddressKey's, not ours
        Ipv6,       // look `address` up in IP6_db.dbf
        Ipv4,       // an IPv4 address in IPv6 notation: look `ipv4` up in IP_db.dbf
        LinkLocal,  // bound to one link: no country, nothing to look up
    };
    Kind kind = Kind::Invalid;
    Address6 address;        // the 128-bit value as written (every kind but Invalid)
    std::uint32_t ipv4 = 0;  // Ipv4: the address it stands for
    std::string_view zone;   // LinkLocal: the zone after "%" (a view into the text), or empty

    friend bool operator==(const Ipv6Address&, const Ipv6Address&) = default;
};

// The longest IPv6 text: "0000:0000:0000:0000:0000:ffff:255.255.255.255".
inline constexpr std::size_t kLongestIpv6Text = 45;

// The value of an address text without brackets or zone, in exactly the
// forms inet_pton reads (a dotted tail included); nullopt for anything else. The
// one reading of IPv6 text: parseIpv6Text and the free-text scan both use it.
std::optional<Address6> readIpv6Value(std::string_view text) noexcept;

// Reads every text form of RFC 4291 that inet_pton reads (compressed "::",
// leading zeros, either letter case, a dotted IPv4 tail), bare or in brackets
// ("[2001:db8::1]"; a port after the bracket is the caller's to split off),
// optionally with a zone ("fe80::1%eth0", in brackets also the URI form
// "%25eth0"). Nothing is trimmed: surrounding blanks make the text Invalid.
Ipv6Address parseIpv6Text(std::string_view text);

// The kind of an address already read as a number (by a scanner, say), with
// the same rules as parseIpv6Text (`zoned`: written with a zone):
// - a zone, or fe80::/10, makes it LinkLocal: it names a host on one link,
//   which no registry assigns to a country;
// - ::ffff:0:0/96 (IPv4-mapped) and 64:ff9b::/96 (the NAT64 well-known prefix)
//   carry an IPv4 address in their last 32 bits, whatever the notation: Ipv4;
// - ::/96 written with a dotted tail ("::192.0.2.1", the deprecated
//   IPv4-compatible form) is Ipv4 too; in hex it is ::1, ::, and the like: Ipv6;
// - any other address is Ipv6, a dotted tail included ("2001:db8::192.0.2.1"
//   is an IPv6 address that merely ends in those four bytes).
Ipv6Address classifyIpv6(Address6 address, bool writtenDotted, bool zoned);

}  // namespace ipcountry::lookup
