// The addresses each country holds, as the range files the lookups read
// assign them: the one place that turns a range file back into sets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "lookup/range_file.h"
#include "lookup/range_set.h"

namespace ipcountry::lookup {

template <class Address>
using CountryRangeSets = std::map<CountryCode, RangeSet<Address>>;

// Every country's set from a parsed range file: line i gives its code to
// the addresses from its start up to the next line's start, and the last
// line to none, exactly as a lookup answers. Codes that name no country
// (ZZ, or anything but two upper-case letters) are left out, and so are the
// special-purpose blocks, whatever country a file gives them. Throws
// Error(BadData) naming `fileName` when the file is not in order, which a
// lookup still answers line by line but no set can be read from.
// `only`, when not empty, limits the sets to those codes: what a run for a
// few countries needs, at a fraction of the cost.
template <class Family>
CountryRangeSets<typename Family::Address> countryRangesOf(const BasicRangeIndex<Family>& index,
                                                           const std::string& fileName,
                                                           const std::set<CountryCode>& only = {});

// One range of a country, its code packed as packCode packs it.
template <class Address>
struct CodedRange {
    Address first{};
    Address last{};
    std::uint16_t code = 0;
};

// The ranges of the sets countryRangesOf gives, all countries in one list
// in address order, each with its code: one pass over the file, for the
// formats that list every country's blocks in address order and for
// sorting the ranges into countries. Throws as countryRangesOf does.
template <class Family>
std::vector<CodedRange<typename Family::Address>> codedRangesOf(
    const BasicRangeIndex<Family>& index, const std::string& fileName,
    const std::set<CountryCode>& only = {});

// The same, read from IP_db.dbf or IP6_db.dbf in `folder`; throws Error
// (FileNotFound, FileUnreadable, BadData) naming the file.
CountryRangeSets<std::uint32_t> readCountryRanges4(const std::filesystem::path& folder,
                                                   const std::set<CountryCode>& only = {});
CountryRangeSets<Address6> readCountryRanges6(const std::filesystem::path& folder,
                                              const std::set<CountryCode>& only = {});

// The ranges of codedRangesOf, read from IP_db.dbf or IP6_db.dbf in
// `folder`; throws as readCountryRanges4 and readCountryRanges6 do.
std::vector<CodedRange<std::uint32_t>> readCodedRanges4(const std::filesystem::path& folder,
                                                        const std::set<CountryCode>& only = {});
std::vector<CodedRange<Address6>> readCodedRanges6(const std::filesystem::path& folder,
                                                   const std::set<CountryCode>& only = {});

// Whether a code names a country: two upper-case letters other than ZZ.
bool isCountryCode(std::string_view code) noexcept;

}  // namespace ipcountry::lookup
