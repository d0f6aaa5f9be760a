// ipcountry-update-data: fetches or reads country ranges, converts them into
// both range files through the converter and installs them in one step.
// `--help` tells how to use it; the manual page is made from that text.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "checksum.h"
#include "common/output_file.h"
#include "country_mmdb.h"
#include "data_install.h"
#include "fetch.h"
#include "ip_db_builder.h"
#include "lookup/data_folder.h"
#include "lookup/range_file.h"
#include "lookup/error.h"
#include "provenance.h"
#include "source_file.h"

#ifndef IPCOUNTRY_VERSION
#define IPCOUNTRY_VERSION "(built outside CMake)"
#endif

namespace data = ipcountry::data;
namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "ipcountry-update-data";

// Also the source of the manual page (help2man, with ipcountry-update-data.h2m).
constexpr const char* kHelp =
    // One line: help2man takes the usage's first line alone for the SYNOPSIS.
    "Usage: ipcountry-update-data [--data-dir DIR | --user | --system] [--check DAYS] "
    "[OPTION...] [SOURCE...]\n"
    "Fetch or read the country ranges of one or more sources, convert them into\n"
    "the range files IP_db.dbf and IP6_db.dbf that ipcountry and ipcountry-batch\n"
    "read, and install them in a data folder in one step.\n"
    "\n"
    "Sources (ip-location-db when none is given):\n"
    "  ip-location-db      the upstream of the packaged data (ip-location-db's\n"
    "                      geo-whois-asn-country, CSVs of both families refreshed\n"
    "                      daily): the same kind of answers as the packaged data,\n"
    "                      but current\n"
    "  registries          the daily delegated-extended statistics files of the\n"
    "                      five regional registries (AFRINIC, APNIC, ARIN, LACNIC,\n"
    "                      RIPE NCC), each checked against the MD5 checksum file\n"
    "                      published beside it and against its own record counts.\n"
    "                      Authoritative, but they give the country a top-level\n"
    "                      block is registered to, not where its addresses are\n"
    "                      used: a block a registry gives to an internet provider\n"
    "                      keeps that provider's country wherever its customers are\n"
    "  dbip-lite           DB-IP's monthly IP to Country Lite CSV (geolocation,\n"
    "                      CC BY 4.0)\n"
    "  FILE or URL         a registry statistics file, a MaxMind DB country\n"
    "                      database (.mmdb: country.iso_code as in GeoLite2-Country\n"
    "                      and DB-IP's lite edition, or country_code), or a CSV of\n"
    "                      start,end,country ranges as ipcountry-make-ip-db reads;\n"
    "                      any of them compressed with gzip, bzip2, xz or zstd. The\n"
    "                      kind is told from the content, not the name\n"
    "Where sources overlap, a later source wins for its own addresses. The\n"
    "special-purpose address blocks (private, loopback, documentation, ...) are\n"
    "left without a country whatever a source says, unless --keep-special.\n"
    "\n"
    "Where:\n"
    "  --data-dir DIR      install into DIR\n"
    "  --user              install into $XDG_DATA_HOME/ipcountry, by default\n"
    "                      ~/.local/share/ipcountry (the default for a user)\n"
    "  --system            install into /var/lib/ipcountry (the default for root)\n"
    "\n"
    "Options:\n"
    "  --check DAYS        fetch nothing: print the age of the installed data and\n"
    "                      exit with 1 when it is older than DAYS days\n"
    "  --mmdb FILE         after a successful update, also write the installed\n"
    "                      ranges to FILE as a MaxMind DB country database (as\n"
    "                      ipcountry-make-ip-db --mmdb does), replaced in one step\n"
    "                      so that a reader such as nginx never sees half a file;\n"
    "                      if only FILE cannot be written, the exit status is 1\n"
    "                      but the new data stay installed\n"
    "  --keep-special      keep the countries a source gives to special-purpose\n"
    "                      blocks (a file mapping internal networks on purpose)\n"
    "  --url NAME=URL      fetch NAME from URL instead of its published address;\n"
    "                      NAME is one of ip-location-db-ipv4, ip-location-db-ipv6,\n"
    "                      afrinic, apnic, arin, lacnic, ripencc, dbip-lite. The\n"
    "                      environment variable IPCOUNTRY_URL_NAME (upper case, _\n"
    "                      for -) does the same\n"
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
    "as they were, and nothing is written outside the folder. The folder's other\n"
    "files (its own Country.dbf, flags) are left alone. provenance.txt beside\n"
    "the range files names each source with its licence and the date of the\n"
    "data (ranges-date, the oldest of the sources), which ipcountry-batch\n"
    "--version shows.\n"
    "\n"
    "Exit status:\n"
    "  0   the data were installed; with --check, they are not older than DAYS\n"
    "  1   a source could not be fetched or read, or the data could not be\n"
    "      installed (nothing was changed); with --check, the data are older\n"
    "      than DAYS or their age is unknown\n"
    "  2   wrong usage\n";

constexpr const char* kUsage =
    "Usage: ipcountry-update-data [--data-dir DIR | --user | --system] [--check DAYS] "
    "[SOURCE...]\n";

// Everything a named source fetches, by the name --url and the environment use.
const std::map<std::string, std::string, std::less<>>& publishedAddresses() {
    static const std::map<std::string, std::string, std::less<>> kAddresses = {
        {"ip-location-db-ipv4",
         "https://cdn.jsdelivr.net/npm/@ip-location-db/geo-whois-asn-country/"
         "geo-whois-asn-country-ipv4.csv"},
        {"ip-location-db-ipv6",
         "https://cdn.jsdelivr.net/npm/@ip-location-db/geo-whois-asn-country/"
         "geo-whois-asn-country-ipv6.csv"},
        {"afrinic", "https://ftp.afrinic.net/pub/stats/afrinic/delegated-afrinic-extended-latest"},
        {"apnic", "https://ftp.apnic.net/stats/apnic/delegated-apnic-extended-latest"},
        {"arin", "https://ftp.arin.net/pub/stats/arin/delegated-arin-extended-latest"},
        {"lacnic", "https://ftp.lacnic.net/pub/stats/lacnic/delegated-lacnic-extended-latest"},
        {"ripencc", "https://ftp.ripe.net/pub/stats/ripencc/delegated-ripencc-extended-latest"},
        // The month is filled in: DB-IP names each month's file by it.
        {"dbip-lite", "https://download.db-ip.com/free/dbip-country-lite-%Y-%m.csv.gz"},
    };
    return kAddresses;
}

const char* const kRegistries[] = {"afrinic", "apnic", "arin", "lacnic", "ripencc"};

struct Options {
    std::optional<fs::path> dataDir;
    enum class Where { Default, User, System } where = Where::Default;
    std::optional<long> checkDays;
    bool keepSpecial = false;
    std::map<std::string, std::string, std::less<>> urls;  // from --url
    data::FetchOptions fetch;
    std::vector<std::string> sources;
    std::optional<fs::path> mmdb;  // from --mmdb
};

// One source as provenance.txt records it.
struct Provenance {
    std::string source;
    std::string licence;
    std::string date;  // YYYY-MM-DD
};

struct Collected {
    std::vector<data::CsvRange> ipv4;
    std::vector<data::CsvRange6> ipv6;
    std::vector<Provenance> provenance;
};

std::string today() { return data::isoDate(std::time(nullptr)); }

int usageError(const std::string& problem) {
    std::cerr << kProgram << ": " << problem << '\n'
              << kUsage << "Try 'ipcountry-update-data --help' for more information.\n";
    return 2;
}

std::optional<long> positiveNumber(std::string_view text, bool zeroAllowed) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const long value = std::stol(std::string(text));
    if (value == 0 && !zeroAllowed) return std::nullopt;
    return value;
}

// The folders the window and the driver read, by their one rule; empty for a
// user whose home is not known.
fs::path targetOf(const Options& options) {
    namespace lookup = ipcountry::lookup;
    if (options.dataDir) return *options.dataDir;
    const fs::path user = lookup::userDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    const fs::path system(lookup::kSystemDataFolder);
    switch (options.where) {
        case Options::Where::User:
            return user;
        case Options::Where::System:
            return system;
        case Options::Where::Default:
            break;
    }
    return ::geteuid() == 0 ? system : user;
}

// The address to fetch `name` from and whether the user gave it (and so may use plain HTTP).
std::pair<std::string, bool> addressOf(const Options& options, const std::string& name) {
    if (const auto given = options.urls.find(name); given != options.urls.end())
        return {given->second, true};
    std::string variable = "IPCOUNTRY_URL_";
    for (const char c : name)
        variable += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && value[0] != '\0')
        return {value, true};
    return {publishedAddresses().find(name)->second, false};
}

class Updater {
public:
    Updater(const Options& options, const fs::path& work) : m_options(options), m_work(work) {}

    // Adds the rows of one source; throws with the reason when it fails.
    void take(const std::string& source, Collected& out) {
        if (source == "ip-location-db") {
            takeIpLocationDb(out);
        } else if (source == "registries") {
            for (const char* registry : kRegistries) takeRegistry(registry, out);
        } else if (source == "dbip-lite") {
            takeDbIpLite(out);
        } else if (data::isUrl(source)) {
            data::FetchOptions settings = m_options.fetch;
            settings.allowHttp = true;
            const fs::path file = scratch("download");
            const data::Fetched fetched = data::fetchToFile(source, file, settings);
            takeFile(file, source, dateOf(fetched), out);
        } else {
            struct stat info {};
            const std::string date =
                ::stat(source.c_str(), &info) == 0 ? data::isoDate(info.st_mtime) : today();
            takeFile(source, fs::absolute(source).string(), date, out);
        }
    }

private:
    fs::path scratch(const std::string& name) {
        return m_work / (std::to_string(++m_files) + "-" + name);
    }

    static std::string dateOf(const data::Fetched& fetched) {
        return fetched.lastModified > 0
                   ? data::isoDate(static_cast<std::time_t>(fetched.lastModified))
                   : today();
    }

    static void append(data::SourceRows& rows, Collected& out) {
        out.ipv4.insert(out.ipv4.end(), rows.ipv4.begin(), rows.ipv4.end());
        out.ipv6.insert(out.ipv6.end(), rows.ipv6.begin(), rows.ipv6.end());
    }

    // A file or a download the user named: its kind decides what provenance can say.
    void takeFile(const fs::path& file, const std::string& name, const std::string& fallbackDate,
                  Collected& out) {
        data::SourceRows rows = data::readSourceFile(file, m_work, maxBytes());
        append(rows, out);
        std::string licence = "not known: see the terms of its publisher";
        std::string source = name;
        if (rows.kind == data::SourceRows::Kind::Mmdb && !rows.description.empty())
            source = rows.description + " " + name;
        if (rows.kind == data::SourceRows::Kind::Registry) {
            source = "registry " + rows.description + " " + name;
            licence = registryLicence(rows.description);
        }
        out.provenance.push_back({source, licence, rows.date.empty() ? fallbackDate : rows.date});
    }

    void takeIpLocationDb(Collected& out) {
        std::string addresses, date;
        for (const char* part : {"ip-location-db-ipv4", "ip-location-db-ipv6"}) {
            const auto [url, given] = addressOf(m_options, part);
            const fs::path file = scratch(part);
            const data::Fetched fetched = fetch(url, given, file, false);
            data::SourceRows rows =
                withUrl(url, [&] { return data::readSourceFile(file, m_work, maxBytes()); });
            append(rows, out);
            addresses += " " + url;
            const std::string partDate = dateOf(fetched);
            if (date.empty() || partDate < date) date = partDate;
        }
        out.provenance.push_back(
            {"@ip-location-db/geo-whois-asn-country" + addresses,
             "CC BY 4.0, IP address data \xC2\xA9 Number Resource Organization (nro.net)", date});
    }

    void takeRegistry(const char* registry, Collected& out) {
        const auto [url, given] = addressOf(m_options, registry);
        const fs::path file = scratch(registry);
        fetch(url, given, file, false);
        // The checksum file is optional: a registry that publishes none is read unchecked.
        const fs::path sumFile = scratch(std::string(registry) + ".md5");
        if (fetch(url + ".md5", given, sumFile, true).found) {
            std::ifstream in(sumFile, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            const auto expected = data::parseMd5File(text);
            if (!expected) throw data::SourceError(url + ".md5: holds no checksum in either form");
            const std::string actual = data::md5OfFile(file);
            if (actual != *expected)
                throw data::SourceError(url + ": the checksum does not match: MD5 " + actual +
                                        ", " + url + ".md5 says " + *expected);
        }
        data::SourceRows rows =
            withUrl(url, [&] { return data::readSourceFile(file, m_work, maxBytes()); });
        if (rows.kind != data::SourceRows::Kind::Registry)
            throw data::SourceError(url + ": not a registry statistics file");
        append(rows, out);
        out.provenance.push_back({"registry " + rows.description + " " + url,
                                  registryLicence(rows.description),
                                  rows.date.empty() ? today() : rows.date});
    }

    void takeDbIpLite(Collected& out) {
        auto [url, given] = addressOf(m_options, "dbip-lite");
        const fs::path file = scratch("dbip-lite");
        data::Fetched fetched;
        if (given) {
            fetched = fetch(url, given, file, false);
        } else {
            // Early in a month its file may not be out yet: last month's is then the newest.
            const std::string pattern = url;
            std::time_t now = std::time(nullptr);
            for (int back = 0;; ++back) {
                std::tm utc{};
                gmtime_r(&now, &utc);
                utc.tm_mday = 1;
                utc.tm_mon -= back;
                const std::time_t month = timegm(&utc);
                gmtime_r(&month, &utc);
                char text[256];
                std::strftime(text, sizeof text, pattern.c_str(), &utc);
                url = text;
                fetched = fetch(url, false, file, back == 0);
                if (fetched.found) break;
            }
        }
        data::SourceRows rows =
            withUrl(url, [&] { return data::readSourceFile(file, m_work, maxBytes()); });
        append(rows, out);
        out.provenance.push_back({"dbip-lite " + url,
                                  "CC BY 4.0, IP Geolocation by DB-IP (https://db-ip.com)",
                                  dateOf(fetched)});
    }

    data::Fetched fetch(const std::string& url, bool given, const fs::path& file,
                        bool missingIsAnswer) {
        data::FetchOptions settings = m_options.fetch;
        settings.allowHttp = given;
        try {
            return data::fetchToFile(url, file, settings, missingIsAnswer);
        } catch (const data::FetchError& e) {
            throw data::FetchError(url + ": " + e.what());
        }
    }

    // Names the address in a reader's error: a named source fetches several.
    template <class Read>
    static data::SourceRows withUrl(const std::string& url, Read read) {
        try {
            return read();
        } catch (const data::SourceError& e) {
            throw data::SourceError(url + ": " + e.what());
        }
    }

    static std::string registryLicence(const std::string& registry) {
        static const std::map<std::string, std::string, std::less<>> kNames = {
            {"afrinic", "AFRINIC"},
            {"apnic", "APNIC"},
            {"arin", "ARIN"},
            {"lacnic", "LACNIC"},
            {"ripencc", "RIPE NCC"}};
        const auto name = kNames.find(registry);
        return "statistics published for public use by " +
               (name != kNames.end() ? name->second : registry) + ", a regional Internet registry";
    }

    std::uint64_t maxBytes() const { return m_options.fetch.maxBytes; }

    const Options& m_options;
    fs::path m_work;
    int m_files = 0;
};

std::string provenanceText(const std::vector<Provenance>& sources) {
    std::string oldest;
    std::ostringstream text;
    text << "# Where the range files beside this one come from (written by " << kProgram << " "
         << IPCOUNTRY_VERSION << " on " << today() << ").\n";
    for (const Provenance& p : sources) {
        text << "ranges=" << p.source << "\nranges-licence=" << p.licence << '\n';
        if (oldest.empty() || p.date < oldest) oldest = p.date;
    }
    // Several sources are as old as the oldest of them.
    text << "ranges-date=" << oldest << '\n';
    return text.str();
}

// The one writer of output files, which syncs each file to the disk.
void writeFile(const fs::path& path, const std::string& content) {
    if (const auto error = ipcountry::output::writeOutputFile(path, content))
        throw data::InstallError(path.string() + ": cannot write: " + error->reason);
}

int check(const fs::path& target, long days) {
    const auto today = ipcountry::batch::today();
    const auto date = ipcountry::batch::rangesDate(target);
    if (!date) {
        std::cout << target.string() << ": the age of the data is not known ("
                  << (fs::exists(target / data::kProvenanceName)
                          ? "provenance.txt has no valid ranges-date"
                          : "no provenance.txt")
                  << ")\n";
        return 1;
    }
    const long age = *ipcountry::batch::dataAgeDays(target, today);
    std::cout << target.string() << ": ranges " << ipcountry::batch::describeAge(*date, today);
    if (age > days) {
        std::cout << ", older than " << days << (days == 1 ? " day" : " days") << '\n';
        return 1;
    }
    std::cout << '\n';
    return 0;
}

// The installed ranges as a MaxMind DB, after the update itself succeeded.
int writeMmdb(const fs::path& file, const fs::path& target) {
    try {
        data::CountryDatabaseSummary summary;
        const std::string bytes =
            data::buildCountryDatabase(data::foldersForRanges(target), &summary);
        if (const auto error = ipcountry::output::writeOutputFile(file, bytes)) {
            std::cerr << kProgram << ": " << file.string() << ": cannot write: " << error->reason
                      << '\n';
            std::cerr << kProgram << ": " << target.string() << ": the new data are installed\n";
            return 1;
        }
        std::cout << file.string() << ": " << summary.countries << " countries, " << bytes.size()
                  << " bytes\n";
        return 0;
    } catch (const ipcountry::lookup::Error& e) {
        std::cerr << kProgram << ": " << file.string() << ": not written: " << e.problem() << '\n';
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << file.string() << ": not written: " << e.what() << '\n';
    }
    std::cerr << kProgram << ": " << target.string() << ": the new data are installed\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int whereGiven = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string_view(argv[++i]);
        };
        auto seconds = [&](long& into) {
            const auto text = value();
            const auto n = text ? positiveNumber(*text, false) : std::nullopt;
            if (!n) return false;
            into = *n;
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kHelp;
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--version") {
            std::cout << kProgram << " " << IPCOUNTRY_VERSION << '\n';
            return std::cout.flush() ? 0 : 1;
        }
        if (arg == "--data-dir") {
            const auto dir = value();
            if (!dir || dir->empty()) return usageError("--data-dir needs a folder");
            options.dataDir = fs::path(*dir);
            ++whereGiven;
        } else if (arg == "--user") {
            options.where = Options::Where::User;
            ++whereGiven;
        } else if (arg == "--system") {
            options.where = Options::Where::System;
            ++whereGiven;
        } else if (arg == "--check") {
            const auto text = value();
            options.checkDays = text ? positiveNumber(*text, true) : std::nullopt;
            if (!options.checkDays) return usageError("--check needs a number of days");
        } else if (arg == "--keep-special") {
            options.keepSpecial = true;
        } else if (arg == "--mmdb") {
            const auto file = value();
            if (!file || file->empty()) return usageError("--mmdb needs a FILE");
            options.mmdb = fs::path(*file);
        } else if (arg == "--url") {
            const auto text = value();
            const std::size_t equals = text ? text->find('=') : std::string_view::npos;
            if (equals == std::string_view::npos) return usageError("--url needs NAME=URL");
            const std::string name(text->substr(0, equals));
            if (!publishedAddresses().contains(name))
                return usageError("--url: no source address is named " + name);
            options.urls[name] = std::string(text->substr(equals + 1));
        } else if (arg == "--connect-timeout") {
            if (!seconds(options.fetch.connectTimeoutSeconds))
                return usageError("--connect-timeout needs a number of seconds");
        } else if (arg == "--timeout") {
            if (!seconds(options.fetch.timeoutSeconds))
                return usageError("--timeout needs a number of seconds");
        } else if (arg == "--stall-timeout") {
            if (!seconds(options.fetch.stallSeconds))
                return usageError("--stall-timeout needs a number of seconds");
        } else if (arg == "--max-size") {
            long megabytes = 0;
            if (!seconds(megabytes)) return usageError("--max-size needs a number of megabytes");
            options.fetch.maxBytes = static_cast<std::uint64_t>(megabytes) << 20;
        } else if (arg == "--") {
            for (++i; i < argc; ++i) options.sources.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + std::string(arg));
        } else {
            options.sources.emplace_back(arg);
        }
    }
    if (whereGiven > 1) return usageError("--data-dir, --user and --system exclude each other");
    const fs::path target = targetOf(options);
    if (target.empty())
        return usageError("neither XDG_DATA_HOME nor HOME is set: name the folder with --data-dir");
    if (options.checkDays) {
        if (!options.sources.empty()) return usageError("--check fetches nothing: no SOURCE");
        if (options.mmdb) return usageError("--check writes nothing: no --mmdb");
        return check(target, *options.checkDays);
    }
    if (options.sources.empty()) options.sources.emplace_back("ip-location-db");
    options.fetch.userAgent = std::string(kProgram) + "/" + IPCOUNTRY_VERSION;

    try {
        data::DataInstaller installer(target);
        Updater updater(options, installer.workDir());
        Collected collected;
        bool failed = false;
        for (const std::string& source : options.sources) {
            const std::size_t ipv4 = collected.ipv4.size(), ipv6 = collected.ipv6.size();
            try {
                updater.take(source, collected);
                std::cout << source << ": " << collected.ipv4.size() - ipv4 << " IPv4 and "
                          << collected.ipv6.size() - ipv6 << " IPv6 ranges\n";
            } catch (const std::exception& e) {
                std::cerr << kProgram << ": " << source << ": " << e.what() << '\n';
                failed = true;
            }
        }
        if (failed) {
            std::cerr << kProgram << ": " << target.string() << ": left as it was\n";
            return 1;
        }
        const data::ConvertOptions convert{options.keepSpecial};
        const auto lines4 = data::buildRangeFileLines(collected.ipv4, convert);
        const auto lines6 = data::buildRangeFileLines(collected.ipv6, convert);
        const std::string provenance = provenanceText(collected.provenance);
        const auto note = installer.install([&](const fs::path& folder) {
            std::ostringstream v4, v6;
            data::writeIpDb(v4, lines4);
            data::writeIpDb(v6, lines6);
            writeFile(folder / data::kIpv4FileName, v4.str());
            writeFile(folder / data::kIpv6FileName, v6.str());
            // Each generation carries the indexes of its own range files.
            ipcountry::lookup::saveRangeIndexOf<ipcountry::lookup::Ipv4Ranges>(folder /
                                                                               data::kIpv4FileName);
            ipcountry::lookup::saveRangeIndexOf<ipcountry::lookup::Ipv6Ranges>(folder /
                                                                               data::kIpv6FileName);
            writeFile(folder / data::kProvenanceName, provenance);
        });
        if (note) std::cerr << kProgram << ": " << target.string() << ": " << *note << '\n';
        const auto date = ipcountry::batch::rangesDate(target);
        std::cout << target.string() << ": " << lines4.size() << " IPv4 and " << lines6.size()
                  << " IPv6 range lines"
                  << (date ? ", " + ipcountry::batch::describeAge(*date, ipcountry::batch::today())
                           : "")
                  << '\n';
        return options.mmdb ? writeMmdb(*options.mmdb, target) : 0;
    } catch (const std::bad_alloc&) {
        std::cerr << kProgram << ": out of memory while converting the ranges\n"
                  << kProgram << ": " << target.string() << ": left as it was\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << e.what() << '\n'
                  << kProgram << ": " << target.string() << ": left as it was\n";
        return 1;
    }
}
