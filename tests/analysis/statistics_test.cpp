#include "analysis/statistics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace ipcountry::analysis {
namespace {

using namespace std::chrono_literals;

TEST(FormatShare, roundsHalvesAwayFromZeroExactly) {
    struct Case {
        std::int64_t hits, total;
        const char* separator;
        const char* expected;
    };
    const Case cases[] = {
        {1, 3, ".", "33.3%"},
        {2, 3, ".", "66.7%"},
        {3, 3, ".", "100.0%"},
        {1, 16, ".", "6.3%"},
        {3, 16, ".", "18.8%"},
        {5, 16, ".", "31.3%"},
        {1, 80, ".", "1.3%"},
        {1, 2000, ".", "0.1%"},
        {1, 2001, ".", "0.0%"},
        {0, 5, ".", "0.0%"},
        {3, 1, ".", "300.0%"},
        {1, 16, ",", "6,3%"},
        {2, 3, "\xD9\xAB",
         "66\xD9\xAB"
         "7%"},  // a separator of more than one byte
        {999'999'999'999, 1'000'000'000'000, ".", "100.0%"},
        {1, 0, ".", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatShare(c.hits, c.total, c.separator), c.expected)
            << c.hits << " of " << c.total;
}

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
        EXPECT_EQ(formatElapsed(c.elapsed, c.pattern), c.expected) << c.pattern;
}

TEST(FormatElapsed, usesTheLocalesDayHalfTexts) {
    StatsLocale locale;
    locale.amText = "vorm.";
    locale.pmText = "nachm.";
    EXPECT_EQ(formatElapsed(65s, "h:mm:ss ap", locale), "12:01:05 vorm.");
    EXPECT_EQ(formatElapsed(13h, "h:mm:ss AP", locale), "1:00:00 NACHM.");
}

TEST(BuildStatistics, workedExample) {
    lookup::CountryTable table =
        lookup::parseCountryTable("DEGermany\r\nFRFrance\r\n", "Country.dbf");
    table.setSlot(222, "USUnited States");
    table.addHit(0);
    table.addHit(0);
    table.addHit(222);
    const Statistics stats = buildStatistics(table, 3, 2s, StatsLocale{});
    EXPECT_EQ(stats.total, 3);
    EXPECT_EQ(stats.elapsedText, "0:00:02");
    ASSERT_EQ(stats.rows.size(), 2u);
    EXPECT_EQ(stats.rows[0].name, "Germany");
    EXPECT_EQ(stats.rows[0].count, "2");
    EXPECT_EQ(stats.rows[0].share, "66.7%");
    EXPECT_EQ(stats.rows[0].shareTenths, 667);
    EXPECT_EQ(stats.rows[1].slot, 222);
    EXPECT_EQ(stats.rows[1].name, "United States");
    EXPECT_EQ(stats.rows[1].share, "33.3%");
}

TEST(BuildStatistics, namesAreUtf8AndUnnamedSlotsStillCount) {
    lookup::CountryTable table = lookup::parseCountryTable("CIC\xF4te d'Ivoire\r\n", "Country.dbf");
    table.addHit(0);
    table.addHit(222);  // slot 222 unfilled: a row with an empty name
    StatsLocale locale;
    locale.decimalSeparator = ",";
    const Statistics stats = buildStatistics(table, 2, 0s, locale);
    ASSERT_EQ(stats.rows.size(), 2u);
    EXPECT_EQ(stats.rows[0].name, "C\xC3\xB4te d'Ivoire");
    EXPECT_EQ(stats.rows[1].name, "");
    EXPECT_EQ(stats.rows[1].share, "50,0%");
}

}  // namespace
}  // namespace ipcountry::analysis
