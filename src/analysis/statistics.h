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
    std::string share;             // hits / total with the pattern "0.0%"
};

struct Statistics {
    std::int64_t total = 0;      // the addresses the results hold
    std::string elapsedText;     // the elapsed time in the long time format
    std::vector<StatsRow> rows;  // one per slot with hits > 0, in slot order
};

// How the user's locale writes things: the window fills it from Qt's system
// locale; the driver prints with these defaults.
struct StatsLocale {
    std::string longTimePattern = "H:mm:ss";  // Qt pattern syntax
    std::string decimalSeparator = ".";
    std::string amText = "AM";  // what AP/ap show before noon
    std::string pmText = "PM";
};

// Formats an elapsed time as a time of day under a Qt long-time pattern
// (h, hh, H, HH, m, mm, s, ss, z, zzz, AP/ap/A/a, quoted text). A time-zone
// part (t) has no meaning for a duration and is dropped with the blank before
// it; a pattern without hours, minutes and seconds falls back to H:mm:ss.
// Hours run on past 24 under H and HH rather than wrap; AP/ap take the texts
// of `locale` when given.
std::string formatElapsed(std::chrono::nanoseconds elapsed, std::string_view pattern);
std::string formatElapsed(std::chrono::nanoseconds elapsed, std::string_view pattern,
                          const StatsLocale& locale);

// hits / total in tenths of a percent, halves away from zero, computed
// exactly in integers: 1 of 16 is 63. `total` must be above 0.
std::int64_t shareTenths(std::int64_t hits, std::int64_t total);

// hits / total * 100, one decimal, halves away from zero, then "%": 1 of 16
// is 6.3%. With no total to share in, empty.
std::string formatShare(std::int64_t hits, std::int64_t total, std::string_view decimalSeparator);

// `addresses`: how many addresses the results hold (the grid's data rows).
Statistics buildStatistics(const lookup::CountryTable& table, std::int64_t addresses,
                           std::chrono::nanoseconds elapsed, const StatsLocale& locale);

}  // namespace ipcountry::analysis
