#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis/address_finder.h"
#include "fakes.h"
#include "lookup/error.h"

namespace ipcountry::analysis {
namespace {

namespace fs = std::filesystem;

// One run of the driver's find answers from the data as it found them, as an
// analysis does; "Find" in the window (findCountry) reads the file again
// for each address.
TEST(AddressFinder, answersARunFromOneSnapshotOfEachRangeFile) {
    const testing::TempDir scratch;
    const fs::path& dir = scratch.path();
    const auto writeRanges = [&](const char* name, const char* content) {
        std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << content;
    };
    lookup::CountryTable table;
    table.setSlot(0, "AAAland");
    table.setSlot(1, "BBBland");
    lookup::RangeFile ranges(dir);
    lookup::Range6File ranges6(dir);
    AddressFinder finder(table, ranges, ranges6);

    writeRanges("IP_db.dbf", "00000000ZZ\r\n0A000000AA\r\n0B000000ZZ\r\n");
    // No IPv6 file yet: each IPv6 address of the run fails alike, IPv4 ones are answered.
    EXPECT_THROW(finder.find("2001:db8::1"), lookup::Error);
    EXPECT_EQ(finder.find("10.0.0.1").code, "AA");
    writeRanges("IP6_db.dbf",
                "00000000000000000000000000000000ZZ\r\n20010DB8000000000000000000000000BB\r\n"
                "20010DB9000000000000000000000000ZZ\r\n");
    try {
        finder.find("[2001:db8::2]");
        FAIL();
    } catch (const lookup::Error& e) {
        EXPECT_EQ(e.kind(), lookup::ErrorKind::FileNotFound);
        EXPECT_NE(std::string(e.what()).find("IP6_db.dbf"), std::string::npos);
    }

    // Replaced, then removed, in the middle of the run: the run keeps its snapshot.
    writeRanges("IP_db.dbf", "00000000ZZ\r\n0A000000BB\r\n0A800000AA\r\n0B000000ZZ\r\n");
    EXPECT_EQ(finder.find("10.0.0.1").country->slot, 0);
    fs::remove(dir / "IP_db.dbf");
    EXPECT_EQ(finder.find("10.200.0.1").code, "AA");
    EXPECT_EQ(finder.find("11.0.0.1").code, "");

    // A new run, and each press of "Find", read the files as they are now.
    lookup::RangeFile freshRanges(dir);
    EXPECT_THROW(findCountry("10.0.0.1", table, freshRanges, ranges6), lookup::Error);
    writeRanges("IP_db.dbf", "00000000ZZ\r\n0A000000BB\r\n0A800000AA\r\n0B000000ZZ\r\n");
    EXPECT_EQ(findCountry("10.0.0.1", table, freshRanges, ranges6).country->slot, 1);
    AddressFinder next(table, freshRanges, ranges6);
    EXPECT_EQ(next.find("2001:db8::1").country->slot, 1);
    EXPECT_EQ(next.find("10.0.0.1").code, "BB");
}

// Many addresses at once give what each gives alone, errors in their place:
// good and wrong texts of both families, link-local, a family without its file.
TEST(AddressFinder, answersManyAtOnceAsOneByOne) {
    const testing::TempDir scratch;
    const fs::path& dir = scratch.path();
    std::ofstream(dir / "IP_db.dbf", std::ios::binary)
        << "00000000ZZ\r\n0A000000AA\r\n0A0000FFBB\r\n0B000000ZZ\r\n";
    lookup::CountryTable table;
    table.setSlot(0, "AAAland");
    table.setSlot(1, "BBBland");
    const std::vector<std::string_view> texts = {
        "10.0.0.1", "1.2.3.999",     "10.0.0.255",      "2001:db8::1",   "fe80::1",   "a.b.c.d",
        "11.0.0.1", "9.255.255.255", "::ffff:10.0.0.1", "[2001:db8::2]", "10.0.0.254"};
    const auto oneByOne = [&](const std::vector<std::string_view>& batch) {
        lookup::RangeFile ranges(dir);
        lookup::Range6File ranges6(dir);
        AddressFinder finder(table, ranges, ranges6);
        std::vector<AddressFinder::Found> found(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i) {
            try {
                found[i].answer = finder.find(batch[i]);
            } catch (const lookup::Error& e) {
                found[i].error = e;
            }
        }
        return found;
    };
    const auto expected = oneByOne(texts);
    lookup::RangeFile ranges(dir);
    lookup::Range6File ranges6(dir);
    AddressFinder finder(table, ranges, ranges6);
    std::vector<AddressFinder::Found> found;
    // The same finder twice over, so that the second batch reuses what the first left.
    for (int round = 0; round < 2; ++round) {
        finder.findEach(texts, found);
        ASSERT_EQ(found.size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(found[i].error.has_value(), expected[i].error.has_value()) << texts[i];
            if (found[i].error) {
                EXPECT_STREQ(found[i].error->what(), expected[i].error->what());
            }
            EXPECT_EQ(found[i].answer.code, expected[i].answer.code) << texts[i];
            EXPECT_EQ(found[i].answer.country.has_value(), expected[i].answer.country.has_value());
            if (found[i].answer.country) {
                EXPECT_EQ(found[i].answer.country->slot, expected[i].answer.country->slot);
            }
        }
    }
    EXPECT_EQ(expected[0].answer.code, "AA");
    EXPECT_EQ(expected[2].answer.code, "BB");
    EXPECT_TRUE(expected[3].error.has_value());
}

// Finders on other threads share their owner's one try of each file: what
// the first of them found (a file, or its absence) answers every finder for
// the rest of the run, whatever happens to the files meanwhile.
TEST(AddressFinder, sharingFindersOnThreadsAnswerFromTheOwnersOneTry) {
    const testing::TempDir scratch;
    const fs::path& dir = scratch.path();
    std::ofstream(dir / "IP_db.dbf", std::ios::binary)
        << "00000000ZZ\r\n0A000000AA\r\n0B000000ZZ\r\n";
    lookup::CountryTable table;
    table.setSlot(0, "AAAland");
    lookup::RangeFile ranges(dir);
    lookup::Range6File ranges6(dir);
    AddressFinder owner(table, ranges, ranges6);
    const std::vector<std::string_view> texts = {"10.0.0.1", "2001:db8::1", "1.2.3.999",
                                                 "11.0.0.1", "fe80::1",     "10.1.2.3"};
    const auto findOnThreads = [&] {
        std::vector<std::vector<AddressFinder::Found>> found(4);
        std::vector<std::thread> threads;
        for (auto& mine : found)
            threads.emplace_back([&owner, &texts, &mine] {
                AddressFinder finder(owner);
                for (int round = 0; round < 50; ++round) finder.findEach(texts, mine);
            });
        for (std::thread& thread : threads) thread.join();
        return found;
    };
    for (const auto& found : findOnThreads()) {
        ASSERT_EQ(found.size(), texts.size());
        EXPECT_EQ(found[0].answer.code, "AA");
        ASSERT_TRUE(found[1].error.has_value());
        EXPECT_EQ(found[1].error->kind(), lookup::ErrorKind::FileNotFound);
        EXPECT_TRUE(found[2].error.has_value());
        EXPECT_EQ(found[3].answer.code, "");
        EXPECT_FALSE(found[4].error.has_value());
        EXPECT_EQ(found[5].answer.country->slot, 0);
    }
    // Later finders, and the owner once they are done, keep that try.
    std::ofstream(dir / "IP6_db.dbf", std::ios::binary) << "00000000000000000000000000000000ZZ\r\n";
    fs::remove(dir / "IP_db.dbf");
    for (const auto& found : findOnThreads()) {
        EXPECT_EQ(found[0].answer.code, "AA");
        EXPECT_TRUE(found[1].error.has_value());
    }
    EXPECT_THROW(owner.find("2001:db8::1"), lookup::Error);
    EXPECT_EQ(owner.find("10.0.0.1").code, "AA");
}

}  // namespace
}  // namespace ipcountry::analysis
