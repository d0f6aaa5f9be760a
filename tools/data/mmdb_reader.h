// Reads the country of every network of a MaxMind DB file through
// libmaxminddb's public API, by walking its search tree once. Two layouts
// are understood: country.iso_code (GeoLite2-Country, DB-IP's lite edition)
// and a top-level country_code (ip-location-db). An IPv6 tree keeps the IPv4
// space under ::/96 and usually aliases it under ::ffff:0:0/96, 2002::/16 and
// 2001::/32; it is read once, as IPv4, and never again through an alias.
#pragma once

#include <maxminddb.h>

#include <cstdint>
#include <functional>
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

struct MmdbMetadata {
    std::string databaseType;
    std::string description;
    std::uint64_t buildEpoch = 0;
};

// Each network of the tree once, with its record: `first` and `last` in the
// 128-bit space (an IPv4 tree's networks under ::/96), `deep` when the
// network is at least 96 bits deep, so that under ::/96 it is IPv4 alone.
using MmdbNetwork =
    std::function<void(lookup::Address6 first, lookup::Address6 last, bool deep, MMDB_entry_s&)>;
// Throws SourceError as readMmdbCountries does.
MmdbMetadata walkMmdb(const std::string& path, const MmdbNetwork& network);

// A network of walkMmdb as the families see it: IPv4 addresses to `on4`,
// IPv6 ones to `on6`. A network above ::/96 holds the whole IPv4 space as well.
template <class On4, class On6>
void forEachFamily(lookup::Address6 first, lookup::Address6 last, bool deep, On4&& on4, On6&& on6) {
    const bool inIpv4Space = first.high == 0 && (first.low >> 32) == 0;
    if (inIpv4Space && deep) {
        on4(static_cast<std::uint32_t>(first.low), static_cast<std::uint32_t>(last.low));
        return;
    }
    if (inIpv4Space) on4(std::uint32_t{0}, std::uint32_t{0xFFFFFFFF});
    on6(first, last);
}

}  // namespace ipcountry::data
