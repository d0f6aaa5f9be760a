#include "ip_db_builder.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdio>
#include <istream>
#include <iterator>
#include <ostream>
#include <string_view>
#include <type_traits>

namespace ipcountry::data {
namespace {

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

bool allDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// What a field says of its family by its form: IPv6 text has a colon, IPv4
// text a dot; a plain number may be either.
bool looksIpv6(std::string_view text) { return text.find(':') != std::string_view::npos; }
bool looksIpv4(std::string_view text) {
    return !looksIpv6(text) && text.find('.') != std::string_view::npos;
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
        if (!parseNumber(text.substr(0, dot), 255, value) ||
            (dot != std::string_view::npos && dot > 3)) {
            return false;
        }
        result = (result << 8) | static_cast<std::uint32_t>(value);
        text = last ? std::string_view() : text.substr(dot + 1);
    }
    address = result;
    return true;
}

bool parseAddress(std::string_view text, Address6& address) {
    if (allDigits(text)) {
        // The 128-bit number some databases write for an IPv6 address.
        if (text.size() > 39) return false;
        // GCC and Clang both have a 128-bit integer; __extension__ says we
        // know it is theirs, not the standard's.
        __extension__ using Wide = unsigned __int128;
        Wide value = 0;
        constexpr Wide kMax = ~static_cast<Wide>(0);
        for (const char c : text) {
            const unsigned digit = static_cast<unsigned>(c - '0');
            if (value > (kMax - digit) / 10) return false;
            value = value * 10 + digit;
        }
        address.high = static_cast<std::uint64_t>(value >> 64);
        address.low = static_cast<std::uint64_t>(value);
        return true;
    }
    // inet_pton wants a terminated string; no IPv6 text form is longer than 45 characters.
    char buffer[64];
    if (text.empty() || text.size() >= sizeof buffer) {
        return false;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, buffer, bytes) != 1) {
        return false;
    }
    address = Address6::fromBytes(bytes);
    return true;
}

// The first three fields of a CSV line, each with or without quotes; the
// columns after them (a country's name, which may hold commas) are not read.
bool firstThreeFields(std::string_view line, std::string_view (&fields)[3]) {
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (pos < line.size() && line[pos] == '"') {
            const std::size_t close = line.find('"', pos + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            fields[i] = line.substr(pos + 1, close - pos - 1);
            pos = close + 1;
            if (pos < line.size() && line[pos] != ',') {
                return false;
            }
        } else {
            const std::size_t comma = line.find(',', pos);
            fields[i] = line.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
            pos = comma == std::string_view::npos ? line.size() : comma;
        }
        if (i < 2) {
            if (pos >= line.size()) {
                return false;
            }
            ++pos;  // the comma
        }
    }
    return true;
}

// What the generic steps need to know of each address family.
template <class Address>
struct Family;

template <>
struct Family<std::uint32_t> {
    static constexpr const char* kName = "IPv4";
    static constexpr std::uint32_t kLast = 0xFFFFFFFF;
    static std::string key(std::uint32_t a) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(a));
        return hex;
    }
    static std::string text(std::uint32_t a) { return std::to_string(a); }
};

template <>
struct Family<Address6> {
    static constexpr const char* kName = "IPv6";
    static constexpr Address6 kLast = Address6::max();
    static std::string key(Address6 a) { return lookup::address6ToKey(a); }
    static std::string text(Address6 a) { return key(a); }
};

template <class Address>
Address oneAfter(Address a) {
    return ++a;
}

template <class Address>
Address oneBefore(Address a) {
    return --a;
}

bool isCode(std::string_view code) {
    return code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= 'A' && code[1] <= 'Z';
}

}  // namespace

template <class Address>
std::vector<BasicCsvRange<Address>> parseRangeCsv(std::istream& in, ParseSummary* summary) {
    using F = Family<Address>;
    constexpr bool kIpv6 = std::is_same_v<Address, Address6>;
    ParseSummary counted;
    std::vector<BasicCsvRange<Address>> rows;
    std::string line;
    std::size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF")) {
            line.erase(0, 3);  // the byte order mark some programs write before UTF-8
        }
        if (line.empty()) {
            continue;
        }
        std::string_view field[3];
        if (!firstThreeFields(line, field)) {
            if (lineNo == 1 && line.find_first_of("0123456789") == std::string::npos) {
                counted.header = true;
                continue;
            }
            fail(lineNo, "expected comma-separated fields start,end,country");
        }
        // Rows of the other family, by the form of their text: a source that
        // holds both is converted once for each.
        if (kIpv6 ? looksIpv4(field[0]) && looksIpv4(field[1])
                  : looksIpv6(field[0]) && looksIpv6(field[1])) {
            ++counted.otherFamily;
            continue;
        }
        BasicCsvRange<Address> row;
        if (!parseAddress(field[0], row.first)) {
            // A first line of names (start,end,country) is a header.
            if (lineNo == 1 && field[0].find_first_of("0123456789") == std::string_view::npos) {
                counted.header = true;
                continue;
            }
            fail(lineNo,
                 std::string("the start is not an ") + F::kName + " address" +
                     (!kIpv6 && allDigits(field[0]) ? " (an IPv6 number? use --ipv6)" : ""));
        }
        if (!parseAddress(field[1], row.last)) {
            fail(lineNo, std::string("the end is not an ") + F::kName + " address");
        }
        if (row.last < row.first) {
            fail(lineNo, "the range ends before it starts");
        }
        if (field[2] == "-") {
            ++counted.noCountry;  // a range the source names no country for
            continue;
        }
        row.code = std::string(field[2]);
        if (!isCode(row.code)) {
            fail(lineNo, "the country code is not two upper-case letters");
        }
        rows.push_back(std::move(row));
    }
    if (summary != nullptr) {
        *summary = counted;
    }
    return rows;
}

template <class Address>
std::vector<BasicCsvRange<Address>> flattenRanges(const std::vector<BasicCsvRange<Address>>& rows) {
    using Range = BasicCsvRange<Address>;
    // Disjoint ranges keyed by their first address; each row is painted over
    // what the rows before it left, cutting the pieces it overlaps.
    std::map<Address, Range> painted;
    for (const Range& row : rows) {
        auto it = painted.upper_bound(row.first);
        if (it != painted.begin()) {
            auto before = std::prev(it);
            if (before->second.last >= row.first) {
                Range left = before->second;
                if (left.last > row.last) {
                    // The row sits inside a wider one: the wider one resumes after it.
                    Range right = left;
                    right.first = oneAfter(row.last);
                    painted[right.first] = right;
                }
                if (left.first < row.first) {
                    before->second.last = oneBefore(row.first);
                } else {
                    painted.erase(before);
                }
            }
        }
        it = painted.lower_bound(row.first);
        while (it != painted.end() && it->second.first <= row.last) {
            if (it->second.last > row.last) {
                Range right = it->second;
                right.first = oneAfter(row.last);
                painted.erase(it);
                painted[right.first] = right;
                break;
            }
            it = painted.erase(it);
        }
        painted[row.first] = row;
    }
    std::vector<Range> flat;
    flat.reserve(painted.size());
    for (auto& [first, range] : painted) {
        flat.push_back(std::move(range));
    }
    return flat;
}

template <class Address>
std::vector<BasicIpDbLine<Address>> makeIpDbLines(const std::vector<BasicCsvRange<Address>>& flat) {
    using F = Family<Address>;
    std::vector<BasicIpDbLine<Address>> lines;
    Address next{};  // first address not yet covered by a line
    auto add = [&lines](Address start, const std::string& code) {
        if (!lines.empty() && lines.back().code == code) {
            return;  // the previous line's range simply goes on
        }
        lines.push_back({start, code});
    };
    for (const BasicCsvRange<Address>& range : flat) {
        if (range.first < next) {
            throw SourceError("ranges overlap or are out of order at " + F::text(range.first));
        }
        Address last = range.last;
        if (last == F::kLast) {
            if (range.first == last) {
                break;  // only the last address: nothing the file can hold
            }
            last = oneBefore(last);
        }
        if (range.first > next) {
            add(next, kUnknownCode);
        }
        add(range.first, range.code);
        next = oneAfter(last);
    }
    // The closing line (the only one when there are no ranges); clipping above
    // keeps it inside the address space.
    add(next, kUnknownCode);
    return lines;
}

template <class Address>
void writeIpDb(std::ostream& out, const std::vector<BasicIpDbLine<Address>>& lines) {
    for (const BasicIpDbLine<Address>& line : lines) {
        out << Family<Address>::key(line.start) << line.code << "\r\n";
    }
}

std::map<std::string, std::uint64_t> countAddresses(const std::vector<IpDbLine>& lines) {
    std::map<std::string, std::uint64_t> counts;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        counts[lines[i].code] += lines[i + 1].start - lines[i].start;
    }
    return counts;
}

template std::vector<CsvRange> parseRangeCsv<std::uint32_t>(std::istream&, ParseSummary*);
template std::vector<CsvRange6> parseRangeCsv<Address6>(std::istream&, ParseSummary*);
template std::vector<CsvRange> flattenRanges(const std::vector<CsvRange>&);
template std::vector<CsvRange6> flattenRanges(const std::vector<CsvRange6>&);
template std::vector<IpDbLine> makeIpDbLines(const std::vector<CsvRange>&);
template std::vector<IpDbLine6> makeIpDbLines(const std::vector<CsvRange6>&);
template void writeIpDb(std::ostream&, const std::vector<IpDbLine>&);
template void writeIpDb(std::ostream&, const std::vector<IpDbLine6>&);

}  // namespace ipcountry::data
