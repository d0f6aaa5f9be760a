#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace ipcountry::ui {

// How the user's locale writes the statistics window's time and shares:
// systemStatsLocale() fills it from Qt's system locale.
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
// of `locale`.
std::string formatElapsed(std::chrono::nanoseconds elapsed, std::string_view pattern,
                          const StatsLocale& locale);

}  // namespace ipcountry::ui
