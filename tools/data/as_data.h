// The networks an update installs beside the country ranges: which AS
// announces each address range, and the name of each AS number's operator,
// read from one of three kinds of source and written as the data folder's
// networks file (asn.bin, laid out as data/README.md says). The kind of a
// source is told from its content:
//   - a MaxMind DB of autonomous_system_number and
//     autonomous_system_organization (GeoLite2-ASN, DB-IP's ASN lite);
//   - a TSV of range start, end, AS number, country, description (iptoasn's
//     ip2asn-combined.tsv), AS number 0 for a range nobody announces;
//   - a CSV of range start, end, AS number, operator (@ip-location-db/asn),
//     the addresses written as text or as decimal numbers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/address6.h"

namespace ipcountry::data {

struct AsRange4 {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t number = 0;
};

struct AsRange6 {
    lookup::Address6 first;
    lookup::Address6 last;
    std::uint32_t number = 0;
};

struct AsData {
    std::vector<AsRange4> ipv4;  // in the source's order
    std::vector<AsRange6> ipv6;
    std::map<std::uint32_t, std::string> names;  // by AS number; UTF-8, empty when none is named
    std::string description;                     // a MaxMind DB's database_type, else empty
    std::uint64_t buildEpoch = 0;                // a MaxMind DB's, else 0
};

// Each throws SourceError naming the faulty line (or what is damaged); a
// source that holds no network at all is refused too.
AsData readIp2asnTsv(std::string_view text);
AsData readAsCsv(std::string_view text);
AsData readAsMmdb(const std::string& path);

// The bytes of the networks file of `data`. Where ranges overlap the
// narrower holds the addresses they share, whatever their order.
std::string asFileBytes(const AsData& data);

}  // namespace ipcountry::data
