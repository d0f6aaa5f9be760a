// Turns the registries' country ranges (a CSV of inclusive start,end,CC rows)
// into the range file the program reads: one line per range start, gaps marked
// ZZ, closed by a final ZZ line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ipcountry::data {

// The code of every address that no row of the source holds.
inline constexpr const char* kUnknownCode = "ZZ";

// An inclusive range of IPv4 addresses and its two-letter country code.
struct CsvRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::string code;

    friend bool operator==(const CsvRange&, const CsvRange&) = default;
};

// One line of the range file: the range runs from `start` up to the next line's start.
struct IpDbLine {
    std::uint32_t start = 0;
    std::string code;

    friend bool operator==(const IpDbLine&, const IpDbLine&) = default;
};

// Malformed source data; the message names the line.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses "a.b.c.d,a.b.c.d,CC" rows (dotted or plain decimal addresses). Blank
// lines are skipped; anything else malformed throws SourceError.
std::vector<CsvRange> parseRangeCsv(std::istream& in);

// Resolves overlapping rows into disjoint ones, sorted by address. A row
// overrides whatever earlier rows said about its own addresses, and an earlier
// wider row still holds the addresses around it: that is how the registries'
// published lookup database answers for nested rows.
std::vector<CsvRange> flattenRanges(const std::vector<CsvRange>& rows);

// Builds the range file's lines from disjoint, sorted ranges: first line at
// address 0, neighbours with the same code merged, every gap its own ZZ line,
// and a closing ZZ line one past the last range. The file cannot express a
// range that reaches 255.255.255.255 (no line can start past it), so such a
// range stops one address short and the closing line is FFFFFFFFZZ: that
// address is the limited broadcast address, which no country holds.
std::vector<IpDbLine> makeIpDbLines(const std::vector<CsvRange>& flat);

// Writes the lines as HHHHHHHHCC with CRLF line ends.
void writeIpDb(std::ostream& out, const std::vector<IpDbLine>& lines);

// Addresses per code as the range file assigns them; the last line holds none.
std::map<std::string, std::uint64_t> countAddresses(const std::vector<IpDbLine>& lines);

}  // namespace ipcountry::data
