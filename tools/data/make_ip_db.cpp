// ipcountry-make-ip-db [--ipv6] SOURCE.csv OUTPUT.dbf [COUNTS.tsv]
// Converts the registries' IPv4 (or, with --ipv6, IPv6) country ranges into
// the range file; the optional third file, IPv4 only, receives
// "CODE<TAB>ADDRESSES" per code, most first.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <string_view>
#include <utility>
#include <vector>

#include "ip_db_builder.h"

namespace data = ipcountry::data;

namespace {

// Converts and writes; returns the lines, or nothing after reporting a failure.
template <class Address>
bool convert(const char* source, const char* output,
             std::vector<data::BasicIpDbLine<Address>>& lines) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        std::cerr << source << ": cannot open\n";
        return false;
    }
    std::size_t rowCount = 0;
    std::size_t rangeCount = 0;
    try {
        const auto rows = data::parseRangeCsv<Address>(in);
        const auto flat = data::flattenRanges(rows);
        rowCount = rows.size();
        rangeCount = flat.size();
        lines = data::makeIpDbLines(flat);
    } catch (const data::SourceError& e) {
        std::cerr << source << ": " << e.what() << '\n';
        return false;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    data::writeIpDb(out, lines);
    out.close();
    if (!out) {
        std::cerr << output << ": cannot write\n";
        return false;
    }
    std::cerr << rowCount << " rows, " << rangeCount << " disjoint ranges, " << lines.size()
              << " lines\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool ipv6 = argc > 1 && std::string_view(argv[1]) == "--ipv6";
    if (ipv6) {
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 4 || (ipv6 && argc == 4)) {
        std::cerr << "usage: ipcountry-make-ip-db SOURCE.csv OUTPUT.dbf [COUNTS.tsv]\n"
                     "       ipcountry-make-ip-db --ipv6 SOURCE.csv OUTPUT.dbf\n";
        return 2;
    }
    if (ipv6) {
        std::vector<data::IpDbLine6> lines;
        return convert(argv[1], argv[2], lines) ? 0 : 1;
    }
    std::vector<data::IpDbLine> lines;
    if (!convert(argv[1], argv[2], lines)) {
        return 1;
    }
    if (argc == 4) {
        const auto counts = data::countAddresses(lines);
        std::vector<std::pair<std::string, std::uint64_t>> sorted(counts.begin(), counts.end());
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        std::ofstream tsv(argv[3], std::ios::binary | std::ios::trunc);
        for (const auto& [code, n] : sorted) {
            tsv << code << '\t' << n << '\n';
        }
        tsv.close();
        if (!tsv) {
            std::cerr << argv[3] << ": cannot write\n";
            return 1;
        }
    }
    return 0;
}
