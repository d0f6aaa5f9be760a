// Any text as a range source, both families: rows or a SourceError naming a
// line, never anything else; and whatever lines are built from the rows
// start at address 0, rise, close with ZZ, and give no special-purpose
// block a country unless told to keep them.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <type_traits>

#include "ip_db_builder.h"
#include "lookup/special_blocks.h"

namespace {

using namespace ipcountry;

template <class Address>
void check(const std::string& text, bool keepSpecial) {
    std::istringstream in(text);
    std::vector<data::BasicSourceRange<Address>> rows;
    try {
        rows = data::parseRangeCsv<Address>(in);
    } catch (const data::SourceError& e) {
        if (std::string(e.what()).rfind("line ", 0) != 0) std::abort();
        return;
    }
    std::vector<data::BasicIpDbLine<Address>> lines;
    try {
        lines = data::buildRangeFileLines(rows, data::ConvertOptions{keepSpecial});
    } catch (const data::SourceError&) {
        return;  // nothing left to write
    }
    if (lines.empty() || lines.front().start != Address{} || lines.back().code != "ZZ")
        std::abort();
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (!(lines[i].start < lines[i + 1].start)) std::abort();
        if (keepSpecial || lines[i].code == "ZZ") continue;
        // A line with a country: neither its first nor its last address is special.
        Address last = lines[i + 1].start;
        --last;
        if (lookup::findSpecialBlock(lines[i].start) || lookup::findSpecialBlock(last))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool keep = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    check<std::uint32_t>(text, keep);
    check<lookup::Address6>(text, keep);
    return 0;
}
