// ipcountry-make-ip-db SOURCE.csv OUTPUT.dbf [COUNTS.tsv]
// Converts the registries' IPv4 country ranges into the range file; the
// optional third file receives "CODE<TAB>ADDRESSES" per code, most first.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <utility>
#include <vector>

#include "ip_db_builder.h"

namespace data = ipcountry::data;

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: ipcountry-make-ip-db SOURCE.csv OUTPUT.dbf [COUNTS.tsv]\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot open\n";
        return 1;
    }
    std::vector<data::IpDbLine> lines;
    std::size_t rowCount = 0;
    std::size_t rangeCount = 0;
    try {
        const auto rows = data::parseRangeCsv(in);
        const auto flat = data::flattenRanges(rows);
        rowCount = rows.size();
        rangeCount = flat.size();
        lines = data::makeIpDbLines(flat);
    } catch (const data::SourceError& e) {
        std::cerr << argv[1] << ": " << e.what() << '\n';
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    data::writeIpDb(out, lines);
    out.close();
    if (!out) {
        std::cerr << argv[2] << ": cannot write\n";
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
    std::cerr << rowCount << " rows, " << rangeCount << " disjoint ranges, " << lines.size()
              << " lines\n";
    return 0;
}
