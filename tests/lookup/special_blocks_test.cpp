#include "lookup/special_blocks.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/special_addresses.h"

namespace ipcountry::lookup {
namespace {

std::uint32_t v4(const char* text) {
    in_addr raw{};
    EXPECT_EQ(inet_pton(AF_INET, text, &raw), 1) << text;
    return ntohl(raw.s_addr);
}

Address6 v6(const char* text) {
    unsigned char raw[16] = {};
    EXPECT_EQ(inet_pton(AF_INET6, text, raw), 1) << text;
    return Address6::fromBytes(raw);
}

// The shared table of probes, written from the registries' pages, not from
// the program's table: the first, a middle and the last address of blocks,
// the globally reachable rows inside them and the neighbours outside.
using test::SpecialAddress;

void expectAnswer(const SpecialBlock* block, const SpecialAddress& c) {
    if (!c.reason) {
        EXPECT_EQ(block, nullptr) << c.address << " is in " << block->network;
    } else {
        ASSERT_NE(block, nullptr) << c.address << ": " << c.block;
        EXPECT_EQ(block->reason, c.reason) << c.address << ": " << c.block;
    }
}

class Ipv4Addresses : public testing::TestWithParam<SpecialAddress> {};

TEST_P(Ipv4Addresses, getTheRegistrysAnswer) {
    expectAnswer(findSpecialBlock(v4(GetParam().address)), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Registry, Ipv4Addresses, testing::ValuesIn(test::kSpecialAddresses4));

class Ipv6Addresses : public testing::TestWithParam<SpecialAddress> {};

TEST_P(Ipv6Addresses, getTheRegistrysAnswer) {
    expectAnswer(findSpecialBlock(v6(GetParam().address)), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Registry, Ipv6Addresses, testing::ValuesIn(test::kSpecialAddresses6));

TEST(SpecialRanges, areSortedDisjointAndEachRowsOwn) {
    const auto& ranges = specialRanges4();
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_LE(ranges[i].first, ranges[i].last);
        EXPECT_NE(ranges[i].block->reachable, Reachable::Yes);
        if (i > 0) {
            EXPECT_LT(ranges[i - 1].last, ranges[i].first);
        }
    }
    const auto& ranges6 = specialRanges6();
    for (std::size_t i = 1; i < ranges6.size(); ++i)
        EXPECT_LT(ranges6[i - 1].last, ranges6[i].first);
}

// The cut against the plainest reference: each address kept exactly when it
// was in a range and is in no special block.
TEST(CutSpecialRanges, keepsExactlyTheAddressesOutsideEveryBlock) {
    struct Range {
        std::uint32_t first;
        std::uint32_t last;
        int tag;
    };
    // Ranges drawn around the blocks' own borders, where a cut goes wrong.
    std::mt19937 random(7);
    std::vector<std::uint32_t> borders;
    for (const auto& r : specialRanges4()) {
        for (std::uint32_t b : {r.first, r.last}) {
            for (int d = -2; d <= 2; ++d) borders.push_back(b + static_cast<std::uint32_t>(d));
        }
    }
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint32_t> cuts;
        for (int i = 0; i < 12; ++i) cuts.push_back(borders[random() % borders.size()]);
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        std::vector<Range> ranges;
        for (std::size_t i = 0; i + 1 < cuts.size(); i += 2) {
            ranges.push_back({cuts[i], cuts[i + 1], static_cast<int>(i)});
        }
        const auto kept = cutSpecialRanges(ranges);
        for (std::size_t i = 1; i < kept.size(); ++i) ASSERT_LT(kept[i - 1].last, kept[i].first);
        // Probe every range border and its neighbours.
        for (const Range& r : ranges) {
            for (std::uint32_t probe : {r.first, r.first + 1, r.last - 1, r.last}) {
                const bool special = findSpecialBlock(probe) != nullptr;
                const auto at = std::find_if(kept.begin(), kept.end(), [&](const Range& k) {
                    return k.first <= probe && probe <= k.last;
                });
                const bool inside = probe >= r.first && probe <= r.last;
                if (!inside) continue;
                EXPECT_EQ(at != kept.end(), !special) << probe;
                if (at != kept.end()) {
                    EXPECT_EQ(at->tag, r.tag);
                }
            }
        }
        for (const auto& r : specialRanges4()) {
            for (const Range& k : kept) {
                ASSERT_TRUE(k.last < r.first || k.first > r.last)
                    << k.first << "-" << k.last << " keeps part of " << r.block->network;
            }
        }
    }
}

}  // namespace
}  // namespace ipcountry::lookup
