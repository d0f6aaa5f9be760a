#include "update_options.h"

#include <chrono>
#include <iostream>
#include <string_view>

#include "source_table.h"

#ifndef IPCOUNTRY_VERSION
#define IPCOUNTRY_VERSION "(built outside CMake)"
#endif

namespace ipcountry::data {
namespace fs = std::filesystem;
namespace {

// Also the source of the manual page (help2man, with ipcountry-update-data.h2m).
constexpr const char* kHelp =
    // One line: help2man takes the usage's first line alone for the SYNOPSIS.
    "Usage: ipcountry-update-data [--data-dir DIR | --user | --system] [--check DAYS] "
    "[OPTION...] [SOURCE...]\n"
    "Fetch or read the country ranges of one or more sources, convert them into\n"
    "the range files IP_db.dbf and IP6_db.dbf that ipcountry and ipcountry-batch\n"
    "read, and install them in a data folder in one step.\n"
    "\n"
    "Sources (registries when none is given):\n"
    "  registries          the daily delegated-extended statistics files of the\n"
    "                      five regional registries (AFRINIC, APNIC, ARIN, LACNIC,\n"
    "                      RIPE NCC), fetched from the registries themselves, each\n"
    "                      checked against the MD5 checksum file published beside\n"
    "                      it and against its own record counts, and dated by its\n"
    "                      own version line. They answer where a block is\n"
    "                      registered, not where its addresses are used: a block a\n"
    "                      registry gives to an internet provider keeps that\n"
    "                      provider's country wherever its customers are\n"
    "  ip-location-db      the channel the packaged data came from (ip-location-db's\n"
    "                      geo-whois-asn-country CSVs on npm): frozen, its last data\n"
    "                      are of 2026-06-17 and it will bring nothing newer; use\n"
    "                      --url for a location that still publishes these files\n"
    "  dbip-lite           DB-IP's monthly IP to Country Lite CSV (geolocation:\n"
    "                      where the addresses are used; CC BY 4.0)\n"
    "  FILE or URL         a registry statistics file (checked against FILE.md5 or\n"
    "                      URL.md5 beside it when there is one), a MaxMind DB\n"
    "                      country database (.mmdb: country.iso_code as in\n"
    "                      GeoLite2-Country and DB-IP's lite edition, or\n"
    "                      country_code), or a CSV of start,end,country ranges as\n"
    "                      ipcountry-make-ip-db reads; any of them compressed with\n"
    "                      gzip, bzip2, xz or zstd. The kind is told from the\n"
    "                      content, not the name\n"
    "Where sources overlap, a later source wins for its own addresses. The\n"
    "special-purpose address blocks (private, loopback, documentation, ...) are\n"
    "left without a country whatever a source says, unless --keep-special.\n"
    "\n"
    "Sources of networks (the AS number and operator of ipcountry-batch --asn),\n"
    "given with --asn:\n"
    "  ip-location-db-asn  @ip-location-db/asn's CSVs on npm, the source of the\n"
    "                      packaged networks (CC BY 4.0)\n"
    "  iptoasn             iptoasn's ip2asn-combined.tsv\n"
    "  FILE or URL         a MaxMind DB ASN database (autonomous_system_number and\n"
    "                      autonomous_system_organization, as in GeoLite2-ASN and\n"
    "                      DB-IP's ASN lite edition), a TSV of range start, end, AS\n"
    "                      number, country, description (ip2asn-combined.tsv), or\n"
    "                      a CSV of range start, end, AS number, operator; packed\n"
    "                      or not, as above\n"
    "Where they overlap, the narrower range holds the addresses they share.\n"
    "The special-purpose blocks have no network.\n"
    "\n"
    "Where:\n"
    "  --data-dir DIR      install into DIR\n"
    "  --user              install into $XDG_DATA_HOME/ipcountry, by default\n"
    "                      ~/.local/share/ipcountry (the default for a user)\n"
    "  --system            install into /var/lib/ipcountry (the default for root)\n"
    "\n"
    "Options:\n"
    "  --check DAYS        fetch nothing: print the age of the data the programs\n"
    "                      answer from (the folder they would choose, named) and\n"
    "                      exit with 1 when it is older than DAYS days\n"
    "  --asn SOURCE        also install the networks of SOURCE (repeatable), in\n"
    "                      the same step as the country ranges; an update without\n"
    "                      --asn keeps the networks installed before\n"
    "  --asn-only          install the networks of --asn alone: the country\n"
    "                      ranges installed stay as they are\n"
    "  --allow-older       install data older than the installed data (refused\n"
    "                      otherwise)\n"
    "  --date YYYY-MM-DD   the date of data that do not state their own (a plain\n"
    "                      CSV); without it their date is unknown\n"
    "  --mmdb FILE         after a successful update, also write the installed\n"
    "                      ranges to FILE as a MaxMind DB country database (as\n"
    "                      ipcountry-make-ip-db --mmdb does), replaced in one step\n"
    "                      so that a reader such as nginx never sees half a file;\n"
    "                      if only FILE cannot be written, the exit status is 1\n"
    "                      but the new data stay installed\n"
    "  --keep-special      keep the countries a source gives to special-purpose\n"
    "                      blocks (a file mapping internal networks on purpose)\n"
    "  --require-checksums refuse a registry file without the checksum file\n"
    "                      beside it (read with a warning otherwise)\n"
    "  --url NAME=URL      fetch NAME from URL instead of its published address;\n"
    "                      NAME is one of afrinic, apnic, arin, lacnic, ripencc,\n"
    "                      ip-location-db-ipv4, ip-location-db-ipv6, dbip-lite,\n"
    "                      ip-location-db-asn-ipv4, ip-location-db-asn-ipv6,\n"
    "                      iptoasn. The environment variable IPCOUNTRY_URL_NAME\n"
    "                      (upper case, _ for -) does the same\n"
    "  --retries N         try a download that failed for a passing reason (no\n"
    "                      connection, a reset, a timeout, HTTP 5xx, 408 or 429)\n"
    "                      up to N more times (default 3), waiting twice as long\n"
    "                      each time, or as long as the server asks\n"
    "  --retry-wait SECONDS  the longest wait before the first retry (default 5);\n"
    "                      each wait is between half of it and all of it\n"
    "  --connect-timeout SECONDS  give up connecting after SECONDS (default 30)\n"
    "  --timeout SECONDS   give up a download after SECONDS (default 900)\n"
    "  --stall-timeout SECONDS  give up a download when nothing arrives for\n"
    "                      SECONDS (default 60)\n"
    "  --max-size MB       refuse a download or an unpacked file larger than MB\n"
    "                      megabytes (default 1024)\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "Published addresses are fetched over HTTPS only; an address given on the\n"
    "command line or with --url may be plain HTTP. The data folder stays a\n"
    "folder; its range files are links through the link .current to a\n"
    "generation folder inside it (.gen-XXXXXX). An update writes a new\n"
    "generation and replaces .current in one step, so a failed download, a\n"
    "checksum that does not match, a cut, malformed (named with its line\n"
    "number) or empty source, a full disk or a kill leave the installed data\n"
    "as they were, and nothing is written outside the folder. The previous\n"
    "generation is kept until the next update, for programs still reading it.\n"
    "The folder's other files (its own Country.dbf, flags) are left alone.\n"
    "provenance.txt beside the range files names each source with its licence\n"
    "and the date of the data (ranges-date, the oldest of the sources, or\n"
    "unknown), which ipcountry-batch --version shows. A date is the data's own\n"
    "(a registry's version line, a MaxMind DB's build time, the publisher's\n"
    "date for a named source, --date), never the time a file was written.\n"
    "\n"
    "Exit status:\n"
    "  0   the data were installed; with --check, they are not older than DAYS\n"
    "  1   a source could not be fetched or read, the data are older than the\n"
    "      installed data, or they could not be installed (nothing was\n"
    "      changed); with --check, the data are older than DAYS or their age\n"
    "      is unknown\n"
    "  2   wrong usage\n";

constexpr const char* kUsage =
    "Usage: ipcountry-update-data [--data-dir DIR | --user | --system] [--check DAYS] "
    "[SOURCE...]\n";

int usageError(const std::string& problem) {
    std::cerr << kUpdateProgram << ": " << problem << '\n'
              << kUsage << "Try 'ipcountry-update-data --help' for more information.\n";
    return 2;
}

std::optional<long> number(std::string_view text, bool zeroAllowed) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const long value = std::stol(std::string(text));
    if (value == 0 && !zeroAllowed) return std::nullopt;
    return value;
}

// YYYY-MM-DD of a real day.
bool isDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return false;
    const int y = std::stoi(std::string(text.substr(0, 4)));
    const unsigned m = static_cast<unsigned>(std::stoi(std::string(text.substr(5, 2))));
    const unsigned d = static_cast<unsigned>(std::stoi(std::string(text.substr(8, 2))));
    return std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(m),
                                       std::chrono::day(d))
        .ok();
}

}  // namespace

std::optional<int> parseUpdateOptions(int argc, char** argv, UpdateOptions& options) {
    int whereGiven = 0;
    FetchOptions& fetch = options.reader.fetch;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string_view(argv[++i]);
        };
        // A count for an option: zero only where it means something.
        auto count = [&](long& into, bool zeroAllowed) {
            const auto text = value();
            const auto n = text ? number(*text, zeroAllowed) : std::nullopt;
            if (!n) return false;
            into = *n;
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kHelp;
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--version") {
            std::cout << kUpdateProgram << " " << IPCOUNTRY_VERSION << '\n';
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--data-dir") {
            const auto dir = value();
            if (!dir || dir->empty()) return usageError("--data-dir needs a folder");
            options.dataDir = fs::path(*dir);
            ++whereGiven;
        } else if (arg == "--user") {
            options.where = UpdateOptions::Where::User;
            ++whereGiven;
        } else if (arg == "--system") {
            options.where = UpdateOptions::Where::System;
            ++whereGiven;
        } else if (arg == "--check") {
            long days = 0;
            if (!count(days, true)) return usageError("--check needs a number of days");
            options.checkDays = days;
        } else if (arg == "--mmdb") {
            const auto file = value();
            if (!file || file->empty()) return usageError("--mmdb needs a FILE");
            options.mmdb = fs::path(*file);
        } else if (arg == "--asn") {
            const auto source = value();
            if (!source || source->empty()) return usageError("--asn needs a SOURCE");
            options.networkSources.emplace_back(*source);
        } else if (arg == "--asn-only") {
            options.networksOnly = true;
        } else if (arg == "--keep-special") {
            options.keepSpecial = true;
        } else if (arg == "--allow-older") {
            options.allowOlder = true;
        } else if (arg == "--require-checksums") {
            options.reader.requireChecksums = true;
        } else if (arg == "--date") {
            const auto text = value();
            if (!text || !isDate(*text)) return usageError("--date needs a date as YYYY-MM-DD");
            options.reader.date = std::string(*text);
        } else if (arg == "--url") {
            const auto text = value();
            const std::size_t equals = text ? text->find('=') : std::string_view::npos;
            if (equals == std::string_view::npos) return usageError("--url needs NAME=URL");
            const std::string name(text->substr(0, equals));
            if (findFeed(name) == nullptr)
                return usageError("--url: no source address is named " + name);
            options.reader.urls[name] = std::string(text->substr(equals + 1));
        } else if (arg == "--retries") {
            long retries = 0;
            if (!count(retries, true)) return usageError("--retries needs a number");
            options.reader.retry.retries = static_cast<int>(retries);
        } else if (arg == "--retry-wait") {
            long seconds = 0;
            if (!count(seconds, true)) return usageError("--retry-wait needs a number of seconds");
            options.reader.retry.firstWaitSeconds = static_cast<double>(seconds);
        } else if (arg == "--connect-timeout") {
            if (!count(fetch.connectTimeoutSeconds, false))
                return usageError("--connect-timeout needs a number of seconds");
        } else if (arg == "--timeout") {
            if (!count(fetch.timeoutSeconds, false))
                return usageError("--timeout needs a number of seconds");
        } else if (arg == "--stall-timeout") {
            if (!count(fetch.stallSeconds, false))
                return usageError("--stall-timeout needs a number of seconds");
        } else if (arg == "--max-size") {
            long megabytes = 0;
            if (!count(megabytes, false))
                return usageError("--max-size needs a number of megabytes");
            fetch.maxBytes = static_cast<std::uint64_t>(megabytes) << 20;
        } else if (arg == "--") {
            for (++i; i < argc; ++i) options.sources.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + std::string(arg));
        } else {
            options.sources.emplace_back(arg);
        }
    }
    if (whereGiven > 1) return usageError("--data-dir, --user and --system exclude each other");
    if (options.checkDays && !options.sources.empty())
        return usageError("--check fetches nothing: no SOURCE");
    if (options.checkDays && options.mmdb) return usageError("--check writes nothing: no --mmdb");
    if (options.networksOnly && options.networkSources.empty())
        return usageError("--asn-only needs a source of networks: --asn SOURCE");
    if (options.networksOnly && !options.sources.empty())
        return usageError("--asn-only reads no country ranges: no SOURCE");
    if (options.checkDays && !options.networkSources.empty())
        return usageError("--check fetches nothing: no --asn");
    if (options.sources.empty() && !options.networksOnly)
        options.sources.emplace_back(kDefaultSource);
    fetch.userAgent = std::string(kUpdateProgram) + "/" + IPCOUNTRY_VERSION;
    return std::nullopt;
}

}  // namespace ipcountry::data
