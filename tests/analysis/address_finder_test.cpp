#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "analysis/country_resolver.h"
#include "lookup/error.h"

namespace ipcountry::analysis {
namespace {

namespace fs = std::filesystem;

// The finder keeps its resolver between addresses: a range file replaced or
// removed in between must still be seen, as findCountry sees it.
TEST(AddressFinder, followsTheRangeFileBetweenAddresses) {
    const fs::path dir = fs::temp_directory_path() / "ipcountry-address-finder";
    fs::create_directories(dir);
    const auto writeRanges = [&](const char* content) {
        std::ofstream(dir / "IP_db.dbf", std::ios::binary) << content;
    };
    lookup::CountryTable table;
    table.setSlot(0, "AAAland");
    table.setSlot(1, "BBBland");
    lookup::RangeFile ranges(dir);
    lookup::Range6File ranges6(dir);
    AddressFinder finder(table, ranges, ranges6);

    writeRanges("00000000ZZ\r\n0A000000AA\r\n0B000000ZZ\r\n");
    EXPECT_EQ(finder.find("10.0.0.1").code, "AA");
    EXPECT_EQ(finder.find("10.9.9.9").country->slot, 0);

    writeRanges("00000000ZZ\r\n0A000000BB\r\n0A800000AA\r\n0B000000ZZ\r\n");
    EXPECT_EQ(finder.find("10.0.0.1").code, "BB");
    EXPECT_EQ(finder.find("10.0.0.1").country->slot, 1);
    EXPECT_EQ(finder.find("10.200.0.1").code, "AA");

    fs::remove(dir / "IP_db.dbf");
    EXPECT_THROW(finder.find("10.0.0.1"), lookup::Error);
    writeRanges("00000000ZZ\r\n0A000000AA\r\n0B000000ZZ\r\n");
    EXPECT_EQ(finder.find("10.0.0.1").country->slot, 0);

    // Each family keeps its own file and resolver between the other's lookups.
    std::ofstream(dir / "IP6_db.dbf", std::ios::binary)
        << "00000000000000000000000000000000ZZ\r\n20010DB8000000000000000000000000BB\r\n"
           "20010DB9000000000000000000000000ZZ\r\n";
    EXPECT_EQ(finder.find("2001:db8::1").country->slot, 1);
    EXPECT_EQ(finder.find("10.0.0.1").country->slot, 0);
    EXPECT_EQ(finder.find("[2001:db8:ffff::]").code, "BB");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace ipcountry::analysis
