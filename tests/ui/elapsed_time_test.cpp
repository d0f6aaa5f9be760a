#include "ui/elapsed_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>

#include "analysis/statistics.h"

namespace ipcountry::ui {
namespace {

using namespace std::chrono_literals;

TEST(FormatElapsed, followsTheLongTimePatternWithoutItsZone) {
    struct Case {
        std::chrono::nanoseconds elapsed;
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {
        {65s, "H:mm:ss", "0:01:05"},
        {65s, "h:mm:ss AP", "12:01:05 AM"},
        {65s, "h:mm:ss AP t", "12:01:05 AM"},
        {65s, "HH:mm:ss t", "00:01:05"},
        {65s, "t HH:mm:ss", "00:01:05"},
        {2s, "H:mm:ss", "0:00:02"},
        {13h + 5s, "h:mm:ss ap", "1:00:05 pm"},
        {13h + 5s, "hh:mm:ss", "13:00:05"},
        {26h + 1s, "H:mm:ss", "26:00:01"},  // a duration, not a time of day
        {1500ms, "HH:mm:ss.zzz", "00:00:01.500"},
        {1500ms, "H:mm:ss.z", "0:00:01.5"},
        {65s, "HH'h'mm'm'ss's'", "00h01m05s"},
        {65s, "H 'o''clock' mm ss", "0 o'clock 01 05"},
        {65s, "", "0:01:05"},
        {65s, "t", "0:01:05"},
        {65s, "mm:ss", "0:01:05"},  // no hours: the fallback
        {-5s, "H:mm:ss", "0:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatElapsed(c.elapsed, c.pattern, StatsLocale{}), c.expected) << c.pattern;
}

TEST(FormatElapsed, usesTheLocalesDayHalfTexts) {
    StatsLocale locale;
    locale.amText = "vorm.";
    locale.pmText = "nachm.";
    EXPECT_EQ(formatElapsed(65s, "h:mm:ss ap", locale), "12:01:05 vorm.");
    EXPECT_EQ(formatElapsed(13h, "h:mm:ss AP", locale), "1:00:00 NACHM.");
}

// The window under the default pattern and the driver show one run's time alike.
TEST(FormatElapsed, defaultPatternAgreesWithTheDriversDurationText) {
    for (const std::chrono::nanoseconds elapsed : std::initializer_list<std::chrono::nanoseconds>{
             0ns, 999ms, 1s, 59s, 61s + 500ms, 1h - 1ns, 1h, 25h + 59min + 59s, 100h, -1s})
        EXPECT_EQ(formatElapsed(elapsed, StatsLocale{}.longTimePattern, StatsLocale{}),
                  analysis::durationText(elapsed))
            << elapsed.count();
}

}  // namespace
}  // namespace ipcountry::ui
