// The parts of a free-text run one at a time, on one thread, for the limit
// table of bench/README.md (bench/analysis/limits runs them side by side with
// the whole run and `cat`):
//
//   ipcountry_limits read FILE             the reader alone: every line, nothing done
//   ipcountry_limits scan FILE [PATH]      the reader and both scanners, no lookup; PATH
//                                          (portable, sse2, avx2) classifies the bytes
//                                          that way instead of the widest the CPU has
//   ipcountry_limits addresses FILE OUT    the IPv4 addresses the scan finds, to OUT
//   ipcountry_limits lookup DATA_DIR IN    those addresses looked up, nothing else
//
// Each prints a count, so that the work cannot be left out; lookup also the
// time of the lookups alone, without reading the range file.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/both_families_scanner.h"
#include "analysis/byte_classes.h"
#include "analysis/line_reader.h"
#include "lookup/range_file.h"

namespace {

using namespace ipcountry;

// Every line of `path`, whole or in pieces, to `each(piece, starts, ends)`.
template <class Each>
void readLines(const std::string& path, Each each) {
    analysis::LineReader reader;
    reader.open(path);
    bool starts = true;
    for (;;) {
        std::string_view piece;
        bool ends = true;
        const analysis::LineReader::Next next = reader.next(piece, ends);
        if (next == analysis::LineReader::Next::End) break;
        if (next == analysis::LineReader::Next::Idle) continue;
        each(piece, starts, ends);
        starts = ends;
    }
}

// The addresses of both families, as the free-text scan finds them.
template <class On4>
std::uint64_t scanLines(const std::string& path, On4 on4) {
    analysis::BothFamiliesScanner scanner;
    std::uint64_t ipv6 = 0;
    const auto on6 = [&](const analysis::FoundAddress6&) { ++ipv6; };
    readLines(path, [&](std::string_view piece, bool starts, bool ends) {
        if (starts && ends) {
            scanner.scanLine(piece, on4, on6);
        } else {
            scanner.feed(piece, on4, on6);
            if (ends) scanner.endLine(on4, on6);
        }
    });
    return ipv6;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

int usage() {
    std::cerr << "usage: ipcountry_limits read FILE | scan FILE [portable|sse2|avx2] |"
                 " addresses FILE OUT |"
                 " lookup DATA_DIR ADDRESSES\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return usage();
    const std::string& mode = args[0];
    if (mode == "read") {
        std::uint64_t bytes = 0;
        readLines(args[1], [&](std::string_view piece, bool, bool) { bytes += piece.size(); });
        std::cout << bytes << " bytes in lines\n";
    } else if (mode == "scan" && args.size() <= 3) {
        if (args.size() == 3) {
            const analysis::ClassifyPath path = args[2] == "portable"
                                                    ? analysis::ClassifyPath::Portable
                                                : args[2] == "sse2" ? analysis::ClassifyPath::Sse2
                                                                    : analysis::ClassifyPath::Avx2;
            if (args[2] != "portable" && args[2] != "sse2" && args[2] != "avx2") return usage();
            if (!analysis::classifyPathAvailable(path)) {
                std::cerr << "this CPU or build has no " << args[2] << " path\n";
                return 2;
            }
            analysis::useClassifyPath(path);
        }
        std::uint64_t ipv4 = 0;
        const std::uint64_t ipv6 =
            scanLines(args[1], [&](const analysis::FoundAddress&) { ++ipv4; });
        std::cout << ipv4 << " IPv4 and " << ipv6 << " IPv6 addresses\n";
    } else if (mode == "addresses" && args.size() == 3) {
        std::vector<std::uint32_t> found;
        scanLines(args[1],
                  [&](const analysis::FoundAddress& address) { found.push_back(address.address); });
        std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(found.data()),
                  static_cast<std::streamsize>(found.size() * sizeof(std::uint32_t)));
        std::cout << found.size() << " IPv4 addresses\n";
    } else if (mode == "lookup" && args.size() == 3) {
        // The index built as the run builds it, then the lookups alone, in
        // the batches a worker uses.
        const auto index = lookup::RangeIndex::fromContent(slurp(args[1] + "/IP_db.dbf"));
        const std::string bytes = slurp(args[2]);
        std::vector<std::uint32_t> addresses(bytes.size() / sizeof(std::uint32_t));
        std::copy(bytes.begin(), bytes.begin() + addresses.size() * sizeof(std::uint32_t),
                  reinterpret_cast<char*>(addresses.data()));
        std::vector<std::uint16_t> codes(addresses.size());
        const auto started = std::chrono::steady_clock::now();
        index.findPackedCodes(addresses.data(), codes.data(), addresses.size());
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - started;
        std::uint64_t found = 0;
        for (const std::uint16_t code : codes) found += code != 0;
        std::cout << found << " of " << addresses.size()
                  << " addresses have a code; the lookups took " << took.count() << " ms\n";
    } else {
        return usage();
    }
    return 0;
}
