#include "country_mmdb.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "common/provenance.h"
#include "continents.h"
#include "lookup/country_ranges.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"

namespace ipcountry::data {
namespace {

namespace fs = std::filesystem;

#ifndef IPCOUNTRY_PACKAGED_DATA_FROM_BIN
#define IPCOUNTRY_PACKAGED_DATA_FROM_BIN "../lib/ipcountry"
#endif

// Every country's ranges as one list in address order.
template <class Address>
std::vector<CountryRange<Address>> flatten(const lookup::CountryRangeSets<Address>& sets) {
    std::vector<CountryRange<Address>> ranges;
    for (const auto& [code, set] : sets)
        for (const auto& r : set.ranges()) ranges.push_back({r.first, r.last, code});
    std::sort(ranges.begin(), ranges.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return ranges;
}

std::uint64_t dayStart(std::chrono::year_month_day date) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::sys_days(date).time_since_epoch())
                                          .count());
}

// build_epoch: the data's date from provenance's ranges-date. With none
// recorded, the time this database is built, as MaxMind DB readers take
// build_epoch, and the description says the data's date is unknown: a
// file's own modification time (a copy, a touch, an unpacked archive) dates
// no data. Never 0, which readers take for no build time at all.
std::uint64_t buildEpoch(const fs::path& rangesDir, std::chrono::system_clock::time_point now) {
    if (const auto date = provenance::rangesDate(rangesDir)) return dayStart(*date);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 1;
}

std::vector<std::string> valuesOf(const std::vector<std::pair<std::string, std::string>>& entries,
                                  std::string_view key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : entries)
        if (k == key) values.push_back(v);
    return values;
}

// "SOURCE (LICENCE); SOURCE (LICENCE)" of one kind of data.
std::string sourcesText(const std::vector<std::pair<std::string, std::string>>& entries,
                        std::string_view key) {
    const auto sources = valuesOf(entries, key);
    const auto licences =
        valuesOf(entries, std::string(key) + std::string(provenance::keys::kLicenceSuffix));
    std::string text;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (!text.empty()) text += "; ";
        text += sources[i];
        if (i < licences.size()) text += " (" + licences[i] + ")";
    }
    return text;
}

std::string describe(const lookup::DataFolders& folders) {
    std::string text = "Countries of IPv4 and IPv6 addresses, from ipcountry's range files.";
    const auto ranges = provenance::provenanceEntries(folders.ranges);
    const auto names = folders.countries == folders.ranges
                           ? ranges
                           : provenance::provenanceEntries(folders.countries);
    const std::string rangeSources =
        ranges ? sourcesText(*ranges, provenance::keys::kRanges) : std::string();
    text += " Address ranges: " +
            (rangeSources.empty() ? std::string("of unknown origin") : rangeSources) + ".";
    if (names) {
        const std::string nameSources = sourcesText(*names, provenance::keys::kNames);
        if (!nameSources.empty()) text += " Country names: " + nameSources + ".";
    }
    if (const auto date = provenance::rangesDate(folders.ranges))
        text += " Data of " + provenance::dateText(*date) + ".";
    else
        text += " The date of the data is unknown: build_epoch is when this file was written.";
    text += " Special-purpose address blocks have no country.";
    return text;
}

mmdb::Value countryRecord(const std::string& code, const lookup::CountryTable& names) {
    using mmdb::Value;
    std::vector<Value::Entry> country{{"iso_code", Value::string(code)}};
    if (const auto slot = names.findSlot(code); slot && names.slotFilled(*slot)) {
        const std::string name = lookup::windows1252ToUtf8(names.slotName(*slot));
        if (!name.empty())
            country.push_back({"names", Value::mapOf({{"en", Value::string(name)}})});
    }
    // The country first: a reader asking for country.iso_code, the common
    // question, then need not step over the continent.
    std::vector<Value::Entry> record{{"country", Value::mapOf(std::move(country))}};
    if (const auto continent = continentOf(code)) {
        record.push_back(
            {"continent",
             Value::mapOf({{"code", Value::string(std::string(continent->code))},
                           {"names", Value::mapOf({{"en", Value::string(
                                                              std::string(continent->name))}})}})});
    }
    return Value::mapOf(std::move(record));
}

template <class Address>
std::vector<mmdb::RecordRange<Address>> numbered(
    const std::vector<CountryRange<Address>>& ranges,
    const std::map<std::string, std::uint32_t>& index) {
    std::vector<mmdb::RecordRange<Address>> out;
    out.reserve(ranges.size());
    for (const auto& r : ranges) out.push_back({r.first, r.last, index.at(r.code)});
    return out;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// The packaged data lie beside the driver: beside this program in the build
// tree, in lib/ipcountry when it is installed in bin/.
fs::path packagedDataFolder() {
    const fs::path self = programDirectory();
    std::error_code ec;
    if (fs::exists(self / lookup::kRangeFileName, ec)) return self;
    return (self / IPCOUNTRY_PACKAGED_DATA_FROM_BIN).lexically_normal();
}

}  // namespace

lookup::DataFolders foldersForRanges(const fs::path& rangesDir) {
    lookup::DataFolderPlaces places;
    places.system = rangesDir;
    places.packaged = packagedDataFolder();
    lookup::DataFolders folders = lookup::chooseDataFolders(places);
    // Ranges the updater just installed are these, whole or not.
    folders.ranges = rangesDir;
    return folders;
}

lookup::DataFolders driverDataFolders() {
    return lookup::chooseDataFolders(lookup::standardDataFolderPlaces(packagedDataFolder()));
}

CountryRanges readCountryRanges(const fs::path& rangesDir) {
    CountryRanges ranges;
    ranges.ipv4 = flatten(lookup::readCountryRanges4(rangesDir));
    ranges.ipv6 = flatten(lookup::readCountryRanges6(rangesDir));
    return ranges;
}

std::string buildCountryDatabase(const lookup::DataFolders& folders,
                                 CountryDatabaseSummary* summary,
                                 std::chrono::system_clock::time_point now) {
    const CountryRanges ranges = readCountryRanges(folders.ranges);
    const lookup::CountryTable names = lookup::loadCountryTable(folders.countries);

    std::map<std::string, std::uint32_t> index;
    for (const auto& r : ranges.ipv4) index.emplace(r.code, 0);
    for (const auto& r : ranges.ipv6) index.emplace(r.code, 0);
    mmdb::Database db;
    for (auto& [code, record] : index) {
        record = static_cast<std::uint32_t>(db.records.size());
        db.records.push_back(countryRecord(code, names));
    }
    db.ipv4 = numbered(ranges.ipv4, index);
    db.ipv6 = numbered(ranges.ipv6, index);
    db.metadata.databaseType = kCountryDatabaseType;
    db.metadata.languages = {"en"};
    db.metadata.description = {{"en", describe(folders)}};
    db.metadata.buildEpoch = buildEpoch(folders.ranges, now);

    CountryDatabaseSummary counts;
    std::string bytes = mmdb::writeDatabase(db, &counts.tree);
    counts.ipv4Ranges = ranges.ipv4.size();
    counts.ipv6Ranges = ranges.ipv6.size();
    counts.countries = index.size();
    if (summary) *summary = counts;
    return bytes;
}

}  // namespace ipcountry::data
