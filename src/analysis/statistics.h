#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/country_table.h"

namespace ipcountry::analysis {

// The statistics' two sentences, each followed by its value: the window
// shows them, the driver prints them, and `stats` reads them back.
inline constexpr std::string_view kElapsedSentence = "Analysis took ";
inline constexpr std::string_view kTotalSentence = "Total number of IPs is ";

// One country row of the statistics window. Texts are UTF-8.
struct StatsRow {
    int slot = 0;
    std::string name;  // the slot's name, converted from Windows-1252
    std::int64_t hits = 0;
    std::int64_t shareTenths = 0;  // hits / total in tenths of a percent, rounded as shown
    std::string count;             // hits in plain digits
    std::string share;             // hits / total as formatShare writes it
};

struct Statistics {
    std::int64_t total = 0;               // the addresses the results hold
    std::chrono::nanoseconds elapsed{0};  // how long the analysis took
    std::vector<StatsRow> rows;           // one per slot with hits > 0, in slot order
};

// A run's duration as the driver and the report write it: H:mm:ss, the
// hours running on past 24, the fraction of a second dropped.
std::string durationText(std::chrono::nanoseconds elapsed);

// hits / total in tenths of a percent, halves away from zero, computed
// exactly in integers: 1 of 16 is 63. `total` must be above 0.
std::int64_t shareTenths(std::int64_t hits, std::int64_t total);

// hits / total * 100, one decimal, halves away from zero, then "%": 1 of 16
// is 6.3%. With no total to share in, empty.
std::string formatShare(std::int64_t hits, std::int64_t total, std::string_view decimalSeparator);

// `addresses`: how many addresses the results hold (the grid's data rows).
Statistics buildStatistics(const lookup::CountryTable& table, std::int64_t addresses,
                           std::chrono::nanoseconds elapsed,
                           std::string_view decimalSeparator = ".");

}  // namespace ipcountry::analysis
