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
#include <type_traits>
#include <vector>

#include "lookup/address6.h"
#include "lookup/range_set.h"

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

// The same addresses as one set per family.
const RangeSet4& specialSet4();
const RangeSet6& specialSet6();

// Cuts the special ranges out of sorted, disjoint inclusive ranges of any
// record type with `first` and `last` members: a range inside a special one
// goes, a range that straddles one is split around it. Ranges keep their order.
template <class Record>
std::vector<Record> cutSpecialRanges(const std::vector<Record>& records) {
    if constexpr (std::is_same_v<std::decay_t<decltype(Record{}.first)>, Address6>)
        return RangeSet6::cutOut(records, specialSet6());
    else
        return RangeSet4::cutOut(records, specialSet4());
}

}  // namespace ipcountry::lookup
