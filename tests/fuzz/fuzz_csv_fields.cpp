// Any text read as CSV: records numbered by the lines they start on, never
// past the input's lines, and every well-formed record's fields written back
// as RFC 4180 quotes them read back the same.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/csv_fields.h"

namespace {

std::string quoted(const std::vector<std::string>& fields) {
    std::string record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) record += ',';
        record += '"';
        for (const char c : fields[i]) record += c == '"' ? std::string("\"\"") : std::string(1, c);
        record += '"';
    }
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    std::istringstream in(text);
    CsvReader reader(in, 256);
    CsvRecord record;
    std::size_t previous = 0;
    std::vector<std::string> again;
    while (reader.next(record)) {
        if (record.line <= previous || record.line > lines) std::abort();
        previous = record.line;
        if (!record.problem.empty()) continue;
        if (record.fields.empty()) std::abort();
        if (!splitCsvRecord(quoted(record.fields), again).empty() || again != record.fields)
            std::abort();
    }
    return 0;
}
