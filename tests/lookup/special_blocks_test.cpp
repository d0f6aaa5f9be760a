#include "lookup/special_blocks.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

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

// Written from the registries' pages, not from the table: the first, a middle
// and the last address of blocks, and the globally reachable rows inside them.
struct Case {
    const char* address;
    const char* reason;  // nullptr: the source's country stands
};
using Case4 = Case;
using Case6 = Case;

void expectAnswer(const SpecialBlock* block, const Case& c) {
    if (!c.reason) {
        EXPECT_EQ(block, nullptr) << c.address << " is in " << block->network;
    } else {
        ASSERT_NE(block, nullptr) << c.address;
        EXPECT_EQ(block->reason, c.reason) << c.address;
    }
}

class Ipv4Addresses : public testing::TestWithParam<Case> {};

TEST_P(Ipv4Addresses, getTheRegistrysAnswer) {
    expectAnswer(findSpecialBlock(v4(GetParam().address)), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Registry, Ipv4Addresses,
    testing::Values(Case4{"0.0.0.0", "reserved"}, Case4{"0.255.255.255", "reserved"},
                    Case4{"1.0.0.0", nullptr}, Case4{"9.255.255.255", nullptr},
                    Case4{"10.0.0.0", "private"}, Case4{"10.128.7.1", "private"},
                    Case4{"10.255.255.255", "private"}, Case4{"11.0.0.0", nullptr},
                    Case4{"100.63.255.255", nullptr}, Case4{"100.64.0.0", "shared"},
                    Case4{"100.100.1.1", "shared"}, Case4{"100.127.255.255", "shared"},
                    Case4{"100.128.0.0", nullptr}, Case4{"127.0.0.1", "loopback"},
                    Case4{"127.255.255.255", "loopback"}, Case4{"169.254.0.0", "link-local"},
                    Case4{"169.254.255.255", "link-local"}, Case4{"172.15.255.255", nullptr},
                    Case4{"172.16.0.0", "private"}, Case4{"172.24.3.3", "private"},
                    Case4{"172.31.255.255", "private"}, Case4{"172.32.0.0", nullptr},
                    Case4{"192.0.0.0", "reserved"}, Case4{"192.0.0.8", "reserved"},
                    Case4{"192.0.0.9", nullptr}, Case4{"192.0.0.10", nullptr},
                    Case4{"192.0.0.11", "reserved"}, Case4{"192.0.0.255", "reserved"},
                    Case4{"192.0.1.0", nullptr}, Case4{"192.0.2.0", "documentation"},
                    Case4{"192.0.2.255", "documentation"}, Case4{"192.31.196.1", nullptr},
                    Case4{"192.88.99.1", nullptr}, Case4{"192.168.0.0", "private"},
                    Case4{"192.168.1.1", "private"}, Case4{"192.168.255.255", "private"},
                    Case4{"192.169.0.0", nullptr}, Case4{"198.17.255.255", nullptr},
                    Case4{"198.18.0.0", "reserved"}, Case4{"198.19.255.255", "reserved"},
                    Case4{"198.20.0.0", nullptr}, Case4{"198.51.100.7", "documentation"},
                    Case4{"203.0.113.255", "documentation"}, Case4{"203.0.114.0", nullptr},
                    Case4{"223.255.255.255", nullptr}, Case4{"224.0.0.0", "multicast"},
                    Case4{"239.255.255.255", "multicast"}, Case4{"240.0.0.0", "reserved"},
                    Case4{"255.255.255.254", "reserved"}, Case4{"255.255.255.255", "reserved"}));

class Ipv6Addresses : public testing::TestWithParam<Case> {};

TEST_P(Ipv6Addresses, getTheRegistrysAnswer) {
    expectAnswer(findSpecialBlock(v6(GetParam().address)), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Registry, Ipv6Addresses,
    testing::Values(
        Case6{"::", "reserved"}, Case6{"::1", "loopback"}, Case6{"::2", nullptr},
        Case6{"64:ff9b::1", nullptr}, Case6{"64:ff9b:1::", "reserved"},
        Case6{"64:ff9b:1:ffff:ffff:ffff:ffff:ffff", "reserved"}, Case6{"100::", "reserved"},
        Case6{"100::ffff:ffff:ffff:ffff", "reserved"}, Case6{"100:0:0:2::", nullptr},
        Case6{"2001::", "reserved"}, Case6{"2001:0:4136:e378::1", "reserved"},
        Case6{"2001:1::1", nullptr}, Case6{"2001:1::3", nullptr}, Case6{"2001:1::4", "reserved"},
        Case6{"2001:2::5", "reserved"}, Case6{"2001:3::1", nullptr},
        Case6{"2001:10::1", "reserved"}, Case6{"2001:20::1", nullptr},
        Case6{"2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", "reserved"}, Case6{"2001:200::", nullptr},
        Case6{"2001:db7:ffff::", nullptr}, Case6{"2001:db8::", "documentation"},
        Case6{"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "documentation"},
        Case6{"2001:db9::", nullptr}, Case6{"2002::1", nullptr}, Case6{"2a00:1450::1", nullptr},
        Case6{"3fff::", "documentation"}, Case6{"3fff:fff:ffff::1", "documentation"},
        Case6{"3fff:1000::", nullptr}, Case6{"5f00::1", "reserved"}, Case6{"fc00::", "private"},
        Case6{"fd12:3456::1", "private"},
        Case6{"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "private"}, Case6{"fe80::1", "link-local"},
        Case6{"febf::1", "link-local"}, Case6{"fec0::1", nullptr}, Case6{"ff02::1", "multicast"},
        Case6{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "multicast"}));

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
