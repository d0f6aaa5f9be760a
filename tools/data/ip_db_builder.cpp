#include "ip_db_builder.h"

#include <algorithm>
#include <istream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string_view>
#include <type_traits>

#include "lookup/address_key.h"
#include "lookup/address_text.h"
#include "lookup/csv_fields.h"
#include "lookup/ipv6_text.h"
#include "lookup/range_file.h"
#include "lookup/range_set.h"
#include "lookup/special_blocks.h"

namespace ipcountry::data {
namespace {

[[noreturn]] void fail(std::size_t lineNo, const std::string& what) {
    throw SourceError("line " + std::to_string(lineNo) + ": " + what);
}

bool allDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool hasDigit(std::string_view text) {
    return text.find_first_of("0123456789") != std::string_view::npos;
}

// What a field says of its family by its form: IPv6 text has a colon, IPv4
// text a dot; a plain number may be either.
bool looksIpv6(std::string_view text) { return text.find(':') != std::string_view::npos; }
bool looksIpv4(std::string_view text) {
    return !looksIpv6(text) && text.find('.') != std::string_view::npos;
}

// GCC and Clang both have a 128-bit integer; __extension__ says we know it
// is theirs, not the standard's.
__extension__ using Wide = unsigned __int128;

// The decimal number some databases write for an address instead of its text.
bool readDecimal(std::string_view text, Wide max, Wide& value) {
    if (!allDigits(text) || text.size() > 39) return false;
    value = 0;
    for (const char c : text) {
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

std::optional<std::uint32_t> readAddress(std::string_view text, std::uint32_t /*family*/) {
    if (text.find('.') != std::string_view::npos) return lookup::readPlainAddress(text);
    Wide value = 0;
    if (text.size() > 10 || !readDecimal(text, 0xFFFFFFFFu, value)) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<Address6> readAddress(std::string_view text, Address6 /*family*/) {
    if (!allDigits(text)) return lookup::readIpv6Value(text);
    Wide value = 0;
    if (!readDecimal(text, ~static_cast<Wide>(0), value)) return std::nullopt;
    return Address6{static_cast<std::uint64_t>(value >> 64), static_cast<std::uint64_t>(value)};
}

// What the generic steps need to know of each address family.
template <class Address>
struct Family;

template <>
struct Family<std::uint32_t> {
    static constexpr const char* kName = "IPv4";
    static constexpr std::uint32_t kLast = 0xFFFFFFFF;
    static std::string key(std::uint32_t a) { return lookup::addressToKey(a); }
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

}  // namespace

template <class Address>
void forEachRangeCsvRow(std::istream& in,
                        const std::function<void(BasicSourceRange<Address>&)>& take,
                        ParseSummary* summary, PlainNumbers numbers) {
    using F = Family<Address>;
    constexpr bool kIpv6 = std::is_same_v<Address, Address6>;
    ParseSummary counted;
    lookup::CsvReader reader(in);
    lookup::CsvRecord record;
    while (reader.next(record)) {
        const std::size_t lineNo = record.line;
        if (record.problem.empty() && record.blank()) continue;
        const std::vector<std::string>& field = record.fields;
        // A first line of names (start,end,country) is a header.
        const auto header = [&] {
            return lineNo == 1 && std::none_of(field.begin(), field.end(),
                                               [](const std::string& f) { return hasDigit(f); });
        };
        if (!record.problem.empty() || field.size() < 3) {
            if (header()) {
                counted.header = true;
                continue;
            }
            fail(lineNo, record.problem.empty()
                             ? std::string("expected comma-separated fields start,end,country")
                             : "expected comma-separated fields start,end,country: " +
                                   std::string(record.problem));
        }
        // Rows of the other family, by the form of their text: a source that
        // holds both is converted once for each.
        if (kIpv6 ? looksIpv4(field[0]) && looksIpv4(field[1])
                  : looksIpv6(field[0]) && looksIpv6(field[1])) {
            ++counted.otherFamily;
            continue;
        }
        if (allDigits(field[0]) && allDigits(field[1])) {
            Wide value = 0;
            if ((readDecimal(field[0], ~static_cast<Wide>(0), value) && value > 0xFFFFFFFFu) ||
                (readDecimal(field[1], ~static_cast<Wide>(0), value) && value > 0xFFFFFFFFu))
                counted.wideNumbers = true;
            if (numbers == PlainNumbers::PassOver) {
                ++counted.numbers;
                continue;
            }
        }
        BasicSourceRange<Address> row;
        const auto first = readAddress(field[0], Address{});
        if (!first) {
            if (header()) {
                counted.header = true;
                continue;
            }
            fail(lineNo,
                 std::string("the start is not an ") + F::kName + " address" +
                     (!kIpv6 && allDigits(field[0]) ? " (an IPv6 number? use --ipv6)" : ""));
        }
        const auto last = readAddress(field[1], Address{});
        if (!last) fail(lineNo, std::string("the end is not an ") + F::kName + " address");
        row.first = *first;
        row.last = *last;
        if (row.last < row.first) fail(lineNo, "the range ends before it starts");
        if (field[2] == "-") {
            ++counted.noCountry;  // a range the source names no country for
            continue;
        }
        row.code = field[2];
        if (!lookup::isTwoCapitals(row.code))
            fail(lineNo, "the country code is not two upper-case letters");
        take(row);
    }
    if (summary != nullptr) {
        *summary = counted;
    }
}

template <class Address>
std::vector<BasicSourceRange<Address>> parseRangeCsv(std::istream& in, ParseSummary* summary,
                                                     PlainNumbers numbers) {
    std::vector<BasicSourceRange<Address>> rows;
    forEachRangeCsvRow<Address>(
        in, [&rows](BasicSourceRange<Address>& row) { rows.push_back(std::move(row)); }, summary,
        numbers);
    return rows;
}

template <class Address>
std::vector<BasicSourceRange<Address>> flattenRanges(
    const std::vector<BasicSourceRange<Address>>& rows) {
    // Each row is painted over what the rows before it left.
    return lookup::paintRanges(rows);
}

namespace {

// The one rule from disjoint sorted ranges to the lines of the range file,
// range by range: `put(start, code)` is called for each line, a line of the
// same code as the one before included (the caller merges it). `next` is the
// first address no line covers yet; `reachedEnd` is set once a range held the
// last address, after which nothing more can be written.
template <class Address, class Put>
void addRangeLines(const BasicSourceRange<Address>& range, Address& next, bool& reachedEnd,
                   Put put) {
    using F = Family<Address>;
    if (reachedEnd) return;
    if (range.first < next) {
        throw SourceError("ranges overlap or are out of order at " + F::text(range.first));
    }
    Address last = range.last;
    if (last == F::kLast) {
        reachedEnd = true;
        if (range.first == last) {
            return;  // only the last address: nothing the file can hold
        }
        last = oneBefore(last);
    }
    if (range.first > next) {
        put(next, std::string(kUnknownCode));
    }
    put(range.first, range.code);
    next = oneAfter(last);
}

template <class Address>
std::string tooLarge(std::uint64_t maxFileBytes) {
    return std::string("the ") + Family<Address>::kName + " range file would be larger than the " +
           std::to_string(maxFileBytes >> 20) + " MB the program reads";
}

template <class Address>
std::string noRange(bool any) {
    // A file of nothing but ZZ would answer "unknown" for every address and
    // look like a success.
    return std::string("the source yields no ") + Family<Address>::kName + " range" +
           (any ? " outside the special-purpose address blocks (--keep-special keeps them)" : "");
}

}  // namespace

template <class Address>
std::vector<BasicIpDbLine<Address>> makeIpDbLines(
    const std::vector<BasicSourceRange<Address>>& flat) {
    std::vector<BasicIpDbLine<Address>> lines;
    auto add = [&lines](Address start, const std::string& code) {
        if (!lines.empty() && lines.back().code == code) {
            return;  // the previous line's range simply goes on
        }
        lines.push_back({start, code});
    };
    Address next{};
    bool reachedEnd = false;
    for (const BasicSourceRange<Address>& range : flat) addRangeLines(range, next, reachedEnd, add);
    // The closing line (the only one when there are no ranges); clipping above
    // keeps it inside the address space.
    add(next, kUnknownCode);
    return lines;
}

template <class Address>
std::vector<BasicIpDbLine<Address>> buildRangeFileLines(
    const std::vector<BasicSourceRange<Address>>& rows, const ConvertOptions& options,
    std::uint64_t maxFileBytes) {
    std::vector<BasicSourceRange<Address>> flat = flattenRanges(rows);
    const bool any = !flat.empty();
    if (!options.keepSpecial) flat = lookup::cutSpecialRanges(flat);
    if (flat.empty()) throw SourceError(noRange<Address>(any));
    auto lines = makeIpDbLines(flat);
    if (lines.size() * kRangeFileLineBytes < Address >> maxFileBytes)
        throw SourceError(tooLarge<Address>(maxFileBytes));
    return lines;
}

template <class Address>
SortedRangeFileWriter<Address>::SortedRangeFileWriter(const ConvertOptions& options,
                                                      std::string& text, std::uint64_t maxFileBytes)
    : m_options(options), m_text(text), m_maxFileBytes(maxFileBytes) {}

template <class Address>
bool SortedRangeFileWriter<Address>::add(BasicSourceRange<Address>&& row) {
    if (m_anyRow && !(m_lastEnd < row.first)) return false;
    m_anyRow = true;
    m_lastEnd = row.last;
    m_pending.push_back(std::move(row));
    // Cut and written in batches, so that the special blocks are cut by the
    // same code as for a whole source.
    if (m_pending.size() == 4096) flush();
    return true;
}

template <class Address>
void SortedRangeFileWriter<Address>::put(Address start, const std::string& code) {
    if (m_lines > 0 && m_lastCode == code) return;  // the previous line goes on
    m_text += Family<Address>::key(start);
    m_text += code;
    m_text += "\r\n";
    m_lastCode = code;
    ++m_lines;
    if (m_text.size() > m_maxFileBytes) throw SourceError(tooLarge<Address>(m_maxFileBytes));
}

template <class Address>
void SortedRangeFileWriter<Address>::flush() {
    const auto write = [this](const std::vector<BasicSourceRange<Address>>& ranges) {
        m_ranges += ranges.size();
        for (const auto& range : ranges)
            addRangeLines(range, m_next, m_reachedEnd,
                          [this](Address start, const std::string& code) { put(start, code); });
    };
    if (m_options.keepSpecial)
        write(m_pending);
    else
        write(lookup::cutSpecialRanges(m_pending));
    m_pending.clear();
}

template <class Address>
void SortedRangeFileWriter<Address>::finish() {
    flush();
    if (m_ranges == 0) throw SourceError(noRange<Address>(m_anyRow));
    put(m_next, kUnknownCode);
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

template std::vector<SourceRange> parseRangeCsv<std::uint32_t>(std::istream&, ParseSummary*,
                                                               PlainNumbers);
template std::vector<SourceRange6> parseRangeCsv<Address6>(std::istream&, ParseSummary*,
                                                           PlainNumbers);
template void forEachRangeCsvRow<std::uint32_t>(std::istream&,
                                                const std::function<void(SourceRange&)>&,
                                                ParseSummary*, PlainNumbers);
template void forEachRangeCsvRow<Address6>(std::istream&, const std::function<void(SourceRange6&)>&,
                                           ParseSummary*, PlainNumbers);
template class SortedRangeFileWriter<std::uint32_t>;
template class SortedRangeFileWriter<Address6>;
template std::vector<SourceRange> flattenRanges(const std::vector<SourceRange>&);
template std::vector<SourceRange6> flattenRanges(const std::vector<SourceRange6>&);
template std::vector<IpDbLine> makeIpDbLines(const std::vector<SourceRange>&);
template std::vector<IpDbLine6> makeIpDbLines(const std::vector<SourceRange6>&);
template std::vector<IpDbLine> buildRangeFileLines(const std::vector<SourceRange>&,
                                                   const ConvertOptions&, std::uint64_t);
template std::vector<IpDbLine6> buildRangeFileLines(const std::vector<SourceRange6>&,
                                                    const ConvertOptions&, std::uint64_t);
template void writeIpDb(std::ostream&, const std::vector<IpDbLine>&);
template void writeIpDb(std::ostream&, const std::vector<IpDbLine6>&);

}  // namespace ipcountry::data
