// One local file of country ranges, whatever its kind: a registry statistics
// file, a MaxMind DB or a CSV of ranges, plain or compressed (gzip, bzip2, xz,
// zstd: the input layer recognises them by their first bytes). The kind is
// told from the content, never from the name.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "as_data.h"
#include "ip_db_builder.h"

namespace ipcountry::data {

struct SourceRows {
    // Networks: a source of AS numbers and operators (as_data.h), read by
    // readNetworkSourceFile instead.
    enum class Kind { Registry, Mmdb, Csv, Networks };
    Kind kind = Kind::Csv;
    std::vector<SourceRange> ipv4;  // in the source's order: later rows win where they overlap
    std::vector<SourceRange6> ipv6;
    std::string date;         // YYYY-MM-DD when the data tell their own date, else empty
    std::string description;  // what the source says it is (a MaxMind DB's type), else empty
    ParseSummary csv4, csv6;  // of a CSV: what each family's reading passed over
};

// Reads `file`; a compressed MaxMind DB is unpacked into `scratch` first. No
// more than `maxBytes` are unpacked. Throws SourceError (a malformed line
// named with its number, a cut or empty file) or lookup::Error (cannot read).
SourceRows readSourceFile(const std::filesystem::path& file, const std::filesystem::path& scratch,
                          std::uint64_t maxBytes);

// Reads a source of networks (`file`, of whichever kind as_data.h reads,
// plain or compressed as above), unpacked into `scratch`. Throws as
// readSourceFile does.
AsData readNetworkSourceFile(const std::filesystem::path& file,
                             const std::filesystem::path& scratch, std::uint64_t maxBytes);

// The kind of `file` as readSourceFile tells it, from its first bytes only:
// enough to know whether a checksum file belongs beside it before it is read.
SourceRows::Kind sourceKind(const std::filesystem::path& file, std::uint64_t maxBytes);

// A time as the provenance writes dates: YYYY-MM-DD, in UTC.
std::string isoDate(std::time_t seconds);

}  // namespace ipcountry::data
