#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ipcountry::provenance {

// Where the data files come from, as scripts/build-data or the updater
// records it beside them, so that a reported figure can name the data it was
// made with and say how old it is.
inline constexpr const char* kProvenanceFileName = "provenance.txt";

// The ranges-date of data whose sources do not state their date.
inline constexpr const char* kUnknownDate = "unknown";

// The keys of the provenance file, for its writers (the updater,
// scripts/build-data) and its reader. Each source key may stand once per
// source, its licence after it under the key and kLicenceSuffix.
namespace keys {
inline constexpr std::string_view kRanges = "ranges";
inline constexpr std::string_view kRangesDate = "ranges-date";  // YYYY-MM-DD or kUnknownDate
inline constexpr std::string_view kNetworks = "networks";
inline constexpr std::string_view kNetworksDate = "networks-date";  // YYYY-MM-DD or kUnknownDate
inline constexpr std::string_view kNames = "names";
inline constexpr std::string_view kFlags = "flags";
inline constexpr std::string_view kMap = "map";
inline constexpr std::string_view kLicenceSuffix = "-licence";
// The keys with a licence of their own.
inline constexpr std::array<std::string_view, 5> kSources{kRanges, kNetworks, kNames, kFlags, kMap};
}  // namespace keys

// True for a key this version reads: a source, its licence, the date.
bool isKnownKey(std::string_view key);

// The day the program runs on, in UTC.
std::chrono::sys_days today();

// The date of the ranges in `dataDir`: its provenance file's ranges-date
// (YYYY-MM-DD). nullopt when the file, the key or a valid date is missing.
std::optional<std::chrono::year_month_day> rangesDate(const std::filesystem::path& dataDir);

// True when the provenance file of `dataDir` says the date of its ranges is unknown.
bool statesUnknownDate(const std::filesystem::path& dataDir);

// A date as YYYY-MM-DD.
std::string dateText(std::chrono::year_month_day date);

// How many days old the ranges in `dataDir` are on `today` (negative for a
// date after it); nullopt when their date is not known. What a monitor
// compares with its limit.
std::optional<long> dataAgeDays(const std::filesystem::path& dataDir, std::chrono::sys_days today);

// "as of 2026-06-17, 174 days ago" ("1 day ago", "today", "3 days after today").
std::string describeAge(std::chrono::year_month_day date, std::chrono::sys_days today);

// The lines `--version` prints for the data of a run: the folder of the
// ranges, then one line per source of the ranges ("Address ranges: PACKAGE
// VERSION (LICENCE)"; a folder made from several sources names each), the
// date of the ranges and their age on `today`, and the sources of the
// country names, flags and map from `countriesDir` (where they differ from
// the ranges' folder, that folder is named too). A folder without a
// provenance file is said to be of unknown origin. Never throws.
std::vector<std::string> describeData(const std::filesystem::path& rangesDir,
                                      const std::filesystem::path& countriesDir,
                                      std::chrono::sys_days today);

// What a file made from the ranges in `rangesDir` says of them in its
// header: one line per source with its licence, then their date, each
// without the age (a file outlives the day it was made on); a folder
// without a provenance file is said to be of unknown origin. Never throws.
std::vector<std::string> describeRangesSource(const std::filesystem::path& rangesDir);

// The same for everything in one folder, on the current day.
std::vector<std::string> describeData(const std::filesystem::path& dataDir);

// The KEY=VALUE lines of `dataDir`'s provenance file in file order (a key
// may stand more than once); nullopt when the file cannot be read.
std::optional<std::vector<std::pair<std::string, std::string>>> provenanceEntries(
    const std::filesystem::path& dataDir);

}  // namespace ipcountry::provenance
