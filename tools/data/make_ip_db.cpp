// ipcountry-make-ip-db: a country database's CSV ranges into the range file
// the program reads. `--help` tells how to use it; the manual page is made
// from that text.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/error_text.h"
#include "common/output_file.h"
#include "country_mmdb.h"
#include "ip_db_builder.h"
#include "lookup/data_folder.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"
#include "source_file.h"

#ifndef IPCOUNTRY_VERSION
#define IPCOUNTRY_VERSION "(built outside CMake)"
#endif

namespace data = ipcountry::data;
namespace lookup = ipcountry::lookup;
namespace fs = std::filesystem;

namespace {

// Also the source of the manual page (help2man, with ipcountry-make-ip-db.h2m).
constexpr const char* kHelp =
    "Usage: ipcountry-make-ip-db [--ipv6] [--keep-special] SOURCE.csv OUTPUT.dbf [COUNTS.tsv]\n"
    "  or:  ipcountry-make-ip-db --mmdb OUTPUT.mmdb [DATA_DIR]\n"
    "Convert the address ranges of a country database, in CSV form, into the\n"
    "range file that ipcountry and ipcountry-batch read: IP_db.dbf from the IPv4\n"
    "rows, or with --ipv6 IP6_db.dbf from the IPv6 rows.\n"
    "\n"
    "Source:\n"
    "  One range per line: start,end,country, the two-letter code of the\n"
    "  country, upper case. The addresses are text (1.0.0.0, 2001:200::) or\n"
    "  numbers (16777216 for IPv4; for IPv6 the 128-bit number in decimal).\n"
    "  Fields may stand in double quotes, more columns may follow (a country's\n"
    "  name), and a first line of column names is passed over. Rows of the\n"
    "  other family (by their text) are passed over too, so that a source that\n"
    "  holds both is converted once with and once without --ipv6. A country of\n"
    "  - leaves its range unknown, as are the addresses no row holds. Where\n"
    "  rows overlap, a later row wins for its own addresses.\n"
    "  The source may also be a registry statistics file or a MaxMind DB\n"
    "  country database, and any of them may be compressed with gzip, bzip2, xz\n"
    "  or zstd: the kind is told from the content, as ipcountry-update-data\n"
    "  tells it.\n"
    "\n"
    "  The special-purpose address blocks of the IANA registries (private\n"
    "  networks such as 10.0.0.0/8 and 192.168.0.0/16, loopback, link-local,\n"
    "  shared address space, documentation such as 192.0.2.0/24 and\n"
    "  2001:db8::/32, benchmarking, unique-local fc00::/7, multicast, reserved\n"
    "  240.0.0.0/4, ...) belong to no country: they are cut out of the ranges,\n"
    "  whatever the source says, except for the few blocks that the registries\n"
    "  call globally reachable (such as 192.0.0.9/32). A source that leaves no\n"
    "  range is refused.\n"
    "\n"
    "MaxMind DB:\n"
    "  With --mmdb, write the ranges of a data folder (IP_db.dbf, IP6_db.dbf,\n"
    "  Country.dbf and provenance.txt of DATA_DIR; by default the folder that\n"
    "  ipcountry-batch reads) as one MaxMind DB country database of both\n"
    "  families, the file that nginx's geoip2 module, syslog-ng's geoip2 parser,\n"
    "  GoAccess and the MaxMind DB readers of many languages read. It answers\n"
    "  what ipcountry-batch find answers: country.iso_code, country.names.en,\n"
    "  continent.code and continent.names.en, as GeoLite2-Country lays them out,\n"
    "  and no record for an address without a country. IPv4 addresses are\n"
    "  found as such and in their ::ffff:a.b.c.d and 2002:: (6to4) forms. Its\n"
    "  metadata names the sources of the data, their licences and its date.\n"
    "\n"
    "Options:\n"
    "  --mmdb OUTPUT.mmdb  write a MaxMind DB from a data folder (see above)\n"
    "  --ipv6              read the IPv6 rows and write IP6_db.dbf\n"
    "  --keep-special      keep the countries the source gives to special-purpose\n"
    "                      blocks, for a file that maps internal networks to\n"
    "                      offices on purpose\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "OUTPUT.dbf is written beside its final name and renamed into place only\n"
    "when it is whole, so a failed run leaves any earlier file as it was; it\n"
    "keeps that file's mode, and a symbolic link there stays a link to the\n"
    "new file. A device or FIFO is written in place. The\n"
    "optional COUNTS.tsv (IPv4 only) receives CODE<TAB>ADDRESSES per country,\n"
    "most first. A summary goes to standard error; a malformed line is named\n"
    "with its number and nothing is written.\n"
    "\n"
    "Exit status:\n"
    "  0   the range file (or the database) was written\n"
    "  1   the source could not be read, held a malformed line or left no range,\n"
    "      or the output could not be written\n"
    "  2   wrong usage\n";

int usageError(const std::string& problem) {
    std::cerr << "ipcountry-make-ip-db: " << problem
              << "\nUsage: ipcountry-make-ip-db [--ipv6] [--keep-special] SOURCE.csv OUTPUT.dbf "
                 "[COUNTS.tsv]\n"
                 "  or:  ipcountry-make-ip-db --mmdb OUTPUT.mmdb [DATA_DIR]\n"
                 "Try 'ipcountry-make-ip-db --help' for more information.\n";
    return 2;
}

// Far above any real source unpacked; a bigger one is not a country database.
constexpr std::uint64_t kMaxSourceBytes = std::uint64_t{4} << 30;

// A temporary folder, removed with its contents.
class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code ec;
        std::string name =
            (std::filesystem::temp_directory_path(ec) / "ipcountry-make-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary folder: " +
                                     std::string(std::strerror(errno)));
        m_path = name;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Writes `text` to `target` as every output file of ours is written: whole
// or not at all, into the file a link names, in place on a device.
bool writeBeside(const std::string& target, const std::string& text) {
    if (const auto problem = ipcountry::output::writeOutputFile(target, text)) {
        std::cerr << target << ": cannot write: " << problem->reason << '\n';
        return false;
    }
    return true;
}

// A source read as a stream, through the one opener of files: a failure
// while reading ends the reading with its reason (the stream rethrows it).
class SourceBuffer final : public std::streambuf {
public:
    explicit SourceBuffer(const char* source) : m_file(source) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const std::size_t n = m_file.read(m_buffer, sizeof m_buffer);
        if (n == 0) return traits_type::eof();
        setg(m_buffer, m_buffer, m_buffer + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    lookup::OpenedFile m_file;
    char m_buffer[1 << 16];
};

// Why `source` could not be converted: an error about a file names that
// file, as the driver's messages do; anything else is told after the source.
void sayNotConverted(const char* source, const std::exception& e) {
    const auto* error = dynamic_cast<const lookup::Error*>(&e);
    if (error != nullptr && !error->file().empty()) {
        std::cerr << ipcountry::output::problemText(*error) << '\n';
        return;
    }
    std::cerr << source << ": " << e.what() << '\n';
}

// A plain (not packed) CSV, which the converter can read as it goes: not a
// registry file, not a MaxMind DB, none of the packers' signatures.
bool isPlainCsv(const char* source) {
    std::string start(4096, '\0');
    try {
        lookup::OpenedFile file(source);
        std::size_t filled = 0;
        while (filled < start.size()) {
            const std::size_t n = file.read(start.data() + filled, start.size() - filled);
            if (n == 0) break;
            filled += n;
        }
        start.resize(filled);
    } catch (const lookup::Error&) {
        return false;  // the reader of any source says why
    }
    for (const std::string_view magic : {std::string_view("\x1f\x8b"), std::string_view("BZh"),
                                         std::string_view("\xfd"
                                                          "7zXZ"),
                                         std::string_view("\x28\xb5\x2f\xfd")})
        if (start.starts_with(magic)) return false;
    if (start.find('\0') != std::string::npos) return false;
    try {
        return data::sourceKind(source, kMaxSourceBytes) == data::SourceRows::Kind::Csv;
    } catch (const std::exception&) {
        return false;  // as above: told when the source is read whole
    }
}

enum class Streamed { Written, Failed, ReadWhole };

// A sorted CSV converted as it is read, in memory about the size of the
// range file; ReadWhole when a row turns up out of order or none is read,
// for the caller to read the source whole.
template <class Address>
Streamed convertSorted(const char* source, const char* output,
                       const data::ConvertOptions& options) {
    constexpr bool kIpv6 = std::is_same_v<Address, data::Address6>;
    struct OutOfOrder {};
    data::ParseSummary summary;
    std::size_t rowCount = 0;
    std::string text;
    std::size_t lineCount = 0;
    try {
        SourceBuffer buffer(source);
        std::istream in(&buffer);
        in.exceptions(std::ios::badbit);
        data::SortedRangeFileWriter<Address> writer(options, text);
        data::forEachRangeCsvRow<Address>(
            in,
            [&](data::BasicSourceRange<Address>& row) {
                if (!writer.add(std::move(row))) throw OutOfOrder{};
                ++rowCount;
            },
            &summary);
        // Nothing at all: the reader says what the source holds instead.
        if (rowCount == 0 && summary.otherFamily == 0) return Streamed::ReadWhole;
        if (rowCount == 0) {
            // Almost surely the wrong family asked for: an empty file would lie.
            std::cerr << source << ": no " << (kIpv6 ? "IPv6" : "IPv4") << " rows, but "
                      << summary.otherFamily << (kIpv6 ? " IPv4" : " IPv6") << " rows"
                      << (kIpv6 ? "" : " (use --ipv6)") << '\n';
            return Streamed::Failed;
        }
        writer.finish();
        lineCount = writer.lines();
    } catch (const OutOfOrder&) {
        return Streamed::ReadWhole;
    } catch (const std::bad_alloc&) {
        std::cerr << "out of memory while reading " << source << '\n';
        return Streamed::Failed;
    } catch (const std::exception& e) {
        sayNotConverted(source, e);
        return Streamed::Failed;
    }
    if (!writeBeside(output, text)) return Streamed::Failed;
    using Family = std::conditional_t<kIpv6, lookup::Ipv6Ranges, lookup::Ipv4Ranges>;
    lookup::saveRangeIndexOf<Family>(output);
    std::cerr << rowCount << " rows, " << lineCount << " lines";
    if (options.keepSpecial) std::cerr << "; special-purpose blocks kept";
    if (summary.otherFamily > 0)
        std::cerr << "; " << summary.otherFamily << (kIpv6 ? " IPv4" : " IPv6")
                  << " rows passed over";
    if (summary.noCountry > 0) std::cerr << "; " << summary.noCountry << " rows without a country";
    std::cerr << '\n';
    return Streamed::Written;
}

// Converts and writes; false after reporting a failure. The source is read
// as the updater reads it: compressed or not, its kind told from its content.
template <class Address>
bool convert(const char* source, const char* output, const data::ConvertOptions& options,
             bool wantLines, std::vector<data::BasicIpDbLine<Address>>& lines) {
    constexpr bool kIpv6 = std::is_same_v<Address, data::Address6>;
    // `lines` are wanted for COUNTS.tsv; otherwise a sorted plain CSV, which
    // every known source is, is converted without holding its rows.
    std::error_code ec;
    if (!wantLines && fs::is_regular_file(source, ec) && isPlainCsv(source)) {
        switch (convertSorted<Address>(source, output, options)) {
            case Streamed::Written:
                return true;
            case Streamed::Failed:
                return false;
            case Streamed::ReadWhole:
                break;  // read again, whole
        }
    }
    std::size_t rowCount = 0, otherFamily = 0, noCountry = 0;
    try {
        // A packed MaxMind DB is unpacked into a folder of its own.
        ScratchFolder scratch;
        data::SourceRows rows = data::readSourceFile(source, scratch.path(), kMaxSourceBytes);
        const auto& mine = [&]() -> const auto& {
            if constexpr (kIpv6)
                return rows.ipv6;
            else
                return rows.ipv4;
        }
        ();
        const data::ParseSummary& summary = kIpv6 ? rows.csv6 : rows.csv4;
        // A CSV's plain numbers past 32 bits are read as IPv6 rows, not counted
        // as passed over: either way they are the other family's.
        otherFamily = std::max<std::size_t>(
            rows.kind == data::SourceRows::Kind::Csv ? summary.otherFamily : 0,
            kIpv6 ? rows.ipv4.size() : rows.ipv6.size());
        noCountry = summary.noCountry;
        if (mine.empty() && otherFamily > 0) {
            // Almost surely the wrong family asked for: an empty file would lie.
            std::cerr << source << ": no " << (kIpv6 ? "IPv6" : "IPv4") << " rows, but "
                      << otherFamily << (kIpv6 ? " IPv4" : " IPv6") << " rows"
                      << (kIpv6 ? "" : " (use --ipv6)") << '\n';
            return false;
        }
        rowCount = mine.size();
        lines = data::buildRangeFileLines(mine, options);
    } catch (const std::bad_alloc&) {
        std::cerr << "out of memory while reading " << source << '\n';
        return false;
    } catch (const std::exception& e) {
        sayNotConverted(source, e);
        return false;
    }
    std::ostringstream text;
    data::writeIpDb(text, lines);
    if (!writeBeside(output, std::move(text).str())) return false;
    // Its index beside it, so that the first reader maps instead of parsing;
    // a reader builds it too where this cannot.
    using Family = std::conditional_t<kIpv6, lookup::Ipv6Ranges, lookup::Ipv4Ranges>;
    lookup::saveRangeIndexOf<Family>(output);
    std::cerr << rowCount << " rows, " << lines.size() << " lines";
    if (options.keepSpecial) std::cerr << "; special-purpose blocks kept";
    if (otherFamily > 0)
        std::cerr << "; " << otherFamily << (kIpv6 ? " IPv4" : " IPv6") << " rows passed over";
    if (noCountry > 0) std::cerr << "; " << noCountry << " rows without a country";
    std::cerr << '\n';
    return true;
}

int writeMmdb(const std::string& output, const ipcountry::lookup::DataFolders& folders) {
    data::CountryDatabaseSummary summary;
    std::string bytes;
    try {
        bytes = data::buildCountryDatabase(folders, &summary);
    } catch (const ipcountry::lookup::Error& e) {
        std::cerr << "ipcountry-make-ip-db: " << ipcountry::output::problemText(e) << '\n';
        return 1;
    } catch (const data::mmdb::WriteError& e) {
        std::cerr << "ipcountry-make-ip-db: " << output << ": " << e.what() << '\n';
        return 1;
    }
    if (const auto problem = ipcountry::output::writeOutputFile(output, bytes)) {
        std::cerr << output << ": cannot write: " << problem->reason << '\n';
        return 1;
    }
    std::cerr << summary.ipv4Ranges << " IPv4 and " << summary.ipv6Ranges << " IPv6 ranges of "
              << summary.countries << " countries from " << folders.ranges.string() << "; "
              << summary.tree.nodeCount << " nodes of " << summary.tree.recordSize
              << "-bit records, " << bytes.size() << " bytes\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> operands;
    bool ipv6 = false;
    std::optional<std::string> mmdbOutput;
    data::ConvertOptions convertOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kHelp;
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--version") {
            std::cout << "ipcountry-make-ip-db " << IPCOUNTRY_VERSION << '\n';
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--mmdb") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return usageError("--mmdb needs an OUTPUT.mmdb");
            mmdbOutput = argv[++i];
        } else if (arg == "--ipv6") {
            ipv6 = true;
        } else if (arg == "--keep-special") {
            convertOptions.keepSpecial = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + std::string(arg));
        } else {
            operands.push_back(arg);
        }
    }
    if (mmdbOutput) {
        if (ipv6 || convertOptions.keepSpecial)
            return usageError(
                "--mmdb writes both families from range files: no --ipv6 or --keep-special");
        if (operands.size() > 1) return usageError("--mmdb takes at most one DATA_DIR");
        return writeMmdb(*mmdbOutput, operands.empty() ? data::driverDataFolders()
                                                       : ipcountry::lookup::DataFolders::allIn(
                                                             fs::path(operands[0])));
    }
    if (operands.size() < 2 || operands.size() > 3)
        return usageError("a SOURCE and an OUTPUT are needed");
    if (ipv6 && operands.size() == 3) return usageError("COUNTS.tsv is for IPv4 only");
    const char* source = operands[0].data();
    const char* output = operands[1].data();
    if (ipv6) {
        std::vector<data::IpDbLine6> lines;
        return convert(source, output, convertOptions, false, lines) ? 0 : 1;
    }
    std::vector<data::IpDbLine> lines;
    if (!convert(source, output, convertOptions, operands.size() == 3, lines)) {
        return 1;
    }
    if (operands.size() == 3) {
        const auto counts = data::countAddresses(lines);
        std::vector<std::pair<std::string, std::uint64_t>> sorted(counts.begin(), counts.end());
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        std::ostringstream tsv;
        for (const auto& [code, n] : sorted) {
            tsv << code << '\t' << n << '\n';
        }
        const bool written = writeBeside(operands[2].data(), tsv.str());
        if (!written) return 1;
    }
    return 0;
}
