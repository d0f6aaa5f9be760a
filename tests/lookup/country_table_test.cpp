#include "lookup/country_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "lookup/error.h"

namespace ipcountry::lookup {
namespace {

std::string listOf(int lines, const std::string& lineEnd = "\r\n") {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += static_cast<char>('A' + i / 26 % 26);
        text += static_cast<char>('A' + i % 26);
        text += "Country " + std::to_string(i) + lineEnd;
    }
    return text;
}

TEST(CountryTableParse, takesCodeAndNameWithoutTrimming) {
    const auto table = parseCountryTable("ATAustria\r\nAT Austria\r\nDEGermany", "Country.dbf");
    EXPECT_EQ(table.slotCode(0), "AT");
    EXPECT_EQ(table.slotName(0), "Austria");
    EXPECT_EQ(table.slotName(1), " Austria");
    EXPECT_EQ(table.slotName(2), "Germany");  // no line end after the last line
    EXPECT_FALSE(table.slotFilled(3));
    // A code that stands twice resolves to its first line.
    EXPECT_EQ(table.findSlot("AT"), 0);
    EXPECT_EQ(table.findSlot("at"), std::nullopt);
    // An empty code finds the first unfilled slot.
    EXPECT_EQ(table.findSlot(""), 3);
}

TEST(CountryTableParse, acceptsEveryLineEnd) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        const auto table = parseCountryTable(listOf(3, end), "Country.dbf");
        EXPECT_EQ(table.slotName(2), "Country 2") << "line end " << int(end[0]);
        EXPECT_FALSE(table.slotFilled(3));
    }
}

TEST(CountryTableParse, fullListHasNoEmptySlot) {
    const auto table = parseCountryTable(listOf(kSlotCount), "Country.dbf");
    EXPECT_EQ(table.findSlot(""), std::nullopt);
    EXPECT_EQ(table.slotName(kSlotCount - 1), "Country 236");
}

TEST(CountryTableParse, badListsNameFileAndLine) {
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {listOf(kSlotCount + 1), "Country.dbf, line 238"},
        {"ATAustria\r\nX\r\nDEGermany\r\n", "Country.dbf, line 2"},
        {"ATAustria\r\n\r\nDEGermany\r\n", "Country.dbf, line 2"},
        {"", "Country.dbf: the list holds no countries"},
    };
    for (const auto& c : cases) {
        try {
            parseCountryTable(c.content, "Country.dbf");
            ADD_FAILURE() << "accepted: " << c.expected;
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::BadData);
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
    }
}

TEST(CountryTableLoad, missingFileIsFileNotFoundAndNamesIt) {
    try {
        loadCountryTable("/nonexistent-folder");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileNotFound);
        EXPECT_NE(std::string(e.what()).find("Country.dbf"), std::string::npos);
    }
}

TEST(CountryTableLoad, folderInPlaceOfTheFileIsUnreadable) {
    const auto dir = std::filesystem::temp_directory_path() / "ipcountry-ct-dir";
    std::filesystem::create_directories(dir / "Country.dbf");
    try {
        loadCountryTable(dir);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileUnreadable);
    }
    std::filesystem::remove_all(dir);
}

TEST(CountryTableHits, accumulateUntilClearedAndNeverGoNegative) {
    auto table = parseCountryTable("DEGermany\r\nFRFrance\r\n", "Country.dbf");
    table.addHit(0);
    table.addHit(0);
    table.addHit(kUsSlot);  // unfilled, counted all the same
    EXPECT_EQ(table.slotHits(0), 2);
    EXPECT_EQ(table.totalHits(), 3);
    table.removeHit(0);
    table.removeHit(1);
    EXPECT_EQ(table.slotHits(0), 1);
    EXPECT_EQ(table.slotHits(1), 0);
    table.clearHits();
    EXPECT_EQ(table.totalHits(), 0);
}

TEST(Windows1252, convertsEveryByteToUtf8) {
    EXPECT_EQ(windows1252ToUtf8("C\xF4te d'Ivoire"), "C\xC3\xB4te d'Ivoire");
    EXPECT_EQ(windows1252ToUtf8("\x80\x81\x9F"), "\xE2\x82\xAC\xC2\x81\xC5\xB8");
    EXPECT_EQ(windows1252ToUtf8("plain"), "plain");
}

TEST(Windows1252, convertsAByteWhereverItStandsInALongText) {
    for (std::size_t at = 0; at < 20; ++at) {
        std::string text(20, 'a'), out = "x";
        text[at] = '\xFF';
        appendWindows1252AsUtf8(out, text);
        EXPECT_EQ(out, "x" + text.substr(0, at) + "\xC3\xBF" + text.substr(at + 1)) << at;
    }
}

}  // namespace
}  // namespace ipcountry::lookup

namespace ipcountry::lookup {
namespace {

// Every code the ranges may hold has a name, in Windows-1252 as Country.dbf.
TEST(FullCountryNames, nameEveryCodeOfTheRanges) {
    const struct {
        const char* code;
        const char* name;
    } kCases[] = {
        {"KP", "North Korea"},
        {"XK", "Kosovo"},
        {"EH", "Western Sahara"},
        {"AN", "Netherlands Antilles"},
        {"US", "United States"},
        {"AX", "\xC5land Islands"},
        {"CI", "C\xF4te d'Ivoire"},
        {"UM", "United States Minor Outlying Islands"},
        {"ZZ", ""},
        {"", ""},
        {"kp", ""},
        {"KPX", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(fullCountryName(c.code), c.name) << c.code;
}

TEST(FullCountryNames, slotsAfterTheListForEveryOtherCodeOnce) {
    CountryTable table =
        parseCountryTable("DEGermany\r\nKPNorth Korea (listed)\r\n", "Country.dbf");
    addCountriesBeyondList(table);
    const int added = table.slotCount();
    EXPECT_GT(added, kSlotCount + 240);
    EXPECT_LE(added, kMostSlots);
    // The list's slots stay as they are; its codes get no second slot; the
    // US is counted in its own slot, whatever the list holds there.
    EXPECT_EQ(table.findSlot("KP"), 1);
    EXPECT_EQ(table.slotName(1), "North Korea (listed)");
    EXPECT_EQ(table.findSlot("DE"), 0);
    EXPECT_EQ(table.findSlot("US"), std::nullopt);
    const std::optional<int> kosovo = table.findSlot("XK");
    ASSERT_TRUE(kosovo);
    EXPECT_GE(*kosovo, kSlotCount);
    EXPECT_EQ(table.slotName(*kosovo), "Kosovo");
    EXPECT_TRUE(table.slotFilled(*kosovo));
    // In the order of their names, each once.
    for (int slot = kSlotCount + 1; slot < added; ++slot)
        EXPECT_LT(table.slotName(slot - 1), table.slotName(slot)) << slot;
    addCountriesBeyondList(table);
    EXPECT_EQ(table.slotCount(), added);
    // They count as the list's slots do.
    table.addHit(*kosovo);
    EXPECT_EQ(table.totalHits(), 1);
}

}  // namespace
}  // namespace ipcountry::lookup
