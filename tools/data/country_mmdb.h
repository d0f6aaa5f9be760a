// Our data as a MaxMind DB country database, laid out as GeoLite2-Country
// is, so that nginx's geoip2 module, syslog-ng's geoip2 parser, GoAccess and
// the readers of other languages find the country where they look for it.
//
// What it guarantees: every address that the range files give a country
// answers a record { country: { iso_code, names: { en } }, continent:
// { code, names: { en } } } (the name from Country.dbf, the continent where
// one is known); an address of ZZ, of a special-purpose block or of no range
// answers nothing. One record per country, whatever the number of networks.
// The range files stay what the window and the driver read: this is an
// export of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "lookup/address6.h"
#include "lookup/data_folder.h"
#include "mmdb_writer.h"

namespace ipcountry::data {

inline constexpr const char* kCountryDatabaseType = "ipcountry-Country";

// An inclusive range of addresses and its two-letter country code.
template <class Address>
struct CountryRange {
    Address first{};
    Address last{};
    std::string code;
};

struct CountryRanges {
    std::vector<CountryRange<std::uint32_t>> ipv4;  // sorted, disjoint
    std::vector<CountryRange<lookup::Address6>> ipv6;
};

// The ranges that have a country, read from IP_db.dbf and IP6_db.dbf of
// `rangesDir` through lookup's ranges of a country (lookup/country_ranges.h):
// ZZ, codes that name no country and the special-purpose blocks left out.
// Throws lookup::Error naming the file when one is missing, unreadable or
// not a well-formed range file.
CountryRanges readCountryRanges(const std::filesystem::path& rangesDir);

struct CountryDatabaseSummary {
    std::size_t ipv4Ranges = 0, ipv6Ranges = 0, countries = 0;
    mmdb::WriteSummary tree;
};

// The folders a database of `rangesDir`'s ranges is written from: the
// ranges from there, Country.dbf from there when it holds one, else from the
// packaged data folder, as the driver would read them.
lookup::DataFolders foldersForRanges(const std::filesystem::path& rangesDir);

// The folders the driver reads when it is told no folder: the user's, the
// system's or the packaged one (lookup::chooseDataFolders).
lookup::DataFolders driverDataFolders();

// The database of the folders' ranges and country names, its metadata naming
// the sources and licences that provenance.txt records and the data's date
// (build_epoch: that day at 00:00 UTC; where no date is recorded, `now`, the
// time of the build, and the description says the data's date is unknown).
// Throws lookup::Error for a data file that cannot be read, mmdb::WriteError
// for what cannot be written.
std::string buildCountryDatabase(
    const lookup::DataFolders& folders, CountryDatabaseSummary* summary = nullptr,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace ipcountry::data
