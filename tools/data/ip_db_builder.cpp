#include "ip_db_builder.h"

#include <charconv>
#include <cstdio>
#include <istream>
#include <iterator>
#include <ostream>
#include <string_view>

namespace ipcountry::data {
namespace {

constexpr std::uint64_t kAddressSpaceEnd = 0x100000000ULL;  // one past 255.255.255.255

[[noreturn]] void fail(std::size_t lineNo, const std::string& what) {
    throw SourceError("line " + std::to_string(lineNo) + ": " + what);
}

bool parseNumber(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value <= max;
}

bool parseAddress(std::string_view text, std::uint32_t& address) {
    if (text.find('.') == std::string_view::npos) {
        std::uint64_t value = 0;
        if (!parseNumber(text, 0xFFFFFFFFULL, value)) {
            return false;
        }
        address = static_cast<std::uint32_t>(value);
        return true;
    }
    std::uint32_t result = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = text.find('.');
        const bool last = octet == 3;
        if (last != (dot == std::string_view::npos)) {
            return false;
        }
        std::uint64_t value = 0;
        if (!parseNumber(text.substr(0, dot), 255, value) || (dot != std::string_view::npos && dot > 3)) {
            return false;
        }
        result = (result << 8) | static_cast<std::uint32_t>(value);
        text = last ? std::string_view() : text.substr(dot + 1);
    }
    address = result;
    return true;
}

bool isCode(std::string_view code) {
    return code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= 'A' && code[1] <= 'Z';
}

}  // namespace

std::vector<CsvRange> parseRangeCsv(std::istream& in) {
    std::vector<CsvRange> rows;
    std::string line;
    std::size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        const std::string_view text(line);
        const std::size_t c1 = text.find(',');
        const std::size_t c2 = c1 == std::string_view::npos ? c1 : text.find(',', c1 + 1);
        if (c2 == std::string_view::npos || text.find(',', c2 + 1) != std::string_view::npos) {
            fail(lineNo, "expected three comma-separated fields (start,end,code)");
        }
        CsvRange row;
        if (!parseAddress(text.substr(0, c1), row.first)) {
            fail(lineNo, "the start is not an IPv4 address");
        }
        if (!parseAddress(text.substr(c1 + 1, c2 - c1 - 1), row.last)) {
            fail(lineNo, "the end is not an IPv4 address");
        }
        if (row.last < row.first) {
            fail(lineNo, "the range ends before it starts");
        }
        row.code = std::string(text.substr(c2 + 1));
        if (!isCode(row.code)) {
            fail(lineNo, "the country code is not two upper-case letters");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<CsvRange> flattenRanges(const std::vector<CsvRange>& rows) {
    // Disjoint ranges keyed by their first address; each row is painted over
    // what the rows before it left, cutting the pieces it overlaps.
    std::map<std::uint32_t, CsvRange> painted;
    for (const CsvRange& row : rows) {
        auto it = painted.upper_bound(row.first);
        if (it != painted.begin()) {
            auto before = std::prev(it);
            if (before->second.last >= row.first) {
                CsvRange left = before->second;
                if (left.last > row.last) {
                    // The row sits inside a wider one: the wider one resumes after it.
                    CsvRange right = left;
                    right.first = row.last + 1;
                    painted[right.first] = right;
                }
                if (left.first < row.first) {
                    before->second.last = row.first - 1;
                } else {
                    painted.erase(before);
                }
            }
        }
        it = painted.lower_bound(row.first);
        while (it != painted.end() && it->second.first <= row.last) {
            if (it->second.last > row.last) {
                CsvRange right = it->second;
                right.first = row.last + 1;
                painted.erase(it);
                painted[right.first] = right;
                break;
            }
            it = painted.erase(it);
        }
        painted[row.first] = row;
    }
    std::vector<CsvRange> flat;
    flat.reserve(painted.size());
    for (auto& [first, range] : painted) {
        flat.push_back(std::move(range));
    }
    return flat;
}

std::vector<IpDbLine> makeIpDbLines(const std::vector<CsvRange>& flat) {
    std::vector<IpDbLine> lines;
    std::uint64_t next = 0;  // first address not yet covered by a line
    auto add = [&lines](std::uint32_t start, const std::string& code) {
        if (!lines.empty() && lines.back().code == code) {
            return;  // the previous line's range simply goes on
        }
        lines.push_back({start, code});
    };
    for (const CsvRange& range : flat) {
        if (range.first < next) {
            throw SourceError("ranges overlap or are out of order at " + std::to_string(range.first));
        }
        std::uint64_t last = range.last;
        if (last == kAddressSpaceEnd - 1) {
            if (range.first == last) {
                break;  // only the broadcast address: nothing the file can hold
            }
            --last;
        }
        if (range.first > next) {
            add(static_cast<std::uint32_t>(next), kUnknownCode);
        }
        add(range.first, range.code);
        next = last + 1;
    }
    // The closing line (the only one when there are no ranges); clipping above
    // keeps it inside the address space.
    add(static_cast<std::uint32_t>(next), kUnknownCode);
    return lines;
}

void writeIpDb(std::ostream& out, const std::vector<IpDbLine>& lines) {
    char hex[9];
    for (const IpDbLine& line : lines) {
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(line.start));
        out << hex << line.code << "\r\n";
    }
}

std::map<std::string, std::uint64_t> countAddresses(const std::vector<IpDbLine>& lines) {
    std::map<std::string, std::uint64_t> counts;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        counts[lines[i].code] += lines[i + 1].start - lines[i].start;
    }
    return counts;
}

}  // namespace ipcountry::data
