#pragma once

#include <string>
#include <string_view>

namespace ipcountry::lookup {

// Address text as the command line reads it, with the reason when it is no
// address: the one place that words what is wrong with an address.
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
};

AddressReading readAddressText(std::string_view text);

// Why a line of a formatted list (TABs removed) that names no address names
// none, in the same words. The list's own reading rule decides which lines
// those are: address:port with any port text for IPv4, an IPv6 address bare
// or in brackets with a port of digits; this only words the failure.
std::string formattedLineProblem(std::string_view line);

}  // namespace ipcountry::lookup
