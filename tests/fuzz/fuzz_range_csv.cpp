// Any CSV of ranges, read as either family and converted: a range file whose
// lines climb strictly from address 0, or a SourceError, never anything else.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "ip_db_builder.h"

namespace {

template <class Address>
void convert(const std::string& text) {
    using namespace ipcountry::data;
    std::istringstream in(text);
    try {
        const auto rows = parseRangeCsv<Address>(in);
        for (const auto& r : rows)
            if (r.last < r.first || r.code.size() != 2) std::abort();
        const auto lines = makeIpDbLines(flattenRanges(rows));
        if (lines.empty() || lines.front().start != Address{} || lines.back().code != kUnknownCode)
            std::abort();
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (!(lines[i - 1].start < lines[i].start) || lines[i - 1].code == lines[i].code)
                std::abort();
    } catch (const SourceError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    convert<std::uint32_t>(text);
    convert<ipcountry::data::Address6>(text);
    return 0;
}
