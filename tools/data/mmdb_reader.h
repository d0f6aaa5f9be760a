// Reads the country of every network of a MaxMind DB file through
// libmaxminddb's public API, by walking its search tree once. Two layouts
// are understood: country.iso_code (GeoLite2-Country, DB-IP's lite edition)
// and a top-level country_code (ip-location-db). An IPv6 tree keeps the IPv4
// space under ::/96 and usually aliases it under ::ffff:0:0/96, 2002::/16 and
// 2001::/32; it is read once, as IPv4, and never again through an alias.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ip_db_builder.h"

namespace ipcountry::data {

struct MmdbCountries {
    std::vector<SourceRange> ipv4;  // sorted by first address
    std::vector<SourceRange6> ipv6;
    std::string databaseType;  // the metadata's database_type
    std::string description;   // the metadata's English description, if any
    std::uint64_t buildEpoch = 0;
    std::size_t withoutCountry = 0;  // networks whose record names no country
};

// Throws SourceError when the file cannot be opened as a MaxMind DB or its
// tree or data section is damaged.
MmdbCountries readMmdbCountries(const std::string& path);

}  // namespace ipcountry::data
