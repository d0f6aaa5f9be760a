// The networks of --only and --exclude: how each is read, and the sorted
// merged ranges held to a reference that checks every network in turn.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lookup/error.h"
#include "lookup/network_set.h"
#include "support/address_literals.h"
#include "support/deadline.h"
#include "support/temp_dir.h"

namespace {

using ipcountry::lookup::Address6;
using ipcountry::lookup::Network;
using ipcountry::lookup::NetworkSet;
using ipcountry::lookup::parseNetwork;

using ipcountry::test::v4;
using ipcountry::test::v6;

struct NetworkCase {
    const char* text;
    const char* first;  // null: not a network
    const char* last;
};

class NetworkTextTest : public ::testing::TestWithParam<NetworkCase> {};

TEST_P(NetworkTextTest, readsAsGrepcidrDoes) {
    const NetworkCase& c = GetParam();
    std::string why;
    const auto network = parseNetwork(c.text, why);
    if (c.first == nullptr) {
        EXPECT_FALSE(network) << c.text;
        EXPECT_FALSE(why.empty()) << c.text;
        return;
    }
    ASSERT_TRUE(network) << c.text << ": " << why;
    const bool ipv6 = std::string(c.first).find(':') != std::string::npos;
    ASSERT_EQ(network->ipv6, ipv6) << c.text;
    if (ipv6) {
        EXPECT_EQ(network->first6, v6(c.first)) << c.text;
        EXPECT_EQ(network->last6, v6(c.last)) << c.text;
    } else {
        EXPECT_EQ(network->first4, v4(c.first)) << c.text;
        EXPECT_EQ(network->last4, v4(c.last)) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NetworkTextTest,
    ::testing::Values(
        NetworkCase{"10.0.0.0/8", "10.0.0.0", "10.255.255.255"},
        NetworkCase{"192.168.1.7/24", "192.168.1.0", "192.168.1.255"},  // host bits ignored
        NetworkCase{"1.2.3.4", "1.2.3.4", "1.2.3.4"},
        NetworkCase{"0.0.0.0/0", "0.0.0.0", "255.255.255.255"},
        NetworkCase{"255.255.255.255/32", "255.255.255.255", "255.255.255.255"},
        NetworkCase{"1.2.3.4/31", "1.2.3.4", "1.2.3.5"},
        NetworkCase{"1.2.3.4-1.2.4.0", "1.2.3.4", "1.2.4.0"},
        NetworkCase{"1.0.0.1-1.0.0.1", "1.0.0.1", "1.0.0.1"},  // a range of one address
        NetworkCase{"2001:db8::/32", "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
        NetworkCase{"2001:db8::1/64", "2001:db8::", "2001:db8::ffff:ffff:ffff:ffff"},
        NetworkCase{"2001:db8::1/65", "2001:db8::", "2001:db8::7fff:ffff:ffff:ffff"},
        NetworkCase{"2001:db8::1/63", "2001:db8::", "2001:db8:0:1:ffff:ffff:ffff:ffff"},
        NetworkCase{"::/0", "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        NetworkCase{"::1", "::1", "::1"},
        NetworkCase{"::ffff:1.2.3.4/128", "::ffff:1.2.3.4", "::ffff:1.2.3.4"},
        NetworkCase{"fe80::1-fe80::9", "fe80::1", "fe80::9"},
        NetworkCase{"1.2.3.4/33", nullptr, nullptr}, NetworkCase{"1.2.3.4/", nullptr, nullptr},
        NetworkCase{"1.2.3.4/-1", nullptr, nullptr}, NetworkCase{"1.2.3.4/8x", nullptr, nullptr},
        NetworkCase{"2001:db8::/129", nullptr, nullptr}, NetworkCase{"1.2.3", nullptr, nullptr},
        NetworkCase{"256.1.1.1", nullptr, nullptr},
        // Leading zeros read as find reads them: decimal.
        NetworkCase{"01.2.3.4", "1.2.3.4", "1.2.3.4"},
        NetworkCase{"010.0.0.0/8", "10.0.0.0", "10.255.255.255"},
        NetworkCase{"1.2.3.9-1.2.3.4", nullptr, nullptr},  // the end before the start
        NetworkCase{"1.2.3.4-::1", nullptr, nullptr}, NetworkCase{"", nullptr, nullptr},
        NetworkCase{"[2001:db8::1]", nullptr, nullptr},
        NetworkCase{"example.org", nullptr, nullptr}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct Ranges4 {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    bool holds(std::uint32_t a) const {
        for (const auto& [first, last] : ranges)
            if (first <= a && a <= last) return true;
        return false;
    }
};

// Random networks of every size, touching and overlapping and at both ends of
// the space, against a walk over every one of them.
TEST(NetworkSet, answersAsAWalkOverEveryNetwork) {
    std::mt19937 random(2026);
    for (int trial = 0; trial < 40; ++trial) {
        NetworkSet set;
        Ranges4 reference;
        std::vector<std::pair<Address6, Address6>> reference6;
        const int count = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) {
            Network n;
            if (random() % 3 == 0) {
                n.ipv6 = true;
                n.first6 = {random() % 4, random() % 8 == 0 ? ~std::uint64_t{0} : random() % 64};
                n.last6 = n.first6;
                n.last6.low += random() % 16;
                if (n.last6.low < n.first6.low) n.last6 = Address6::max();
                reference6.emplace_back(n.first6, n.last6);
            } else {
                const std::uint32_t base =
                    random() % 5 == 0 ? ~std::uint32_t{0} - random() % 40 : random() % 400;
                n.first4 = base;
                n.last4 = base + random() % 20;
                if (n.last4 < n.first4) n.last4 = ~std::uint32_t{0};
                reference.ranges.emplace_back(n.first4, n.last4);
            }
            set.add(n);
        }
        set.seal();
        for (std::uint32_t a = 0; a < 460; ++a) ASSERT_EQ(set.contains(a), reference.holds(a)) << a;
        for (std::uint32_t back = 0; back < 60; ++back) {
            const std::uint32_t a = ~std::uint32_t{0} - back;
            ASSERT_EQ(set.contains(a), reference.holds(a)) << a;
        }
        for (std::uint64_t high = 0; high < 5; ++high)
            for (const std::uint64_t low :
                 {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{63}, std::uint64_t{79},
                  ~std::uint64_t{0} - 1, ~std::uint64_t{0}}) {
                const Address6 a{high, low};
                bool expected = false;
                for (const auto& [first, last] : reference6) expected |= first <= a && a <= last;
                ASSERT_EQ(set.contains(a), expected) << high << ":" << low;
            }
    }
}

TEST(NetworkSet, emptyHoldsNothing) {
    NetworkSet set;
    set.seal();
    EXPECT_TRUE(set.empty());
    EXPECT_FALSE(set.contains(std::uint32_t{0}));
    EXPECT_FALSE(set.contains(Address6::max()));
}

// IPv4 addresses are read as IPv4 even when written ::ffff:a.b.c.d, so an
// IPv6 network over ::ffff:0:0/96 holds them as well.
TEST(NetworkSet, anIpv6NetworkOverMappedAddressesHoldsTheirIpv4Addresses) {
    const struct {
        const char* network;
        const char* inside;   // an IPv4 address it holds, or null
        const char* outside;  // an IPv4 address it does not hold, or null
    } cases[] = {
        {"::ffff:8.8.8.8", "8.8.8.8", "8.8.8.9"},
        {"::ffff:8.8.8.0/120", "8.8.8.77", "8.8.9.1"},
        {"::ffff:1.0.0.0-::ffff:1.0.0.9", "1.0.0.9", "1.0.0.10"},
        {"::/0", "1.2.3.4", nullptr},
        {"::ffff:0:0/95", "255.255.255.255", nullptr},
        {"2001:db8::/32", nullptr, "32.1.13.184"},
        {"::/96", nullptr, "0.0.0.1"},  // IPv4-compatible, not mapped
    };
    for (const auto& c : cases) {
        std::string why;
        const auto network = parseNetwork(c.network, why);
        ASSERT_TRUE(network) << c.network << ": " << why;
        NetworkSet set;
        set.add(*network);
        set.seal();
        if (c.inside != nullptr) {
            EXPECT_TRUE(set.contains(v4(c.inside))) << c.network;
        }
        if (c.outside != nullptr) {
            EXPECT_FALSE(set.contains(v4(c.outside))) << c.network;
        }
    }
}

struct ListCase {
    std::string_view content;
    const char* error;  // null: read; else what the message holds
};

class NetworkListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(NetworkListTest, namesTheFileAndLineOfABadNetwork) {
    NetworkSet set;
    try {
        ipcountry::lookup::readNetworkList(GetParam().content, "nets.txt", set);
        EXPECT_EQ(GetParam().error, nullptr);
    } catch (const ipcountry::lookup::Error& error) {
        ASSERT_NE(GetParam().error, nullptr) << error.what();
        EXPECT_NE(std::string(error.what()).find(GetParam().error), std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, NetworkListTest,
    ::testing::Values(ListCase{"# mine\n10.0.0.0/8\n\n  192.168.0.0/16  # home\r\n", nullptr},
                      ListCase{"1.2.3.4, 5.6.7.8\t2001:db8::/32\n", nullptr}, ListCase{"", nullptr},
                      ListCase{"10.0.0.0/8\nnot-a-net\n", "nets.txt:2: "},
                      ListCase{"\n\n\n1.2.3.4/40", "nets.txt:4: '1.2.3.4/40'"},
                      ListCase{"1.2.3.4\r\n\r\nx", "nets.txt:3: "},
                      ListCase{std::string_view("1.2.\0.4\n", 8), "nets.txt:1: '1.2.\\0.4': "},
                      ListCase{"\xEF\xBB\xBF"
                               "10.0.0.0/8\n",
                               nullptr}),
    [](const auto& info) { return "list" + std::to_string(info.index); });

// A list read from a FIFO whose writer opens it only later is read whole, as
// `cat` reads it, not taken for an empty list.
TEST(NetworkListFile, fromAFifoWhoseWriterComesLateIsReadWhole) {
    const ipcountry::test::TempDir dir("ipcountry-nets");
    const std::string fifo = (dir.path() / "nets").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const ipcountry::test_support::Deadline deadline("reading a list from a FIFO");
    std::thread writer([&fifo] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::ofstream(fifo) << "10.0.0.0/8\n192.168.0.0/16\n";
    });
    NetworkSet set;
    ipcountry::lookup::readNetworkFile(fifo, set);
    writer.join();
    set.seal();
    EXPECT_TRUE(set.contains(0xC0A80001u));
    EXPECT_TRUE(set.contains(0x0A000001u));
}

}  // namespace
