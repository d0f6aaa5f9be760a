#include "lookup/range_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "lookup/address_key.h"
#include "lookup/error.h"
#include "support/deadline.h"

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

// The ends of an address's bucket (its upper 16 bits), in both widths.
std::uint32_t bucketFloor(std::uint32_t a) { return a & 0xFFFF0000u; }
std::uint32_t bucketCeiling(std::uint32_t a) { return a | 0xFFFFu; }
Address6 bucketFloor(Address6 a) { return {a.high & 0xFFFF000000000000ULL, 0}; }
Address6 bucketCeiling(Address6 a) { return {a.high | 0x0000FFFFFFFFFFFFULL, ~std::uint64_t{0}}; }

// Random files of every shape (sorted, repeated starts, short lines,
// shuffled): the index (where it is used) and the reference scan give the
// same answer for every key tried, in both address widths. Now and then a
// file crowds one bucket with as many starts as fill a node of the index
// exactly, one more, or enough for several levels of nodes.
template <class Family, class Draw>
void checkIndexAgainstReferenceScan(std::uint32_t seed, Draw draw) {
    using Address = typename Family::Address;
    std::mt19937_64 rng(seed);
    const std::string codes[] = {"ZZ", "DE", "US", "FR", "A", ""};
    const int crowded[] = {5, 6, 7, 14, 15, 16, 30, 31, 32, 47, 48, 49, 384, 385, 466, 467, 1200};
    for (int file = 0; file < 3000; ++file) {
        const int shape = file % 4;
        const int n =
            file % 10 == 9 ? crowded[rng() % std::size(crowded)] : static_cast<int>(rng() % 12);
        std::vector<Address> starts;
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
        // Random keys, the starts and their neighbours, the ends of the
        // address space and of the starts' buckets.
        std::vector<Address> keys{Address{}, Address{}};
        --keys[1];
        for (int k = 0; k < 40; ++k) {
            auto address = k < 20 || starts.empty() ? draw(rng) : starts[rng() % starts.size()];
            if (k % 3 == 1) --address;
            if (k % 3 == 2) ++address;
            keys.push_back(address);
        }
        if (!starts.empty()) {
            const Address start = starts[rng() % starts.size()];
            keys.push_back(bucketFloor(start));
            keys.push_back(bucketCeiling(start));
            Address last = starts.back();
            keys.push_back(last);
            keys.push_back(--last);
        }
        // The batch lookup, whose lookups of different depths go down the
        // tree side by side, gives each key's own answer.
        std::vector<std::uint16_t> batch(keys.size());
        if (index.usesIndex()) index.findPackedCodes(keys.data(), batch.data(), keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const Address& address = keys[i];
            const auto key = Family::toKey(address);
            const auto expected = findCountryCodeSequential(lines, key, Family::kKeyLength);
            ASSERT_EQ(index.findCountryCode(address), expected) << "file:\n"
                                                                << content << "key " << key;
            if (index.usesIndex()) {
                ASSERT_EQ(batch[i], index.findPackedCode(address)) << "file:\n"
                                                                   << content << "key " << key;
            }
        }
    }
}

TEST(RangeIndexProperty, agreesWithTheReferenceScanOnRandomFiles) {
    checkIndexAgainstReferenceScan<Ipv4Ranges>(20261207, [](std::mt19937_64& rng) {
        switch (rng() % 4) {
            case 0:
                return static_cast<std::uint32_t>(rng() % 64 * 0x04000000u);
            case 1:
                return static_cast<std::uint32_t>((rng() % 4) << 16 |
                                                  (rng() & 0xFFFF));  // few buckets
            case 2:  // the top of a bucket, where the index pads its nodes
                return static_cast<std::uint32_t>((rng() % 4) << 16 | (0xFFFF - rng() % 3));
            default:
                return static_cast<std::uint32_t>(rng());
        }
    });
}

TEST(RangeIndexProperty, agreesWithTheReferenceScanOn128BitKeys) {
    checkIndexAgainstReferenceScan<Ipv6Ranges>(20261208, [](std::mt19937_64& rng) {
        switch (rng() % 5) {
            case 0:
                return Address6{rng(), rng()};
            // Several starts within one bucket (the upper 16 bits), unaligned.
            case 1:
                return Address6{0x2A01000000000000ULL | (rng() % 4) << 32 | rng() % 3, rng()};
            // Around the carry from the lower 64 bits into the upper ones.
            case 2:
                return Address6{0x20010DB800000000ULL + rng() % 2,
                                rng() % 2 ? rng() % 2 : ~std::uint64_t{0} - rng() % 2};
            // Starts that differ only in their last 48 bits, which the
            // index's nodes do not hold.
            case 3:
                return Address6{0x2A02000000000000ULL, (rng() % 2) << 48 | rng() % 5 << 20};
            default:
                return Address6{(rng() % 8) << 61, 0};
        }
    });
}

// One bucket deep enough for three levels of nodes above the leaves, every
// start repeated now and then, against the reference scan at each start.
TEST(RangeIndexProperty, answersInABucketOfThousandsOfStarts) {
    std::mt19937_64 rng(20261209);
    std::vector<std::uint32_t> starts;
    for (int i = 0; i < 20000; ++i) starts.push_back(0x0A0B0000u | (rng() & 0xFFFF));
    std::sort(starts.begin(), starts.end());
    std::string content = "00000000ZZ\n";
    const std::string codes[] = {"DE", "US", "FR"};
    for (const std::uint32_t start : starts)
        content += addressToKey(start) + codes[rng() % 3] + "\n";
    content += "0A0C0000ZZ\n";
    const auto index = RangeIndex::fromContent(content);
    ASSERT_TRUE(index.usesIndex());
    const auto lines = splitRangeLines(content);
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t address = 0x0A0AFFFFu; address <= 0x0A0C0000u; address += 1 + rng() % 400)
        addresses.push_back(address);
    // In batches, the deep bucket's lookups beside the shallow ones around it.
    std::vector<std::uint16_t> batch(addresses.size());
    index.findPackedCodes(addresses.data(), batch.data(), addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto key = addressToKey(addresses[i]);
        const auto expected = findCountryCodeSequential(lines, key, kAddressKeyLength);
        ASSERT_EQ(index.findCountryCode(addresses[i]), expected) << key;
        ASSERT_EQ(batch[i] == 0 ? std::nullopt : std::optional(unpackCode(batch[i])), expected)
            << key;
    }
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
    EXPECT_EQ(ranges.index().findCountryCode(0x0A000001u), "AA");
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
    EXPECT_EQ(ranges.index().findCountryCode(0x0A000001u), "CC");
    // Replaced by another file of the same size (a new inode).
    const auto other = dir / "other";
    std::ofstream(other, std::ios::binary)
        << "00000000ZZ\r\n0A000000DD\r\n0B000000BB\r\n0C000000ZZ\r\n";
    fs::rename(other, dir / "IP_db.dbf");
    ranges.open();
    EXPECT_EQ(ranges.index().findCountryCode(0x0A000001u), "DD");
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
    EXPECT_EQ(ranges.index().findCountryCode(start), "AA");
    EXPECT_EQ(ranges.index().findCountryCode(--Address6(start)), "ZZ");
    EXPECT_EQ(ranges.index().findCountryCode(Address6{0x20010DB800000001ULL, 0}), std::nullopt);
}

// What may stand where the range file belongs besides a file: each is
// refused at once as unreadable. A FIFO nobody writes to must not hold the
// open (nor the read) forever.
struct NotAFileCase {
    const char* name;
    void (*make)(const fs::path& at);
};

class RangeFileNotAFile : public RangeFileOnDisk,
                          public ::testing::WithParamInterface<NotAFileCase> {};

TEST_P(RangeFileNotAFile, isRefusedWithoutWaiting) {
    GetParam().make(dir / "IP_db.dbf");
    const test_support::Deadline deadline(std::string("opening a ") + GetParam().name,
                                          std::chrono::seconds(20));
    RangeFile ranges(dir);
    try {
        ranges.open();
        FAIL() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::FileUnreadable) << e.what();
        EXPECT_NE(std::string(e.what()).find("IP_db.dbf"), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RangeFileNotAFile,
    ::testing::Values(
        NotAFileCase{"folder", [](const fs::path& at) { fs::create_directories(at); }},
        NotAFileCase{"fifo", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
        NotAFileCase{"endlessDevice",
                     [](const fs::path& at) { fs::create_symlink("/dev/zero", at); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RangeLines, splitAtEveryKindOfLineEnd) {
    EXPECT_EQ(splitRangeLines("a\rb\nc\r\n\r\n\rd\r"),
              (std::vector<std::string>{"a", "b", "c", "", "", "d"}));
    EXPECT_TRUE(splitRangeLines("").empty());
}

}  // namespace
}  // namespace ipcountry::lookup
