// Turns the registries' country ranges (a CSV of inclusive start,end,CC rows)
// into the range files the program reads: one line per range start, gaps marked
// ZZ, closed by a final ZZ line. The same code serves both address families:
// `Address` is std::uint32_t for IP_db.dbf and lookup::Address6 for IP6_db.dbf.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "lookup/address6.h"
#include "lookup/address_key.h"
#include "lookup/range_file.h"

namespace ipcountry::data {

// The code of every address that no row of the source holds.
inline constexpr const char* kUnknownCode = "ZZ";

using lookup::Address6;

// An inclusive range of addresses and its two-letter country code, as a
// source gives it (a CSV row, a registry record, a MaxMind DB network).
template <class Address>
struct BasicSourceRange {
    Address first{};
    Address last{};
    std::string code;

    friend bool operator==(const BasicSourceRange&, const BasicSourceRange&) = default;
};
using SourceRange = BasicSourceRange<std::uint32_t>;
using SourceRange6 = BasicSourceRange<Address6>;

// One line of the range file: the range runs from `start` up to the next line's start.
template <class Address>
struct BasicIpDbLine {
    Address start{};
    std::string code;

    friend bool operator==(const BasicIpDbLine&, const BasicIpDbLine&) = default;
};
using IpDbLine = BasicIpDbLine<std::uint32_t>;
using IpDbLine6 = BasicIpDbLine<Address6>;

// Malformed source data; the message names the line.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What parseRangeCsv passed over without failing.
struct ParseSummary {
    std::size_t otherFamily = 0;  // rows of the other address family
    std::size_t noCountry = 0;    // rows whose country is "-"
    std::size_t numbers = 0;      // rows of plain numbers passed over (PlainNumbers::PassOver)
    bool wideNumbers = false;     // a plain number above 32 bits was seen
    bool header = false;          // the first line named the columns
};

// A plain number (16777216) does not tell its family as text does: the
// caller says whether the numbers of a source are this family's.
enum class PlainNumbers {
    Read,      // they are: read them as this family's addresses
    PassOver,  // they are not, or not known yet: count them in ParseSummary
};

// Parses "start,end,CC" rows, the CSV forms of the free country databases:
// fields with or without double quotes (RFC 4180, as lookup::CsvReader reads
// them), more columns after the three (not read), a first line of column
// names, CRLF or LF. Addresses are IPv4 dotted
// text or a 32-bit number; for IPv6 any text form inet_pton reads or a
// 128-bit decimal number. Rows whose text is of the other family are passed
// over, so that a source holding both is read once per family; a country of
// "-" (no country) leaves the range unknown. Blank lines are skipped;
// anything else malformed throws SourceError naming the line.
template <class Address = std::uint32_t>
std::vector<BasicSourceRange<Address>> parseRangeCsv(std::istream& in,
                                                     ParseSummary* summary = nullptr,
                                                     PlainNumbers numbers = PlainNumbers::Read);

// The same, each row handed to `take` as it is read, so that a big source
// need not be held whole.
template <class Address>
void forEachRangeCsvRow(std::istream& in,
                        const std::function<void(BasicSourceRange<Address>&)>& take,
                        ParseSummary* summary = nullptr, PlainNumbers numbers = PlainNumbers::Read);

// Resolves overlapping rows into disjoint ones, sorted by address. A row
// overrides whatever earlier rows said about its own addresses, and an earlier
// wider row still holds the addresses around it: that is how the registries'
// published lookup database answers for nested rows.
template <class Address>
std::vector<BasicSourceRange<Address>> flattenRanges(
    const std::vector<BasicSourceRange<Address>>& rows);

// Builds the range file's lines from disjoint, sorted ranges: first line at
// address 0, neighbours with the same code merged, every gap its own ZZ line,
// and a closing ZZ line one past the last range. The file cannot express a
// range that reaches the last address (no line can start past it), so such a
// range stops one address short and the closing line starts at the last
// address: for IPv4 that is the limited broadcast address, which no country
// holds, and for IPv6 ffff:...:ffff lies in reserved space nobody is assigned.
template <class Address>
std::vector<BasicIpDbLine<Address>> makeIpDbLines(
    const std::vector<BasicSourceRange<Address>>& flat);

// How a source becomes a range file.
struct ConvertOptions {
    // Keep the countries a source gives to special-purpose address blocks
    // (private networks, documentation, multicast, ...: lookup/special_blocks.h),
    // for a file that maps internal networks to offices on purpose. By
    // default they are cut out: the registries assign them to no country.
    bool keepSpecial = false;
};

// The one way from a source's rows to a range file's lines, whatever the
// source: flattenRanges, then the special-purpose blocks cut out unless
// options.keepSpecial, then makeIpDbLines. Throws SourceError ("... yields no
// IPv4 range") when no range is left, so that no file answering "unknown"
// for every address is written.
// Throws SourceError, before anything is written, when the file would be
// larger than `maxFileBytes`, the readers' limit.
template <class Address>
std::vector<BasicIpDbLine<Address>> buildRangeFileLines(
    const std::vector<BasicSourceRange<Address>>& rows, const ConvertOptions& options,
    std::uint64_t maxFileBytes = lookup::kMaxRangeFileBytes);

// Writes the lines as the upper-case hex start (8 digits for IPv4, 32 for
// IPv6) followed by the code, with CRLF line ends.
template <class Address>
void writeIpDb(std::ostream& out, const std::vector<BasicIpDbLine<Address>>& lines);

// The bytes of one line of the range file: the key, the code, CRLF.
template <class Address>
constexpr std::uint64_t kRangeFileLineBytes =
    std::is_same_v<Address, Address6> ? lookup::kAddress6KeyLength + 4
                                      : lookup::kAddressKeyLength + 4;

// The text of the range file for rows that come sorted and disjoint (each
// starts past the end of the one before), as buildRangeFileLines and
// writeIpDb make it from all of them at once, holding only the text and a
// few thousand rows: every known source is sorted, and converting a big one
// takes memory about the size of its range file instead of many times its
// number of rows. Both refuse a file larger than `maxFileBytes` (the
// readers' limit) before anything is written.
template <class Address>
class SortedRangeFileWriter {
public:
    SortedRangeFileWriter(const ConvertOptions& options, std::string& text,
                          std::uint64_t maxFileBytes = lookup::kMaxRangeFileBytes);
    // False, taking nothing, when `row` does not start past every earlier
    // row: such a source goes through buildRangeFileLines.
    bool add(BasicSourceRange<Address>&& row);
    // The closing line. Throws SourceError as buildRangeFileLines does when
    // no range is left.
    void finish();
    std::size_t lines() const noexcept { return m_lines; }

private:
    void flush();
    void put(Address start, const std::string& code);

    ConvertOptions m_options;
    std::string& m_text;
    std::uint64_t m_maxFileBytes;
    std::vector<BasicSourceRange<Address>> m_pending;  // read, not yet cut and written
    bool m_anyRow = false;
    Address m_lastEnd{};       // the end of the last row taken
    std::size_t m_ranges = 0;  // ranges left after the special blocks are cut out
    std::size_t m_lines = 0;
    Address m_next{};           // the first address no line covers yet
    std::string m_lastCode;     // the code of the last line written
    bool m_reachedEnd = false;  // a range reached the last address
};

// IPv4 addresses per code as the range file assigns them; the last line holds none.
std::map<std::string, std::uint64_t> countAddresses(const std::vector<IpDbLine>& lines);

}  // namespace ipcountry::data
