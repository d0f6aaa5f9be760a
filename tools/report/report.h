#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lookup/as_file.h"
#include "lookup/country_table.h"
#include "world_map.h"

namespace ipcountry::report {

class AddressTally;

// What one run read.
struct FileFacts {
    std::string name;                    // as given ("-" for standard input), any bytes
    std::optional<std::uint64_t> bytes;  // its size, when it has one
    bool complete = true;                // read to its end
};

// The texts below are UTF-8.
struct CountryFacts {
    std::string code;  // the code its map shape has
    std::string name;  // may be empty (a slot without a name)
    std::int64_t count = 0;
    std::int64_t clients = 0;  // its distinct addresses
};

struct AddressFacts {
    std::string address;
    // As the driver's rows name it (countryName: "USA" for the US), or the
    // reason it has none.
    std::string country;
    std::string code;
    std::int64_t count = 0;
};

// A network (autonomous system) and the rows of its addresses.
struct NetworkFacts {
    std::uint32_t number = 0;
    std::string name;     // its operator
    std::string country;  // the one that holds more than half of its rows; may be empty
    std::int64_t count = 0;
};

// Everything a report page shows; the page holds nothing else.
struct ReportInput {
    std::vector<FileFacts> files;
    std::string startedAt;  // when the run began, as the page shows it
    std::chrono::nanoseconds elapsed{0};
    std::int64_t total = 0;                  // the addresses found, rows of all files
    std::vector<CountryFacts> countries;     // those with a count, in any order
    std::vector<AddressFacts> topAddresses;  // the most rows first
    // Rows without a country (--all), by reason, in the driver's order.
    std::vector<std::pair<std::string, std::int64_t>> reasons;
    std::map<std::string, std::string> names;  // every known code's name, for the map's shapes
    std::vector<std::string> provenance;       // the lines `--version` prints
    // The networks with the most rows, most first; shown only with
    // `hasNetworks` (the networks file could be read).
    bool hasNetworks = false;
    std::vector<NetworkFacts> networks;
    // The network of each of topAddresses, "AS13335 Cloudflare, Inc.";
    // empty for none.
    std::vector<std::string> topAddressNetworks;
    // The options that chose the rows ("--first", "--only 10.0.0.0/8", ...),
    // as typed; the page names them under its title.
    std::vector<std::string> shapedBy;
    const WorldMap* map = nullptr;  // none: `mapProblem` says why
    std::string mapProblem;
};

// The number of busiest addresses a page shows.
inline constexpr std::size_t kTopAddresses = 20;

// The countries, names and busiest addresses of a run as its country table
// and tally hold them.
void addCounts(ReportInput& input, const lookup::CountryTable& table, AddressTally& tally);

// The number of networks a page shows.
inline constexpr std::size_t kTopNetworks = 20;

// The networks of a run's addresses as `networks` names them: the busiest
// networks, and the network of each busiest address (call after addCounts).
void addNetworks(ReportInput& input, const lookup::CountryTable& table, AddressTally& tally,
                 const lookup::AsFile& networks);

// One self-contained HTML page (UTF-8): no outside fonts, scripts or
// pictures, readable without its script, under 1 MiB however many files,
// countries and addresses there are: every text from outside is escaped and
// cut to a length a page can show.
std::string renderReport(const ReportInput& input);

}  // namespace ipcountry::report
