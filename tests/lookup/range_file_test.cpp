#include "lookup/range_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

#include "lookup/address_key.h"
#include "lookup/error.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

struct LookupCase {
    std::string content;
    std::string key;
    std::optional<std::string> code;
};

class RangeLookup : public ::testing::TestWithParam<LookupCase> {};

// Index and reference scan must agree with the expected answer.
TEST_P(RangeLookup, answersAsTheRangeRule) {
    const auto& c = GetParam();
    const auto index = RangeIndex::fromContent(c.content);
    EXPECT_EQ(index.findCountryCode(c.key), c.code) << c.key;
    EXPECT_EQ(findCountryCodeSequential(splitRangeLines(c.content), c.key), c.code) << c.key;
    if (const auto address = keyToAddress(c.key)) {
        EXPECT_EQ(index.findCountryCode(*address), c.code) << c.key;
    }
}

const std::string kThree = "00000000ZZ\r\n0A000000AA\r\n0B000000BB\r\n";
INSTANTIATE_TEST_SUITE_P(
    Cases, RangeLookup,
    ::testing::Values(
        LookupCase{kThree, "05000000", "ZZ"}, LookupCase{kThree, "0A800000", "AA"},
        // A range's first address belongs to that range.
        LookupCase{kThree, "0A000000", "AA"}, LookupCase{kThree, "00000000", "ZZ"},
        // The last line only closes the range before it.
        LookupCase{kThree, "0B000000", std::nullopt}, LookupCase{kThree, "0C000000", std::nullopt},
        LookupCase{"01000000ZZ\r\n0A000000AA\r\n", "00800000", std::nullopt},
        LookupCase{"", "0A000000", std::nullopt},
        LookupCase{"0A000000AA", "0A000000", std::nullopt},
        // Odd and even line counts both end quietly above the last line.
        LookupCase{"00000000ZZ\n0A000000AA\n", "FFFFFFFF", std::nullopt},
        LookupCase{"00000000ZZ\r0A000000AA\r0B000000ZZ", "FFFFFFFF", std::nullopt},
        // Repeated starts: the later line opens the range.
        LookupCase{"00000000ZZ\r\n0A000000AA\r\n0A000000BB\r\n0B000000ZZ\r\n", "0A000001", "BB"},
        // Malformed files are answered by the same rule, line by line.
        LookupCase{"00000000ZZ\r\nX\r\n0B000000BB\r\n", "05000000", "ZZ"},
        LookupCase{"00000000ZZ\r\n0a000000aa\r\n0B000000BB\r\n", "0A800000", "ZZ"},
        LookupCase{"00000000ZZ\r\n0a000000aa\r\n0b000000BB\r\n", "0a800000", "aa"},
        LookupCase{"00000000ZZ\r\n0B000000BB\r\n0A000000AA\r\n0C000000ZZ\r\n", "0A800000", "ZZ"},
        // A line shorter than two characters is its own code.
        LookupCase{"0\r\n5\r\n", "1", "0"}));

TEST(RangeIndexChoice, indexesOnlyWellFormedAscendingFiles) {
    EXPECT_TRUE(RangeIndex::fromContent(kThree).usesIndex());
    EXPECT_TRUE(RangeIndex::fromContent("").usesIndex());
    EXPECT_FALSE(RangeIndex::fromContent("0B000000BB\r\n0A000000AA\r\n").usesIndex());
    EXPECT_FALSE(RangeIndex::fromContent("0A000000A\r\n").usesIndex());
    EXPECT_FALSE(RangeIndex::fromContent("0a000000AA\r\n").usesIndex());
}

// Random files of every shape (sorted, repeated starts, short lines,
// shuffled): the index (where it is used) and the reference scan give the
// same answer for every key tried, in both address widths.
template <class Family, class Draw>
void checkIndexAgainstReferenceScan(std::uint32_t seed, Draw draw) {
    std::mt19937_64 rng(seed);
    const std::string codes[] = {"ZZ", "DE", "US", "FR", "A", ""};
    for (int file = 0; file < 3000; ++file) {
        const int shape = file % 4;
        // Now and then a file long enough to crowd one bucket.
        const int n = static_cast<int>(file % 50 == 49 ? 400 : rng() % 12);
        std::vector<typename Family::Address> starts;
        for (int i = 0; i < n; ++i) starts.push_back(draw(rng));
        if (shape != 3) std::sort(starts.begin(), starts.end());
        if (shape == 1 && n > 1) starts[1] = starts[0];
        std::string content;
        for (const auto& start : starts) {
            std::string line = Family::toKey(start) + codes[rng() % 4];
            if (shape == 2 && rng() % 3 == 0) {
                line = line.substr(0, rng() % (Family::kKeyLength + 2)) + codes[4 + rng() % 2];
            }
            content += line + (rng() % 2 ? "\r\n" : "\n");
        }
        const auto index = BasicRangeIndex<Family>::fromContent(content);
        const auto lines = splitRangeLines(content);
        for (int k = 0; k < 40; ++k) {
            auto address = k < 20 || starts.empty() ? draw(rng) : starts[rng() % starts.size()];
            if (k % 3 == 1) --address;
            if (k % 3 == 2) ++address;
            const auto key = Family::toKey(address);
            const auto expected = findCountryCodeSequential(lines, key, Family::kKeyLength);
            ASSERT_EQ(index.findCountryCode(key), expected) << "file:\n"
                                                            << content << "key " << key;
            ASSERT_EQ(index.findCountryCode(address), expected) << "file:\n"
                                                                << content << "key " << key;
        }
    }
}

TEST(RangeIndexProperty, agreesWithTheReferenceScanOnRandomFiles) {
    checkIndexAgainstReferenceScan<Ipv4Ranges>(20261207, [](std::mt19937_64& rng) {
        switch (rng() % 3) {
            case 0:
                return static_cast<std::uint32_t>(rng() % 64 * 0x04000000u);
            case 1:
                return static_cast<std::uint32_t>((rng() % 4) << 16 |
                                                  (rng() & 0xFFFF));  // few buckets
            default:
                return static_cast<std::uint32_t>(rng());
        }
    });
}

TEST(RangeIndexProperty, agreesWithTheReferenceScanOn128BitKeys) {
    checkIndexAgainstReferenceScan<Ipv6Ranges>(20261208, [](std::mt19937_64& rng) {
        switch (rng() % 4) {
            case 0:
                return Address6{rng(), rng()};
            // Several starts within one bucket (the upper 16 bits), unaligned.
            case 1:
                return Address6{0x2A01000000000000ULL | (rng() % 4) << 32 | rng() % 3, rng()};
            // Around the carry from the lower 64 bits into the upper ones.
            case 2:
                return Address6{0x20010DB800000000ULL + rng() % 2,
                                rng() % 2 ? rng() % 2 : ~std::uint64_t{0} - rng() % 2};
            default:
                return Address6{(rng() % 8) << 61, 0};
        }
    });
}

class RangeFileOnDisk : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("ipcountry-rf-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    void write(const std::string& content) {
        std::ofstream(dir / "IP_db.dbf", std::ios::binary | std::ios::trunc) << content;
    }
};

TEST_F(RangeFileOnDisk, missingFileIsEachOperationsFileNotFound) {
    RangeFile ranges(dir);
    try {
        ranges.open();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileNotFound);
        EXPECT_NE(std::string(e.what()).find("IP_db.dbf"), std::string::npos);
    }
    write(kThree);
    ranges.open();
    EXPECT_EQ(ranges.findCountryCode("0A000001"), "AA");
    fs::remove(dir / "IP_db.dbf");
    // The file vanished: the next operation fails again instead of using the old index.
    EXPECT_THROW(ranges.open(), Error);
}

TEST_F(RangeFileOnDisk, rereadsOnlyWhenTheFileChanges) {
    write(kThree);
    RangeFile ranges(dir);
    ranges.open();
    ranges.open();
    EXPECT_EQ(ranges.loadCount(), 1);
    // Replaced by a file of another size: the next open sees it.
    write("00000000ZZ\r\n0A000000CC\r\n0B000000BB\r\n0C000000ZZ\r\n");
    ranges.open();
    EXPECT_EQ(ranges.loadCount(), 2);
    EXPECT_EQ(ranges.findCountryCode("0A000001"), "CC");
    // Replaced by another file of the same size (a new inode).
    const auto other = dir / "other";
    std::ofstream(other, std::ios::binary)
        << "00000000ZZ\r\n0A000000DD\r\n0B000000BB\r\n0C000000ZZ\r\n";
    fs::rename(other, dir / "IP_db.dbf");
    ranges.open();
    EXPECT_EQ(ranges.findCountryCode("0A000001"), "DD");
}

TEST_F(RangeFileOnDisk, ipv6FileAnswersByTheSameRuleAndIsMissedOnItsOwn) {
    write(kThree);
    Range6File ranges(dir);
    try {
        ranges.open();
        FAIL();
    } catch (const Error& e) {
        // An older data folder: only the IPv6 file is missing, and the message says which.
        EXPECT_EQ(e.kind(), ErrorKind::FileNotFound);
        EXPECT_NE(std::string(e.what()).find("IP6_db.dbf"), std::string::npos);
    }
    std::ofstream(dir / "IP6_db.dbf", std::ios::binary) << "00000000000000000000000000000000ZZ\r\n"
                                                        << "20010DB8000000000000000000000000AA\r\n"
                                                        << "20010DB8000000010000000000000000ZZ\r\n";
    ranges.open();
    const Address6 start{0x20010DB800000000ULL, 0};
    EXPECT_EQ(ranges.findCountryCode(start), "AA");
    EXPECT_EQ(ranges.findCountryCode(--Address6(start)), "ZZ");
    EXPECT_EQ(ranges.findCountryCode(Address6{0x20010DB800000001ULL, 0}), std::nullopt);
}

TEST_F(RangeFileOnDisk, folderInPlaceOfTheFileIsUnreadable) {
    fs::create_directories(dir / "IP_db.dbf");
    RangeFile ranges(dir);
    try {
        ranges.open();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileUnreadable);
    }
}

TEST(RangeLines, splitAtEveryKindOfLineEnd) {
    EXPECT_EQ(splitRangeLines("a\rb\nc\r\n\r\n\rd\r"),
              (std::vector<std::string>{"a", "b", "c", "", "", "d"}));
    EXPECT_TRUE(splitRangeLines("").empty());
}

}  // namespace
}  // namespace ipcountry::lookup
