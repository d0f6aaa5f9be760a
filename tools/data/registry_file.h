// Reads the regional registries' daily statistics files in their
// delegated-extended form (the plain delegated form too, which lacks only the
// opaque-id column):
//   2|ripencc|1733353199|166489|19830705|20241204|+0100      the version line
//   ripencc|*|ipv4|*|95339|summary                            a summary per type
//   ripencc|FR|ipv4|2.0.0.0|1048576|20100712|allocated|ID     a record
// Comments start with '#'; blank lines are passed over. An IPv4 record gives a
// first address and a count of addresses, which need not be a power of two;
// an IPv6 record gives a prefix length. Only allocated and assigned records
// name a country (EU and AP too, kept as they are); available and reserved
// space, asn records and the other types are counted but give no range.
//
// A file cut short must not pass for a smaller registry: the version line's
// record count and each summary's count are checked against the records read,
// and the last line must be ended, so that a file cut inside its last record
// is refused too.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "ip_db_builder.h"

namespace ipcountry::data {

struct RegistryFile {
    std::string registry;  // as the version line names it: afrinic, apnic, arin, lacnic, ripencc
    std::string serial;
    std::string endDate;            // YYYYMMDD: the date the file's data are as of
    std::size_t records = 0;        // every record read, asn, available and reserved included
    std::vector<SourceRange> ipv4;  // allocated and assigned space, in file order
    std::vector<SourceRange6> ipv6;
};

// Throws SourceError naming the line ("line 7: ...") for a malformed line,
// and a SourceError without a line for a cut or empty file.
RegistryFile parseRegistryFile(std::istream& in);

// True when `line` has the form of a version line: how a file is told apart
// from a CSV of ranges before it is read.
bool isRegistryVersionLine(std::string_view line);

}  // namespace ipcountry::data
