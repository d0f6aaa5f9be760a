// The address blocks that no country holds: the special-purpose address
// registries of IANA for IPv4 and IPv6 (RFC 6890 and its updates) and the
// multicast space, written once, here. Range data built or converted by this
// program leaves them without a country, and the driver names the reason of
// an address in them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "lookup/address6.h"

namespace ipcountry::lookup {

// How the registry says a block may be reached from the whole Internet.
enum class Reachable {
    No,          // not globally reachable: no country
    Yes,         // globally reachable: the source's country stands
    NotDefined,  // the registry says N/A: an enclosing block decides, else the source
};

// One row of a registry, as IANA writes it.
struct SpecialBlock {
    std::string_view network;  // CIDR, e.g. "192.168.0.0/16"
    std::string_view name;     // the registry's name of the block
    std::string_view rfc;      // the document that reserves it
    std::string_view reason;   // the word the driver prints for an address in it
    Reachable reachable;
};

// The registries' rows, both families, in the registries' order.
std::span<const SpecialBlock> specialBlocks4() noexcept;
std::span<const SpecialBlock> specialBlocks6() noexcept;

// An inclusive range of addresses without a country and the row that rules it.
template <class Address>
struct SpecialRange {
    Address first{};
    Address last{};
    const SpecialBlock* block = nullptr;
};

// The addresses that no country holds: the rows that are not globally
// reachable, less the globally reachable rows inside them (192.0.0.9/32 is
// reachable inside 192.0.0.0/24); a row of N/A follows its enclosing row.
// Disjoint and sorted, each range ruled by its most specific row.
const std::vector<SpecialRange<std::uint32_t>>& specialRanges4();
const std::vector<SpecialRange<Address6>>& specialRanges6();

// The row that takes the country from an address, if any (a binary search).
const SpecialBlock* findSpecialBlock(std::uint32_t address);
const SpecialBlock* findSpecialBlock(Address6 address);

// Cuts the special ranges out of sorted, disjoint inclusive ranges of any
// record type with `first` and `last` members: a range inside a special one
// goes, a range that straddles one is split around it. Ranges keep their order.
template <class Range, class Address>
std::vector<Range> cutSpecialRanges(const std::vector<Range>& ranges,
                                    const std::vector<SpecialRange<Address>>& special) {
    std::vector<Range> out;
    out.reserve(ranges.size());
    auto hole = special.begin();
    for (const Range& range : ranges) {
        Range rest = range;
        bool open = true;
        while (hole != special.end() && hole->last < rest.first) ++hole;
        for (auto h = hole; open && h != special.end() && h->first <= rest.last; ++h) {
            if (h->first > rest.first) {
                Range before = rest;
                before.last = h->first;
                --before.last;
                out.push_back(before);
            }
            if (h->last >= rest.last) {
                open = false;
            } else {
                rest.first = h->last;
                ++rest.first;
            }
        }
        if (open) out.push_back(rest);
    }
    return out;
}

}  // namespace ipcountry::lookup
