// The streaming IPv6 scanner against the whole-line reference: equal rows for
// every input, whole (with and without the quick look that passes over lines
// without an address) and cut into pieces where the input's first byte says.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/ipv6_scanner.h"
#include "fuzz/reference_scanner6.h"

namespace {

std::vector<ipcountry::reference::Found6> scanInPieces(const std::string& line, std::size_t piece) {
    ipcountry::analysis::Ipv6Scanner scanner;
    std::vector<ipcountry::reference::Found6> rows;
    const auto on = [&rows](const ipcountry::analysis::FoundAddress6& a) {
        rows.push_back(
            {std::string(a.text), std::string(a.portText), a.high, a.low, a.start, a.zoned});
    };
    for (std::size_t from = 0; from < line.size(); from += piece)
        scanner.feed(std::string_view(line).substr(from, piece), on);
    scanner.endLine(on);
    return rows;
}

std::vector<ipcountry::reference::Found6> scanWhole(const std::string& line) {
    std::vector<ipcountry::reference::Found6> rows;
    ipcountry::analysis::scanLine6(line, [&rows](const ipcountry::analysis::FoundAddress6& a) {
        rows.push_back(
            {std::string(a.text), std::string(a.portText), a.high, a.low, a.start, a.zoned});
    });
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 16;
    const std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto expected = ipcountry::reference::scanLine6(line);
    if (scanInPieces(line, line.size() + 1) != expected || scanInPieces(line, piece) != expected ||
        scanWhole(line) != expected)
        std::abort();
    return 0;
}
