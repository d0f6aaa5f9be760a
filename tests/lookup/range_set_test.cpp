#include "lookup/range_set.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/address_literals.h"
#include "support/temp_dir.h"

namespace ipcountry::lookup {
namespace {

using R4 = AddressRange<std::uint32_t>;
using R6 = AddressRange<Address6>;

using ipcountry::test::v4;
using ipcountry::test::v6;

template <class Address>
std::vector<std::string> cidrs(const RangeSet<Address>& set) {
    std::vector<std::string> out;
    for (const auto& block : set.cidrBlocks()) out.push_back(cidrText(block));
    return out;
}

TEST(ForEachCidr, cutsARangeIntoItsFewestBlocks) {
    struct Case {
        const char* first;
        const char* last;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"0.0.0.0", "255.255.255.255", {"0.0.0.0/0"}},
        {"0.0.0.0", "0.0.0.0", {"0.0.0.0/32"}},
        {"255.255.255.255", "255.255.255.255", {"255.255.255.255/32"}},
        {"255.255.255.254", "255.255.255.255", {"255.255.255.254/31"}},
        {"10.0.0.1", "10.0.0.6", {"10.0.0.1/32", "10.0.0.2/31", "10.0.0.4/31", "10.0.0.6/32"}},
        {"1.0.0.0", "1.0.1.255", {"1.0.0.0/23"}},
        {"0.0.0.1",
         "255.255.255.254",
         {"0.0.0.1/32",         "0.0.0.2/31",         "0.0.0.4/30",         "0.0.0.8/29",
          "0.0.0.16/28",        "0.0.0.32/27",        "0.0.0.64/26",        "0.0.0.128/25",
          "0.0.1.0/24",         "0.0.2.0/23",         "0.0.4.0/22",         "0.0.8.0/21",
          "0.0.16.0/20",        "0.0.32.0/19",        "0.0.64.0/18",        "0.0.128.0/17",
          "0.1.0.0/16",         "0.2.0.0/15",         "0.4.0.0/14",         "0.8.0.0/13",
          "0.16.0.0/12",        "0.32.0.0/11",        "0.64.0.0/10",        "0.128.0.0/9",
          "1.0.0.0/8",          "2.0.0.0/7",          "4.0.0.0/6",          "8.0.0.0/5",
          "16.0.0.0/4",         "32.0.0.0/3",         "64.0.0.0/2",         "128.0.0.0/2",
          "192.0.0.0/3",        "224.0.0.0/4",        "240.0.0.0/5",        "248.0.0.0/6",
          "252.0.0.0/7",        "254.0.0.0/8",        "255.0.0.0/9",        "255.128.0.0/10",
          "255.192.0.0/11",     "255.224.0.0/12",     "255.240.0.0/13",     "255.248.0.0/14",
          "255.252.0.0/15",     "255.254.0.0/16",     "255.255.0.0/17",     "255.255.128.0/18",
          "255.255.192.0/19",   "255.255.224.0/20",   "255.255.240.0/21",   "255.255.248.0/22",
          "255.255.252.0/23",   "255.255.254.0/24",   "255.255.255.0/25",   "255.255.255.128/26",
          "255.255.255.192/27", "255.255.255.224/28", "255.255.255.240/29", "255.255.255.248/30",
          "255.255.255.252/31", "255.255.255.254/32"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        forEachCidr(v4(c.first), v4(c.last),
                    [&](const CidrBlock<std::uint32_t>& b) { got.push_back(cidrText(b)); });
        EXPECT_EQ(got, c.blocks) << c.first << "-" << c.last;
    }
    const struct {
        const char* first;
        const char* last;
        std::vector<std::string> blocks;
    } cases6[] = {
        {"::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", {"::/0"}},
        {"::", "::", {"::/128"}},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
         {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/128"}},
        // Across the border of the two 64-bit halves.
        {"2001:db8::ffff:ffff:ffff:ffff",
         "2001:db8:0:1::",
         {"2001:db8::ffff:ffff:ffff:ffff/128", "2001:db8:0:1::/128"}},
        {"2a00::", "2a00:0:0:1:ffff:ffff:ffff:ffff", {"2a00::/63"}},
        {"8000::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", {"8000::/1"}},
    };
    for (const auto& c : cases6) {
        std::vector<std::string> got;
        forEachCidr(v6(c.first), v6(c.last),
                    [&](const CidrBlock<Address6>& b) { got.push_back(cidrText(b)); });
        EXPECT_EQ(got, c.blocks) << c.first << "-" << c.last;
    }
}

TEST(RangeSet, mergesOverlapsAndNeighboursOnce) {
    const struct {
        std::vector<R4> in;
        std::vector<R4> out;
    } cases[] = {
        {{}, {}},
        {{{5, 9}, {1, 3}}, {{1, 3}, {5, 9}}},
        {{{1, 3}, {4, 9}}, {{1, 9}}},  // touching
        {{{1, 9}, {2, 3}}, {{1, 9}}},  // nested
        {{{4, 9}, {1, 5}, {20, 20}, {10, 19}}, {{1, 20}}},
        {{{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}}, {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}}},  // no wrap
        {{{0, 0xFFFFFFFF}, {7, 7}}, {{0, 0xFFFFFFFF}}},
    };
    for (const auto& c : cases) EXPECT_EQ(RangeSet4(c.in).ranges(), c.out);
    const RangeSet6 whole({{Address6{}, Address6::max()}, {Address6{0, 5}, Address6{0, 6}}});
    ASSERT_EQ(whole.ranges().size(), 1u);
    EXPECT_EQ(cidrs(whole), std::vector<std::string>{"::/0"});
}

TEST(RangeSet, minusAndMembershipAtTheBorders) {
    const RangeSet4 set({{10, 20}, {30, 40}, {0xFFFFFFF0, 0xFFFFFFFF}});
    const RangeSet4 holes({{0, 10}, {15, 15}, {40, 50}, {0xFFFFFFFF, 0xFFFFFFFF}});
    const RangeSet4 left = set.minus(holes);
    EXPECT_EQ(left.ranges(),
              (std::vector<R4>{{11, 14}, {16, 20}, {30, 39}, {0xFFFFFFF0, 0xFFFFFFFE}}));
    for (std::uint32_t a : {0u, 9u, 10u, 11u, 14u, 15u, 16u, 20u, 21u, 29u, 30u, 39u, 40u, 41u,
                            0xFFFFFFEFu, 0xFFFFFFF0u, 0xFFFFFFFEu, 0xFFFFFFFFu})
        EXPECT_EQ(left.contains(a), set.contains(a) && !holes.contains(a)) << a;
    EXPECT_TRUE(RangeSet4().minus(holes).empty());
    EXPECT_EQ(set.minus(RangeSet4()).ranges(), set.ranges());
}

// Ranges drawn so that their ends fall on and beside block borders, where a
// split goes wrong, and so that many overlap or touch.
template <class Address>
std::vector<AddressRange<Address>> randomRanges(std::mt19937_64& random, int count);

template <>
std::vector<R4> randomRanges(std::mt19937_64& random, int count) {
    std::vector<R4> out;
    for (int i = 0; i < count; ++i) {
        const int bits = static_cast<int>(random() % 33);
        std::uint32_t first = static_cast<std::uint32_t>(random());
        if (bits < 32) first &= ~((std::uint32_t{1} << bits) - 1);
        first += static_cast<std::uint32_t>(random() % 3) - 1;
        std::uint32_t span = static_cast<std::uint32_t>(random() >> (random() % 64));
        if (random() % 4 == 0) span %= 300;
        const std::uint32_t last = first + span < first ? 0xFFFFFFFF : first + span;
        out.push_back({first, last});
    }
    return out;
}

template <>
std::vector<R6> randomRanges(std::mt19937_64& random, int count) {
    std::vector<R6> out;
    for (int i = 0; i < count; ++i) {
        // Real IPv6 data lives under 2000::/3 in blocks of /19 to /64.
        Address6 first{(random() & 0x1FFF'FFFF'FFFF'0000) | 0x2000'0000'0000'0000, 0};
        Address6 last = first;
        switch (random() % 4) {
            case 0:
                last.high |= (std::uint64_t{1} << (random() % 45)) - 1;
                last.low = ~std::uint64_t{0};
                break;
            case 1:
                first.low = random() % 5;
                last.low = random();
                break;
            case 2:
                last.high += random() % 100'000;
                last.low = random() % 2 ? ~std::uint64_t{0} : random();
                break;
            default:
                first.low = ~std::uint64_t{0} - random() % 3;
                last.high += 1;
                last.low = random() % 3;
        }
        out.push_back({first, last});
    }
    return out;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// The blocks of a reference, each read back with inet_pton, as ours.
template <class Address>
std::vector<std::string> normalised(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        const std::size_t slash = line.find('/');
        const std::string address = line.substr(0, slash);
        const int bits =
            slash == std::string::npos ? kAddressBits<Address> : std::stoi(line.substr(slash + 1));
        if constexpr (std::is_same_v<Address, Address6>)
            out.push_back(cidrText(CidrBlock<Address6>{v6(address.c_str()), bits}));
        else
            out.push_back(cidrText(CidrBlock<std::uint32_t>{v4(address.c_str()), bits}));
    }
    return out;
}

// Against firehol's iprange, which merges ranges and cuts them into the
// fewest blocks: the same blocks, in the same order.
TEST(RangeSet, blocksEqualIprangesOnRandomRanges) {
    if (std::system("command -v iprange >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "iprange is not installed (Debian package iprange)";
    test::TempDir dir("range-set");
    std::mt19937_64 random(32);
    for (int round = 0; round < 20; ++round) {
        const auto ranges = randomRanges<std::uint32_t>(random, 1 + round * 50);
        std::string input;
        for (const R4& r : ranges) input += addressText(r.first) + "-" + addressText(r.last) + "\n";
        const std::string file = dir.write("ranges.txt", input);
        const auto expected = normalised<std::uint32_t>(linesOf(run("iprange " + file)));
        ASSERT_EQ(cidrs(RangeSet4(ranges)), expected) << "round " << round;
    }
}

// IPv6 against Python's ipaddress: summarize_address_range over each range,
// then collapse_addresses over them all.
TEST(RangeSet, blocksEqualPythonsCollapseOnRandomIpv6Ranges) {
    if (std::system("/usr/bin/python3 -c 'import ipaddress' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 is not installed";
    test::TempDir dir("range-set6");
    const std::string script = dir.write("collapse.py", R"(import ipaddress, sys
nets = []
for line in open(sys.argv[1]):
    a, b = line.split()
    nets += ipaddress.summarize_address_range(ipaddress.IPv6Address(a), ipaddress.IPv6Address(b))
for n in ipaddress.collapse_addresses(nets):
    print(n)
)");
    std::mt19937_64 random(6);
    for (int round = 0; round < 6; ++round) {
        const auto ranges = randomRanges<Address6>(random, 1 + round * 30);
        std::string input;
        for (const R6& r : ranges) input += addressText(r.first) + " " + addressText(r.last) + "\n";
        const std::string file = dir.write("ranges6.txt", input);
        const auto expected =
            normalised<Address6>(linesOf(run("/usr/bin/python3 " + script + " " + file)));
        ASSERT_EQ(cidrs(RangeSet6(ranges)), expected) << "round " << round;
    }
}

// The hand-written address text against libc's inet_ntop, the form every
// tool reads: zero runs of each length at each place (ties, runs at either
// end, the IPv4 forms and the near misses of them), then random addresses
// with zero groups mixed in. Blocks carry every prefix length.
TEST(AddressText, equalsInetNtop) {
    const auto ntop4 = [](std::uint32_t a) {
        in_addr in{htonl(a)};
        char text[INET_ADDRSTRLEN] = {};
        return std::string(::inet_ntop(AF_INET, &in, text, sizeof text));
    };
    const auto ntop6 = [](Address6 a) {
        unsigned char bytes[16];
        a.toBytes(bytes);
        char text[INET6_ADDRSTRLEN] = {};
        return std::string(::inet_ntop(AF_INET6, bytes, text, sizeof text));
    };
    const auto fromGroups = [](const unsigned(&g)[8]) {
        Address6 a;
        for (int i = 0; i < 4; ++i) {
            a.high = (a.high << 16) | g[i];
            a.low = (a.low << 16) | g[4 + i];
        }
        return a;
    };
    std::vector<Address6> cases;
    // Every pattern of zero and non-zero groups, with non-zero groups of
    // each width, and the ffff of the mapped form at group 5.
    for (unsigned pattern = 0; pattern < 256; ++pattern) {
        for (const unsigned value : {0x1u, 0xabu, 0xc0du, 0xffffu}) {
            unsigned g[8];
            for (int i = 0; i < 8; ++i) g[i] = (pattern >> i) & 1 ? value : 0;
            cases.push_back(fromGroups(g));
            g[5] = 0xffff;
            cases.push_back(fromGroups(g));
        }
    }
    std::mt19937_64 random(5952);
    for (int i = 0; i < 20000; ++i) {
        unsigned g[8];
        const std::uint64_t zeros = random();
        for (int k = 0; k < 8; ++k)
            g[k] =
                (zeros >> k) & 1 ? 0 : static_cast<unsigned>(random() >> (random() % 64)) & 0xFFFF;
        cases.push_back(fromGroups(g));
    }
    for (const Address6 a : cases) {
        ASSERT_EQ(addressText(a), ntop6(a)) << std::hex << a.high << " " << a.low;
        const int bits = static_cast<int>(a.low % 129);
        ASSERT_EQ(cidrText(CidrBlock<Address6>{a, bits}), ntop6(a) + "/" + std::to_string(bits));
    }
    std::vector<std::uint32_t> cases4{0,   1,          9,          10,         99,        100,
                                      255, 0x0A0B0C0D, 0x64646464, 0xC0A80001, 0xFFFFFFFF};
    for (int i = 0; i < 20000; ++i)
        cases4.push_back(static_cast<std::uint32_t>(random() >> (random() % 33)));
    for (const std::uint32_t a : cases4) {
        ASSERT_EQ(addressText(a), ntop4(a));
        const int bits = static_cast<int>(a % 33);
        ASSERT_EQ(cidrText(CidrBlock<std::uint32_t>{a, bits}),
                  ntop4(a) + "/" + std::to_string(bits));
    }
}

}  // namespace
}  // namespace ipcountry::lookup
