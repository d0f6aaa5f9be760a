#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/row_rules.h"
#include "analysis/statistics.h"

// The driver's formats, in one place: what the rows and statistics of tsv,
// csv and json hold and the words they are written with. RowWriter writes
// them; the `stats` reader (StatsMerger) reads them back with the same words.
namespace ipcountry::batch {

// An input as its rows name it (-H): as given, standard input as grep names it.
inline std::string_view nameInRows(std::string_view path) {
    return path == "-" ? std::string_view("(standard input)") : path;
}

enum class Format { Tsv, Csv, Json };

// "tsv", "csv" or "json"; nullopt for anything else.
std::optional<Format> parseFormat(std::string_view name);

// The words of the driver's statistics, written by RowWriter and read back by
// `stats`: csv headers, json keys and the statistics' own lines. The rows'
// columns are declared in columns.h.
namespace words {
inline constexpr std::array<std::string_view, 3> kRunHeader = {"Elapsed seconds", "Total",
                                                               "Distinct"};
inline constexpr std::array<std::string_view, 4> kCountryHeader = {"Country", "Code", "Count",
                                                                   "Share"};
// The fifth column of the countries' table: their distinct addresses, where known.
inline constexpr std::string_view kDistinctColumn = "Distinct";
inline constexpr std::array<std::string_view, 3> kReasonHeader = {"Reason", "Count", "Share"};
inline constexpr std::array<std::string_view, 6> kNetworkHeader = {"AS",   "Operator", "Country",
                                                                   "Code", "Count",    "Share"};
inline constexpr std::string_view kNetworks = "networks";
inline constexpr std::string_view kAsn = "asn";
inline constexpr std::string_view kAsName = "as_name";
inline constexpr std::string_view kNoNetwork = "no_network";
// tsv and csv: the lines of the rows of no network and of the networks --top left out.
inline constexpr std::string_view kNoNetworkName = "(no network)";
inline constexpr std::string_view kOtherNetworksName = "(other networks)";
inline constexpr std::string_view kOtherNetworks = "other_networks";
inline constexpr std::string_view kCountry = "country";
inline constexpr std::string_view kCode = "code";
inline constexpr std::string_view kReason = "reason";
inline constexpr std::string_view kElapsedSeconds = "elapsed_seconds";
inline constexpr std::string_view kTotal = "total";
inline constexpr std::string_view kDistinct = "distinct";
inline constexpr std::string_view kCountries = "countries";
inline constexpr std::string_view kCount = "count";
inline constexpr std::string_view kShare = "share";
inline constexpr std::string_view kReasons = "reasons";
inline constexpr std::string_view kOtherCountries = "other_countries";
// tsv and csv: the line that stands for the countries --top left out.
inline constexpr std::string_view kOtherCountriesName = "(other countries)";
// tsv: the distinct addresses, after the total on its line.
inline constexpr std::string_view kDistinctBefore = " (";
inline constexpr std::string_view kDistinctAfter = " distinct)";
}  // namespace words

// How the statistics list the countries.
enum class CountryOrder {
    List,   // the country list's order, as the window shows them
    Count,  // the most addresses first; equal counts in list order
    Name,
    Clients,  // the most distinct addresses first; equal ones by count
};
// "list", "count" or "name"; nullopt for anything else.
std::optional<CountryOrder> parseCountryOrder(std::string_view name);

// What the driver's statistics tell: the window's (the countries in list
// order, the total of every row, shares of that total) and more.
struct Summary {
    analysis::Statistics countries;
    std::chrono::nanoseconds elapsed{0};
    // Rows without a country (--all), by reason, as in kNoCountryReasons.
    std::array<std::int64_t, analysis::kNoCountryReasons.size()> reasons{};
    // The distinct address texts among the rows; unknown when they were
    // merged from statistics blocks without their rows.
    std::optional<std::int64_t> distinct;
    // --by as: the rows per network, in place of the countries.
    struct NetworkCount {
        std::uint32_t number = 0;
        std::string name;         // UTF-8
        std::string countryName;  // UTF-8; empty when no country holds most of its rows
        std::string countryCode;
        std::int64_t count = 0;
    };
    std::optional<std::vector<NetworkCount>> networks;
    std::int64_t noNetwork = 0;  // rows of no network
    // The distinct addresses of each country, by slot; empty when unknown,
    // as `distinct` is.
    std::vector<std::int64_t> clients;
};

// Which countries the statistics list, and in which order: --top keeps the
// `top` with the most addresses (0: all), listed most first unless an order
// was asked for too.
struct Listing {
    CountryOrder order = CountryOrder::List;
    bool orderGiven = false;
    std::size_t top = 0;
};

// The countries as `listing` lists them, and the addresses of those it
// leaves out; `clients` by slot as Summary holds them (empty: unknown).
std::vector<analysis::StatsRow> listCountries(const std::vector<analysis::StatsRow>& rows,
                                              const Listing& listing, std::int64_t& leftOut,
                                              const std::vector<std::int64_t>& clients = {});

// The same for the networks of --by as: the list order is the AS numbers'.
std::vector<Summary::NetworkCount> listNetworks(const std::vector<Summary::NetworkCount>& networks,
                                                const Listing& listing, std::int64_t& leftOut);

// A share as csv and json give it: "6.3" for 1 of 16 (percent, one decimal).
std::string shareNumber(std::int64_t hits, std::int64_t total);

}  // namespace ipcountry::batch
