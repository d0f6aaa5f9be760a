// check_ip_db_against_mmdb IP_db.dbf COUNTRY.mmdb
// Looks up every range boundary of the range file (each line's start and the
// address before it) in the published lookup database and reports where the
// two disagree. A ZZ range must be absent from the database. Not part of the
// build: scripts/check-data-against-mmdb compiles it against libmaxminddb.
#include <arpa/inet.h>
#include <maxminddb.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Line {
    std::uint32_t start;
    std::string code;
};

std::string dotted(std::uint32_t a) {
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 255) + '.' +
           std::to_string((a >> 8) & 255) + '.' + std::to_string(a & 255);
}

// The database's country code for the address, or ZZ when it holds none.
std::string lookup(MMDB_s& db, std::uint32_t address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    int error = 0;
    MMDB_lookup_result_s result = MMDB_lookup_sockaddr(&db, reinterpret_cast<sockaddr*>(&sa), &error);
    if (error != MMDB_SUCCESS) {
        std::cerr << dotted(address) << ": " << MMDB_strerror(error) << '\n';
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
    if (argc != 3) {
        std::cerr << "usage: check_ip_db_against_mmdb IP_db.dbf COUNTRY.mmdb\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<Line> lines;
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        lines.push_back({static_cast<std::uint32_t>(std::stoul(text.substr(0, 8), nullptr, 16)),
                         text.substr(8)});
    }
    MMDB_s db;
    if (int status = MMDB_open(argv[2], MMDB_MODE_MMAP, &db); status != MMDB_SUCCESS) {
        std::cerr << argv[2] << ": " << MMDB_strerror(status) << '\n';
        return 1;
    }
    std::size_t checked = 0;
    std::size_t agreed = 0;
    auto check = [&](std::uint32_t address, const std::string& expected, const char* where) {
        ++checked;
        const std::string got = lookup(db, address);
        if (got == expected) {
            ++agreed;
        } else {
            std::cout << "DISAGREE " << dotted(address) << " (" << where << "): file " << expected
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
        const std::uint32_t middle = lines[i].start + (lines[i + 1].start - lines[i].start) / 2;
        check(middle, lines[i].code, "middle of a range");
    }
    MMDB_close(&db);
    std::cout << lines.size() << " lines; boundaries: " << boundaryChecked << " addresses checked, "
              << boundaryAgreed << " agree, " << boundaryChecked - boundaryAgreed
              << " disagree; range middles: " << checked - boundaryChecked << " checked, "
              << agreed - boundaryAgreed << " agree\n";
    return checked == agreed ? 0 : 1;
}
