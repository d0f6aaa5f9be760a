#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch_options.h"
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
std::string writeSets(const SetsRequest& request, const std::vector<CountrySets>& countries);

// networks [COUNTRY]...: the sets of the countries asked for, from the range
// files the lookups read, to standard output or -o FILE. Returns the exit status.
int runNetworks(const Options& options);

}  // namespace ipcountry::batch
