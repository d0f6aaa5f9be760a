#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/address6.h"
#include "lookup/range_set.h"

namespace ipcountry::lookup {

// One network as written: both ends, inclusive, of one family.
struct Network {
    bool ipv6 = false;
    std::uint32_t first4 = 0;
    std::uint32_t last4 = 0;
    Address6 first6;
    Address6 last6;
};

// A network as grepcidr reads one: ADDRESS (a /32 or /128), ADDRESS/BITS, or
// FIRST-LAST, of either family. Bits of ADDRESS past the prefix are ignored,
// so 192.168.1.7/24 is 192.168.1.0/24, as a pasted host address means. An
// address is read as find reads it (010.0.0.1 is 10.0.0.1). Sets `why` and
// gives nullopt for anything else.
std::optional<Network> parseNetwork(std::string_view text, std::string& why);

// Networks of both families as sorted, disjoint ranges: whether an address
// lies in any of them is one binary search, however many were added. Add
// everything, then seal() once before asking.
class NetworkSet {
public:
    // An IPv6 network's part in ::ffff:0:0/96 also holds the IPv4 addresses
    // it maps, since the program reads ::ffff:a.b.c.d as a.b.c.d.
    void add(const Network& network);
    // Sorts the ranges and merges those that overlap or touch.
    void seal();

    bool empty() const noexcept { return m_set4.empty() && m_set6.empty(); }
    bool contains(std::uint32_t address) const noexcept { return m_set4.contains(address); }
    bool contains(Address6 address) const noexcept { return m_set6.contains(address); }

    // The sealed sets of each family.
    const RangeSet4& ranges4() const noexcept { return m_set4; }
    const RangeSet6& ranges6() const noexcept { return m_set6; }

private:
    std::vector<AddressRange<std::uint32_t>> m_added4;
    std::vector<AddressRange<Address6>> m_added6;
    RangeSet4 m_set4;
    RangeSet6 m_set6;
};

// Adds the networks of a list to `set`: one a line (several separated by
// blanks or commas are taken too), `#` to the end of a line a comment, blank
// lines skipped. Throws Error naming the file and the line of a network it
// cannot read, or the file itself when it cannot be read.
void readNetworkList(std::string_view content, const std::string& fileName, NetworkSet& set);
void readNetworkFile(const std::string& path, NetworkSet& set);

}  // namespace ipcountry::lookup
