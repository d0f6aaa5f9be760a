#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch_options.h"
#include "lookup/country_ranges.h"
#include "lookup/range_set.h"

namespace ipcountry::batch {

// What `networks` writes the sets as.
enum class SetFormat { Cidr, Nft, Ipset, Nginx, Haproxy };

std::optional<SetFormat> parseSetFormat(std::string_view text);

// One country's addresses of both families, ready to write.
struct CountrySets {
    std::string code;  // upper case, as the range files write it
    lookup::RangeSet4 ranges4;
    lookup::RangeSet6 ranges6;
};

// A range of one of the countries written, among all their ranges in
// address order.
template <class Address>
struct PlacedRange {
    lookup::AddressRange<Address> range;
    std::size_t country = 0;  // its index in NetworkSets::countries
};

// The countries to write, and their ranges of each family in address order:
// the lines of the formats that list every country's blocks in one list.
struct NetworkSets {
    std::vector<CountrySets> countries;
    std::vector<PlacedRange<std::uint32_t>> ordered4;
    std::vector<PlacedRange<lookup::Address6>> ordered6;
};

// The sets of the countries `codes` (upper case, each once) from ranges of
// all countries in address order, sorted into the countries in one pass.
NetworkSets sortIntoCountries(const std::vector<std::string>& codes,
                              const std::vector<lookup::CodedRange<std::uint32_t>>& ranges4,
                              const std::vector<lookup::CodedRange<lookup::Address6>>& ranges6);

struct SetsRequest {
    SetFormat format = SetFormat::Cidr;
    bool ipv4 = true;
    bool ipv6 = true;
    std::string namePattern = "geo_%c_%f";  // %c the code in lower case, %f 4 or 6
    std::string tableFamily = "inet";       // nft: the table the sets live in
    std::string tableName = "filter";
    std::vector<std::string> header;  // comment lines: where the data comes from
};

// The name a set gets from the pattern; "" with `problem` when the pattern
// gives a name that nft or ipset cannot take.
std::string setName(const SetsRequest& request, std::string_view code, int family,
                    std::string& problem);

// The whole file, in the form its tool reads. Throws std::invalid_argument
// when two sets would get one name.
std::string writeSets(const SetsRequest& request, const NetworkSets& sets);

// networks [COUNTRY]...: the sets of the countries asked for, from the range
// files the lookups read, to standard output or -o FILE. Returns the exit status.
int runNetworks(const Options& options);

}  // namespace ipcountry::batch
