// Any map file and any texts from outside: the page keeps its own markup.
// The input is split at NUL bytes into a map file, a file name, a country
// name and an address; whatever they hold, the page has exactly its own
// script, stays under 1 MiB and is UTF-8.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"
#include "report/world_map.h"

namespace {

std::size_t count(std::string_view text, std::string_view part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80    ? 1
                              : lead >= 0xF0 ? 4
                              : lead >= 0xE0 ? 3
                              : lead >= 0xC2 ? 2
                                             : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::report;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    while (parts.size() < 4) {
        const auto nul = rest.find('\0');
        parts.emplace_back(rest.substr(0, nul));
        rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
    }
    WorldMap map;
    ReportInput input;
    try {
        map = parseWorldMap(parts[0], "world_map.txt");
        input.map = &map;
    } catch (const std::runtime_error& e) {
        input.mapProblem = e.what();
    }
    input.files = {{parts[1], 1, true}, {parts[2], std::nullopt, false}};
    input.countries = {{"DE", parts[2], 3}, {parts[3].substr(0, 2), parts[3], 1}};
    input.topAddresses = {{parts[3], parts[2], "DE", 3}};
    input.names = {{"FR", parts[1]}};
    input.provenance = {parts[1]};
    input.total = 4;
    const std::string page = renderReport(input);
    if (count(page, "<script") != 1 || count(page, "</script") != 1 || count(page, "<style") != 1)
        std::abort();
    if (page.size() >= (std::size_t{1} << 20) || !utf8(page)) std::abort();
    return 0;
}
