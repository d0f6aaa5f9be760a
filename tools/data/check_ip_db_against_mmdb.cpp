// check_ip_db_against_mmdb [--ipv6] RANGE_FILE.dbf COUNTRY.mmdb
// Looks up every range boundary of the range file (each line's start and the
// address before it) and every range's middle address in the published lookup
// database and reports where the two disagree. A ZZ range must be absent from
// the database. Not part of the build: scripts/check-data-against-mmdb
// compiles it against libmaxminddb.
//
// With --ipv6 the file is IP6_db.dbf. A database whose IPv6 tree also carries
// the IPv4 space (under ::/96, and aliased under ::ffff:0:0/96) answers there
// with IPv4 countries, which IP_db.dbf holds, not IP6_db.dbf; addresses in
// those two blocks are counted apart and not compared.
//
// The special-purpose address blocks (lookup/special_blocks.h) are ZZ in the
// range files whatever the database says: where the file says ZZ inside one,
// the address is counted apart and not compared.
#include <arpa/inet.h>
#include <maxminddb.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/special_blocks.h"

namespace {

using Number = unsigned __int128;  // wide enough for either family

struct Line {
    Number start;
    std::string code;
};

bool g_ipv6 = false;

std::string text(Number a) {
    char buffer[INET6_ADDRSTRLEN];
    if (g_ipv6) {
        unsigned char bytes[16];
        for (int i = 15; i >= 0; --i, a >>= 8) bytes[i] = static_cast<unsigned char>(a);
        inet_ntop(AF_INET6, bytes, buffer, sizeof buffer);
    } else {
        const std::uint32_t n = htonl(static_cast<std::uint32_t>(a));
        inet_ntop(AF_INET, &n, buffer, sizeof buffer);
    }
    return buffer;
}

// ::/96 and ::ffff:0:0/96: where an IPv6 tree keeps the IPv4 space.
bool inIpv4Space(Number a) {
    const Number top96 = a >> 32;
    return top96 == 0 || top96 == 0xFFFF;
}

bool isSpecial(Number a) {
    if (!g_ipv6)
        return ipcountry::lookup::findSpecialBlock(static_cast<std::uint32_t>(a)) != nullptr;
    return ipcountry::lookup::findSpecialBlock(ipcountry::lookup::Address6{
               static_cast<std::uint64_t>(a >> 64), static_cast<std::uint64_t>(a)}) != nullptr;
}

// The database's country code for the address, or ZZ when it holds none.
std::string lookup(MMDB_s& db, Number address) {
    sockaddr_storage storage{};
    if (g_ipv6) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(&storage);
        sa->sin6_family = AF_INET6;
        for (int i = 15; i >= 0; --i, address >>= 8)
            sa->sin6_addr.s6_addr[i] = static_cast<unsigned char>(address);
    } else {
        auto* sa = reinterpret_cast<sockaddr_in*>(&storage);
        sa->sin_family = AF_INET;
        sa->sin_addr.s_addr = htonl(static_cast<std::uint32_t>(address));
    }
    int error = 0;
    MMDB_lookup_result_s result =
        MMDB_lookup_sockaddr(&db, reinterpret_cast<sockaddr*>(&storage), &error);
    if (error != MMDB_SUCCESS) {
        std::cerr << text(address) << ": " << MMDB_strerror(error) << '\n';
        std::exit(1);
    }
    if (!result.found_entry) {
        return "ZZ";
    }
    MMDB_entry_data_s data;
    if (MMDB_get_value(&result.entry, &data, "country_code", nullptr) != MMDB_SUCCESS ||
        !data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING) {
        return "??";
    }
    return std::string(data.utf8_string, data.data_size);
}

}  // namespace

int main(int argc, char** argv) {
    g_ipv6 = argc > 1 && std::string_view(argv[1]) == "--ipv6";
    if (g_ipv6) {
        --argc;
        ++argv;
    }
    if (argc != 3) {
        std::cerr << "usage: check_ip_db_against_mmdb [--ipv6] RANGE_FILE.dbf COUNTRY.mmdb\n";
        return 2;
    }
    const std::size_t digits = g_ipv6 ? 32 : 8;
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<Line> lines;
    std::string textLine;
    while (std::getline(in, textLine)) {
        if (!textLine.empty() && textLine.back() == '\r') {
            textLine.pop_back();
        }
        Number start = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            start =
                (start << 4) | static_cast<Number>(std::stoul(textLine.substr(i, 1), nullptr, 16));
        }
        lines.push_back({start, textLine.substr(digits)});
    }
    MMDB_s db;
    if (int status = MMDB_open(argv[2], MMDB_MODE_MMAP, &db); status != MMDB_SUCCESS) {
        std::cerr << argv[2] << ": " << MMDB_strerror(status) << '\n';
        return 1;
    }
    std::size_t checked = 0;
    std::size_t agreed = 0;
    std::size_t ipv4Space = 0;
    std::size_t special = 0;
    auto check = [&](Number address, const std::string& expected, const char* where) {
        if (g_ipv6 && inIpv4Space(address)) {
            ++ipv4Space;
            return;
        }
        if (expected == "ZZ" && isSpecial(address)) {
            ++special;
            return;
        }
        ++checked;
        const std::string got = lookup(db, address);
        if (got == expected) {
            ++agreed;
        } else {
            std::cout << "DISAGREE " << text(address) << " (" << where << "): file " << expected
                      << ", database " << got << '\n';
        }
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // The last line only closes the file: its start is the first address past every range.
        check(lines[i].start, i + 1 < lines.size() ? lines[i].code : "ZZ", "line start");
        if (i > 0) {
            check(lines[i].start - 1, lines[i - 1].code, "address before a line start");
        }
    }
    const std::size_t boundaryChecked = checked;
    const std::size_t boundaryAgreed = agreed;
    // Then each range's middle address, which a wrongly resumed wider row would also miss.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const Number middle = lines[i].start + (lines[i + 1].start - lines[i].start) / 2;
        check(middle, lines[i].code, "middle of a range");
    }
    // Besides: what the database says at the IPv4 blocks, for the record.
    if (g_ipv6) {
        std::cout << "database at ::8.8.8.8 " << lookup(db, Number{0x08080808})
                  << ", at ::ffff:8.8.8.8 " << lookup(db, (Number{0xFFFF} << 32) | 0x08080808)
                  << "; " << ipv4Space << " addresses in ::/96 and ::ffff:0:0/96 not compared\n";
    }
    MMDB_close(&db);
    std::cout << lines.size() << " lines; boundaries: " << boundaryChecked << " addresses checked, "
              << boundaryAgreed << " agree, " << boundaryChecked - boundaryAgreed
              << " disagree; range middles: " << checked - boundaryChecked << " checked, "
              << agreed - boundaryAgreed << " agree; " << special
              << " addresses in special-purpose blocks not compared\n";
    return checked == agreed ? 0 : 1;
}
