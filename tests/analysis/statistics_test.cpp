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

TEST(DurationText, writesHoursMinutesAndSecondsWithHoursRunningOn) {
    struct Case {
        std::chrono::nanoseconds elapsed;
        const char* expected;
    };
    const Case cases[] = {
        {0s, "0:00:00"},
        {2s, "0:00:02"},
        {999ms, "0:00:00"},
        {59s + 999ms, "0:00:59"},
        {60s, "0:01:00"},
        {65s, "0:01:05"},
        {1h - 1s, "0:59:59"},
        {1h, "1:00:00"},
        {26h + 1s, "26:00:01"},
        {-5s, "0:00:00"},
        {1000h + 61s, "1000:01:01"},
    };
    for (const Case& c : cases) EXPECT_EQ(durationText(c.elapsed), c.expected);
}

TEST(BuildStatistics, workedExample) {
    lookup::CountryTable table =
        lookup::parseCountryTable("DEGermany\r\nFRFrance\r\n", "Country.dbf");
    table.setSlot(222, "USUnited States");
    table.addHit(0);
    table.addHit(0);
    table.addHit(222);
    const Statistics stats = buildStatistics(table, 3, 2s);
    EXPECT_EQ(stats.total, 3);
    EXPECT_EQ(stats.elapsed, 2s);
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
    const Statistics stats = buildStatistics(table, 2, 0s, ",");
    ASSERT_EQ(stats.rows.size(), 2u);
    EXPECT_EQ(stats.rows[0].name, "C\xC3\xB4te d'Ivoire");
    EXPECT_EQ(stats.rows[1].name, "");
    EXPECT_EQ(stats.rows[1].share, "50,0%");
}

}  // namespace
}  // namespace ipcountry::analysis
