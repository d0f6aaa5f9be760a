// Which addresses give rows: --first against the client each line was
// written with, --only and --exclude against a check of every address
// against every network, and --all's rows in each format merged by stats.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-rows-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    return dir;
}

std::string write(const std::string& name, const std::string& text) {
    const fs::path path = scratch() / name;
    std::ofstream(path, std::ios::binary) << text;
    return "'" + path.string() + "'";
}

std::string rowsOf(const std::string& arguments) {
    const SplitDriverResult result = runDriverSplit(arguments);
    EXPECT_EQ(result.status, 0) << arguments << "\n" << result.err;
    return result.out;
}

std::string randomIpv4(std::mt19937& random) {
    return std::to_string(1 + random() % 223) + "." + std::to_string(random() % 256) + "." +
           std::to_string(random() % 256) + "." + std::to_string(random() % 256);
}

std::string randomIpv6(std::mt19937& random) {
    std::ostringstream text;
    text << std::hex << 0x2000 + random() % 0x1000 << ':' << random() % 0x10000
         << "::" << random() % 0x10000;
    return text.str();
}

// A client as a log writes it, and the same as a line of its own (its port too).
struct Client {
    std::string inLog;
    std::string alone;
};

Client randomClient(std::mt19937& random, bool withPort) {
    const bool ipv6 = random() % 4 == 0;
    const std::string address = ipv6 ? randomIpv6(random) : randomIpv4(random);
    if (!withPort) return {address, address};
    const std::string port = std::to_string(1 + random() % 65535);
    const std::string text = (ipv6 ? "[" + address + "]" : address) + ":" + port;
    return {text, text};
}

// Lines of the kinds admins keep, the client first and other addresses
// (servers, proxies, version strings) after it.
std::string logLine(std::mt19937& random, const Client& client) {
    const std::string other = randomIpv4(random);
    switch (random() % 5) {
        case 0:  // web
            return client.inLog + " - - [08/Dec/2026:10:00:01 +0000] \"GET /a HTTP/1.1\" 200 512 " +
                   "\"-\" \"Mozilla/5.0 Firefox/2.0.0." + std::to_string(random() % 10) + "\"";
        case 1:  // auth
            return "Dec  8 10:00:01 host sshd[" + std::to_string(random() % 9999) +
                   "]: Failed password for root from " + client.inLog + " port 22 ssh2 via " +
                   other;
        case 2:  // mail
            return "Dec  8 10:00:01 mx postfix/smtpd[77]: connect from unknown[" + client.inLog +
                   "] to " + other + " and " + randomIpv6(random);
        case 3:  // firewall
            return "Dec  8 10:00:01 fw kernel: [UFW BLOCK] IN=eth0 OUT= "
                   "MAC=52:54:00:12:34:56:52:54:00:65:43:21:08:00 SRC=" +
                   client.inLog + " DST=" + other + " LEN=60 PROTO=TCP SPT=51234 DPT=22";
        default:  // forwarded: the proxy's client, then the proxy
            return client.inLog + " " + other + " " + randomIpv6(random) + " x";
    }
}

// The rows of --first are the rows of the clients alone, as `cut -d' ' -f1`
// would give them, on one thread and on two, with and without --all.
TEST(DriverFirst, takesTheFirstAddressOfEachLineOnly) {
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3; ++trial) {
        std::string log;
        std::string clients;
        for (int i = 0; i < 1500; ++i) {
            if (random() % 10 == 0) {
                log += "Dec  8 10:00:01 host cron[1]: session opened for user root\n";
                continue;
            }
            // Private, shared and documentation clients too, for --all.
            Client client = randomClient(random, random() % 3 == 0);
            if (random() % 12 == 0) client = {"10.0.0." + std::to_string(random() % 256), ""};
            if (random() % 15 == 0) client = {"2001:db8::" + std::to_string(random() % 99), ""};
            if (client.alone.empty()) client.alone = client.inLog;
            log += logLine(random, client) + (random() % 2 ? "\r\n" : "\n");
            clients += client.alone + "\n";
        }
        const std::string logFile = write("first.log", log);
        const std::string clientFile = write("clients.txt", clients);
        for (const std::string all : {"", "--all "}) {
            const std::string expected = rowsOf(all + "unformatted " + clientFile);
            for (const std::string threads : {"1", "2"})
                EXPECT_EQ(rowsOf(all + "--first --threads " + threads + " unformatted " + logFile),
                          expected)
                    << "trial " << trial << " " << all << "threads " << threads;
        }
    }
}

// One network as the reference reads it, apart from the program's reading.
struct Net {
    bool ipv6 = false;
    unsigned char first[16] = {};
    unsigned char last[16] = {};
};

bool bytesInside(const unsigned char* a, const Net& net, std::size_t size) {
    return std::memcmp(net.first, a, size) <= 0 && std::memcmp(a, net.last, size) <= 0;
}

// A CIDR network as text, and its ends computed bit by bit.
std::string randomNetwork(std::mt19937& random, Net& net) {
    net.ipv6 = random() % 3 == 0;
    const std::size_t size = net.ipv6 ? 16 : 4;
    const unsigned bits = net.ipv6 ? 16 + random() % 113 : 8 + random() % 25;
    unsigned char address[16] = {};
    for (std::size_t i = 0; i < size; ++i) address[i] = static_cast<unsigned char>(random());
    if (net.ipv6) address[0] = static_cast<unsigned char>(0x20 + random() % 2);
    if (!net.ipv6) address[0] = static_cast<unsigned char>(1 + random() % 5);
    for (std::size_t bit = 0; bit < size * 8; ++bit) {
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (bit % 8));
        const bool host = bit >= bits;
        net.first[bit / 8] |= host ? 0 : (address[bit / 8] & mask);
        net.last[bit / 8] |= host ? mask : (address[bit / 8] & mask);
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(net.ipv6 ? AF_INET6 : AF_INET, address, text, sizeof text);
    // Host bits are left set now and then: the network is still the prefix's.
    return std::string(text) + "/" + std::to_string(bits);
}

// --only and --exclude from files (with comments and blank lines) and from
// the command line, against a check of every address against every network.
TEST(DriverFilters, keepTheRowsAWalkOverEveryNetworkKeeps) {
    std::mt19937 random(424242);
    std::vector<Net> onlyNets(40);
    std::vector<Net> excludeNets(30);
    std::string onlyList = "# networks to keep\n\n";
    for (Net& net : onlyNets) onlyList += randomNetwork(random, net) + "   # one\n";
    std::string excludeList;
    for (Net& net : excludeNets) excludeList += randomNetwork(random, net) + "\r\n";
    Net extra;
    const std::string extraExclude = randomNetwork(random, extra);
    excludeNets.push_back(extra);

    // Addresses inside the networks and near them, of both families, as a list.
    std::vector<std::vector<unsigned char>> addresses;
    std::vector<bool> ipv6;
    std::string list;
    for (int i = 0; i < 3000; ++i) {
        const Net& near = (random() % 2 ? onlyNets : excludeNets)[random() % 30];
        const std::size_t size = near.ipv6 ? 16 : 4;
        std::vector<unsigned char> a(near.first, near.first + size);
        for (std::size_t k = size - 1 - random() % 3; k < size; ++k)
            a[k] = static_cast<unsigned char>(near.first[k] + random() % 700);
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(near.ipv6 ? AF_INET6 : AF_INET, a.data(), text, sizeof text);
        list += near.ipv6 ? "[" + std::string(text) + "]:1\n" : std::string(text) + ":1\n";
        addresses.push_back(a);
        ipv6.push_back(near.ipv6);
    }
    const std::string listFile = write("addresses.txt", list);
    const std::string onlyFile = write("only.txt", onlyList);
    const std::string excludeFile = write("exclude.txt", excludeList);

    // With --all every address has a row, so row i is address i.
    std::vector<std::string> rows;
    {
        std::istringstream all(rowsOf("--all formatted " + listFile));
        for (std::string row; std::getline(all, row);) rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), addresses.size());
    const auto inAny = [&](std::size_t i, const std::vector<Net>& nets) {
        for (const Net& net : nets)
            if (net.ipv6 == ipv6[i] && bytesInside(addresses[i].data(), net, ipv6[i] ? 16 : 4))
                return true;
        return false;
    };
    const struct {
        std::string options;
        bool only;
        bool exclude;
    } runs[] = {
        {"--only @" + onlyFile, true, false},
        {"--exclude @" + excludeFile + " --exclude " + extraExclude, false, true},
        {"--only @" + onlyFile + " --exclude @" + excludeFile + " --exclude=" + extraExclude, true,
         true}};
    for (const auto& run : runs) {
        std::string expected;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if ((!run.only || inAny(i, onlyNets)) && (!run.exclude || !inAny(i, excludeNets)))
                expected += rows[i] + "\n";
        for (const std::string threads : {"1", "2"})
            EXPECT_EQ(
                rowsOf("--all --threads " + threads + " " + run.options + " formatted " + listFile),
                expected)
                << run.options;
    }
}

// --all: rows without a country in every format, and stats merging their
// reasons. The test ranges give no special block a country.
TEST(DriverAll, reasonRowsMergeInEveryFormat) {
    const std::string data = "--data-dir '" + std::string(IPCOUNTRY_TEST_DATA_DIR) + "/lookup' ";
    const std::string log = write("all.log",
                                  "from 10.1.2.3 and 127.0.0.1\n"
                                  "[fe80::1%eth0]:22 then 100.64.0.1 and 192.0.2.1:80\n"
                                  "239.255.255.250 and 240.0.0.1, [3fff::1]:443 8.8.8.8\n"
                                  "1.0.0.1\n");
    const std::string expected =
        "\nAnalysis took S\nTotal number of IPs is 10 (10 distinct)\nGermany\tDE\t1\t10.0%\t1\n"
        "private\t\t1\t10.0%\nloopback\t\t1\t10.0%\nlink-local\t\t1\t10.0%\n"
        "shared\t\t1\t10.0%\ndocumentation\t\t2\t20.0%\nmulticast\t\t1\t10.0%\n"
        "reserved\t\t1\t10.0%\nunknown\t\t1\t10.0%\n";
    std::string parts;
    for (const std::string format : {"tsv", "csv", "json"}) {
        const std::string printed =
            rowsOf(data + "--all --stats --format " + format + " unformatted " + log);
        const std::string file = write("all." + format, printed);
        parts += " " + file;
        const std::string merged = rowsOf(data + "stats " + file);
        EXPECT_EQ(merged.substr(0, merged.find("took ") + 5) + "S" +
                      merged.substr(merged.find("\nTotal")),
                  expected)
            << printed;
    }
    // Three files of the same rows: every count three times, the addresses the same.
    const std::string merged = rowsOf(data + "stats" + parts);
    EXPECT_NE(merged.find("Total number of IPs is 30 (10 distinct)\nGermany\tDE\t3\t10.0%\t1\n"
                          "private\t\t3\t10.0%\n"),
              std::string::npos)
        << merged;
    // Without --all the same log gives only its one row with a country.
    EXPECT_EQ(rowsOf(data + "unformatted " + log), "1.0.0.1\t\tGermany\n");
}

}  // namespace
