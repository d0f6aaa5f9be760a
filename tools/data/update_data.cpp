// ipcountry-update-data: fetches or reads country ranges, converts them into
// both range files through the converter and installs them in one step.
// `--help` tells how to use it (update_options.cpp); the sources are the
// rows of source_table.cpp, read by source_reader.cpp.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "as_data.h"
#include "common/error_text.h"
#include "common/output_file.h"
#include "common/provenance.h"
#include "country_mmdb.h"
#include "data_install.h"
#include "ip_db_builder.h"
#include "lookup/data_folder.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"
#include "source_reader.h"
#include "update_options.h"

#ifndef IPCOUNTRY_VERSION
#define IPCOUNTRY_VERSION "(built outside CMake)"
#endif

namespace data = ipcountry::data;
namespace provenance = ipcountry::provenance;
namespace lookup = ipcountry::lookup;
namespace fs = std::filesystem;

namespace {

using data::kUpdateProgram;
using data::UpdateOptions;

struct Collected {
    std::vector<data::SourceRange> ipv4;
    std::vector<data::SourceRange6> ipv6;
    std::vector<data::SourcePart> parts;  // their rows moved into ipv4 and ipv6
};

std::string today() { return data::isoDate(std::time(nullptr)); }

// What went wrong with `source` (none: the run as a whole): an error about a
// file in the command line's words, named once when the file is the source.
std::string problemOf(const std::string& source, const std::exception& e) {
    const auto* error = dynamic_cast<const lookup::Error*>(&e);
    const std::string problem =
        error != nullptr ? ipcountry::output::problemText(*error) : std::string(e.what());
    if (source.empty() || (error != nullptr && error->file() == source)) return problem;
    return source + ": " + problem;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// The folder an update installs into, by the one rule of the window and the
// driver; empty for a user whose home is not known.
fs::path targetOf(const UpdateOptions& options) {
    if (options.dataDir) return *options.dataDir;
    const fs::path user = lookup::userDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    const fs::path system(lookup::kSystemDataFolder);
    switch (options.where) {
        case UpdateOptions::Where::User:
            return user;
        case UpdateOptions::Where::System:
            return system;
        case UpdateOptions::Where::Default:
            break;
    }
    return ::geteuid() == 0 ? system : user;
}

// The folder whose ranges the programs answer from: the one asked for, or,
// with no folder named, the one ipcountry-batch would choose.
fs::path answeringFolder(const UpdateOptions& options) {
    if (options.dataDir) return *options.dataDir;
    if (options.where != UpdateOptions::Where::Default) return targetOf(options);
    return lookup::chooseDataFolders(lookup::standardDataFolderPlaces(programDirectory())).ranges;
}

// The date of the whole (ranges or networks): the oldest of the sources, or
// unknown when any source does not state its date.
template <class Part>
std::string oldestDate(const std::vector<Part>& parts) {
    std::string oldest;
    for (const Part& part : parts) {
        if (part.date.empty()) return {};
        if (oldest.empty() || part.date < oldest) oldest = part.date;
    }
    return oldest;
}

// The lines of the installed provenance.txt whose key starts with `prefix`
// (ranges, networks), for the part of the data an update keeps.
std::string keptLines(const fs::path& target, std::string_view prefix) {
    std::string kept;
    std::error_code ec;
    if (!fs::exists(target / data::kProvenanceName, ec)) return kept;
    std::istringstream text(lookup::readWholeFile(target / data::kProvenanceName, 1 << 20));
    for (std::string line; std::getline(text, line);)
        if (line.starts_with(prefix) && line.find('=') != std::string::npos) kept += line + '\n';
    return kept;
}

// `countries` and `networks`: the lines of the new sources, or those kept.
std::string provenanceText(const std::string& countries, const std::string& networks) {
    std::ostringstream text;
    text << "# Where the range files beside this one come from (written by " << kUpdateProgram
         << " " << IPCOUNTRY_VERSION << " on " << today() << ").\n";
    text << countries << networks;
    return text.str();
}

// The provenance lines of the sources of one kind: each under `key` with
// its licence, then their date under `dateKey`.
template <class Part>
std::string sourceLines(const std::vector<Part>& parts, std::string_view key,
                        std::string_view dateKey) {
    std::ostringstream text;
    for (const Part& p : parts)
        text << key << '=' << p.label << '\n'
             << key << provenance::keys::kLicenceSuffix << '=' << p.licence << '\n';
    const std::string date = oldestDate(parts);
    text << dateKey << '=' << (date.empty() ? provenance::kUnknownDate : date) << '\n';
    return text.str();
}

// Networks older than the installed ones are refused as ranges are.
void refuseOlderNetworks(const fs::path& target, const std::string& newDate) {
    const std::string kept = keptLines(target, std::string(provenance::keys::kNetworksDate) + "=");
    if (kept.empty() || newDate.empty()) return;
    const std::string installed = kept.substr(kept.find('=') + 1, 10);
    if (installed.size() == 10 && installed[4] == '-' && newDate < installed)
        throw data::InstallError("the new networks are as of " + newDate +
                                 ", older than the installed networks, as of " + installed +
                                 ": not installed (--allow-older installs them)");
}

// A file of the installed data, carried into the new generation.
std::string installedFile(const fs::path& target, std::string_view name) {
    return lookup::readWholeFile(target / name, std::uint64_t{1} << 31);
}

// The one writer of output files, which syncs each file to the disk.
void writeFile(const fs::path& path, const std::string& content) {
    if (const auto error = ipcountry::output::writeOutputFile(path, content))
        throw data::InstallError(path.string() + ": cannot write: " + error->reason);
}

int check(const fs::path& folder, long days) {
    const auto now = provenance::today();
    const auto date = provenance::rangesDate(folder);
    if (!date) {
        std::string why = "no provenance.txt";
        if (fs::exists(folder / data::kProvenanceName))
            why = provenance::statesUnknownDate(folder) ? "no source of its data states their date"
                                                        : "provenance.txt has no valid ranges-date";
        std::cout << folder.string() << ": the age of the data is not known (" << why << ")\n";
        return 1;
    }
    const long age = *provenance::dataAgeDays(folder, now);
    std::cout << folder.string() << ": ranges " << provenance::describeAge(*date, now);
    if (age > days) {
        std::cout << ", older than " << days << (days == 1 ? " day" : " days") << '\n';
        return 1;
    }
    std::cout << '\n';
    return 0;
}

// Data older than the installed data would take the answers back in time:
// refused unless the user asks for it. Data of an unknown date on either
// side cannot be compared and are let through.
void refuseOlder(const fs::path& target, const std::string& newDate) {
    const auto installed = provenance::rangesDate(target);
    if (!installed || newDate.empty()) return;
    const std::string installedText = provenance::dateText(*installed);
    if (newDate < installedText)
        throw data::InstallError("the new data are as of " + newDate +
                                 ", older than the installed data, as of " + installedText +
                                 ": not installed (--allow-older installs them)");
}

// IPv6 counts pass 64 bits.
__extension__ typedef unsigned __int128 Count;

Count width(std::uint32_t first, std::uint32_t last) { return Count{last - first} + 1; }
Count width(data::Address6 first, data::Address6 last) {
    const auto value = [](data::Address6 a) { return (Count{a.high} << 64) | a.low; };
    return value(last) - value(first) + 1;
}

std::string decimal(Count n) {
    std::string text;
    do {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
        n /= 10;
    } while (n != 0);
    return text;
}

// How many addresses more than one row claims, whichever source they come
// from: where they overlap the later row wins, which the user should know.
template <class Range>
Count overriddenAddresses(const std::vector<Range>& ranges) {
    using Address = decltype(Range::first);
    std::vector<std::pair<Address, Address>> spans;
    spans.reserve(ranges.size());
    for (const Range& r : ranges) spans.emplace_back(r.first, r.last);
    std::sort(spans.begin(), spans.end());
    Count total = 0;
    bool any = false, anyTwice = false;
    Address reach{}, twice{};  // the end of everything seen, of what was counted
    for (const auto& [first, last] : spans) {
        if (any && first <= reach) {
            // [first, end] is claimed again; what of it lies up to `twice` was
            // counted already, and no earlier overlap lies beyond it.
            const Address end = std::min(last, reach);
            if (!anyTwice || twice < first) {
                total += width(first, end);
            } else if (twice < end) {
                Address from = twice;
                ++from;
                total += width(from, end);
            }
            if (!anyTwice || twice < end) twice = end;
            anyTwice = true;
        }
        if (!any || reach < last) reach = last;
        any = true;
    }
    return total;
}

// The installed ranges as a MaxMind DB, after the update itself succeeded.
int writeMmdb(const fs::path& file, const fs::path& target) {
    try {
        data::CountryDatabaseSummary summary;
        const std::string bytes =
            data::buildCountryDatabase(data::foldersForRanges(target), &summary);
        if (const auto error = ipcountry::output::writeOutputFile(file, bytes)) {
            std::cerr << kUpdateProgram << ": " << file.string()
                      << ": cannot write: " << error->reason << '\n';
            std::cerr << kUpdateProgram << ": " << target.string()
                      << ": the new data are installed\n";
            return 1;
        }
        std::cout << file.string() << ": " << summary.countries << " countries, " << bytes.size()
                  << " bytes\n";
        return 0;
    } catch (const ipcountry::lookup::Error& e) {
        std::cerr << kUpdateProgram << ": " << file.string()
                  << ": not written: " << ipcountry::output::problemText(e) << '\n';
    } catch (const std::exception& e) {
        std::cerr << kUpdateProgram << ": " << file.string() << ": not written: " << e.what()
                  << '\n';
    }
    std::cerr << kUpdateProgram << ": " << target.string() << ": the new data are installed\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    UpdateOptions options;
    if (const auto done = data::parseUpdateOptions(argc, argv, options)) return *done;
    const fs::path target = targetOf(options);
    if (target.empty()) {
        std::cerr << kUpdateProgram
                  << ": neither XDG_DATA_HOME nor HOME is set: name the folder with --data-dir\n";
        return 2;
    }
    if (options.checkDays) return check(answeringFolder(options), *options.checkDays);

    auto tell = [](const std::string& line) {
        std::cerr << kUpdateProgram << ": " << line << '\n';
    };
    try {
        data::DataInstaller installer(target);
        data::SourceReader reader(options.reader, installer.workDir(), tell);
        Collected collected;
        bool failed = false;
        for (const std::string& source : options.sources) {
            try {
                std::size_t ipv4 = 0, ipv6 = 0;
                for (data::SourcePart& part : reader.read(source)) {
                    ipv4 += part.rows.ipv4.size();
                    ipv6 += part.rows.ipv6.size();
                    collected.ipv4.insert(collected.ipv4.end(), part.rows.ipv4.begin(),
                                          part.rows.ipv4.end());
                    collected.ipv6.insert(collected.ipv6.end(), part.rows.ipv6.begin(),
                                          part.rows.ipv6.end());
                    part.rows = {};
                    collected.parts.push_back(std::move(part));
                }
                std::cout << source << ": " << ipv4 << " IPv4 and " << ipv6 << " IPv6 ranges\n";
            } catch (const std::exception& e) {
                tell(problemOf(source, e));
                failed = true;
            }
        }
        // The networks of every --asn source, one after the other.
        data::AsData networks;
        std::vector<data::NetworkPart> networkParts;
        for (const std::string& source : options.networkSources) {
            try {
                std::size_t ipv4 = 0, ipv6 = 0;
                for (data::NetworkPart& part : reader.readNetworks(source)) {
                    ipv4 += part.data.ipv4.size();
                    ipv6 += part.data.ipv6.size();
                    networks.ipv4.insert(networks.ipv4.end(), part.data.ipv4.begin(),
                                         part.data.ipv4.end());
                    networks.ipv6.insert(networks.ipv6.end(), part.data.ipv6.begin(),
                                         part.data.ipv6.end());
                    for (auto& [number, name] : part.data.names)
                        networks.names.try_emplace(number, std::move(name));
                    part.data = {};
                    networkParts.push_back(std::move(part));
                }
                std::cout << source << ": " << ipv4 << " IPv4 and " << ipv6
                          << " IPv6 ranges of networks\n";
            } catch (const std::exception& e) {
                tell(source + ": " + e.what());
                failed = true;
            }
        }
        if (failed) {
            tell(target.string() + ": left as it was");
            return 1;
        }
        if (!options.allowOlder) {
            if (!options.networksOnly) refuseOlder(target, oldestDate(collected.parts));
            if (!networkParts.empty()) refuseOlderNetworks(target, oldestDate(networkParts));
        }
        // What the update does not replace is carried into the new generation
        // as it is: the country files of --asn-only, the networks of an
        // update without --asn.
        std::error_code ec;
        std::string keptIpv4, keptIpv6, keptNetworks;
        if (options.networksOnly) {
            if (!fs::exists(target / data::kIpv4FileName, ec))
                throw data::InstallError(target.string() +
                                         ": holds no country ranges for --asn-only to keep: "
                                         "update them first");
            keptIpv4 = installedFile(target, data::kIpv4FileName);
            if (fs::exists(target / data::kIpv6FileName, ec))
                keptIpv6 = installedFile(target, data::kIpv6FileName);
        } else if (networkParts.empty() && fs::exists(target / data::kNetworksFileName, ec)) {
            keptNetworks = installedFile(target, data::kNetworksFileName);
        }
        std::vector<data::BasicIpDbLine<std::uint32_t>> lines4;
        std::vector<data::BasicIpDbLine<data::Address6>> lines6;
        if (!options.networksOnly) {
            const Count over4 = overriddenAddresses(collected.ipv4);
            const Count over6 = overriddenAddresses(collected.ipv6);
            if (over4 != 0 || over6 != 0)
                std::cout << decimal(over4) << " IPv4 and " << decimal(over6)
                          << " IPv6 addresses are claimed by more than one row or source: the "
                             "later one wins\n";
            const data::ConvertOptions convert{options.keepSpecial};
            lines4 = data::buildRangeFileLines(collected.ipv4, convert);
            lines6 = data::buildRangeFileLines(collected.ipv6, convert);
        }
        const std::string networkBytes =
            networkParts.empty() ? keptNetworks : data::asFileBytes(networks);
        const std::string provenance = provenanceText(
            options.networksOnly ? keptLines(target, provenance::keys::kRanges)
                                 : sourceLines(collected.parts, provenance::keys::kRanges,
                                               provenance::keys::kRangesDate),
            networkParts.empty() ? keptLines(target, provenance::keys::kNetworks)
                                 : sourceLines(networkParts, provenance::keys::kNetworks,
                                               provenance::keys::kNetworksDate));
        const auto note = installer.install([&](const fs::path& folder) {
            if (options.networksOnly) {
                writeFile(folder / data::kIpv4FileName, keptIpv4);
                if (!keptIpv6.empty()) writeFile(folder / data::kIpv6FileName, keptIpv6);
            } else {
                std::ostringstream v4, v6;
                data::writeIpDb(v4, lines4);
                data::writeIpDb(v6, lines6);
                writeFile(folder / data::kIpv4FileName, v4.str());
                writeFile(folder / data::kIpv6FileName, v6.str());
            }
            writeFile(folder / data::kProvenanceName, provenance);
            if (!networkBytes.empty()) writeFile(folder / data::kNetworksFileName, networkBytes);
            // Each generation carries the indexes of its own range files.
            ipcountry::lookup::saveRangeIndexOf<ipcountry::lookup::Ipv4Ranges>(folder /
                                                                               data::kIpv4FileName);
            if (fs::exists(folder / data::kIpv6FileName, ec))
                ipcountry::lookup::saveRangeIndexOf<ipcountry::lookup::Ipv6Ranges>(
                    folder / data::kIpv6FileName);
        });
        if (note) tell(target.string() + ": " + *note);
        if (!networkParts.empty())
            std::cout << target.string() << ": networks of " << networks.names.size()
                      << " AS numbers, " << networkBytes.size() << " bytes\n";
        if (!options.networksOnly) {
            const auto date = provenance::rangesDate(target);
            std::cout << target.string() << ": " << lines4.size() << " IPv4 and " << lines6.size()
                      << " IPv6 range lines"
                      << (date ? ", " + provenance::describeAge(*date, provenance::today())
                               : ", of an unknown date")
                      << '\n';
        }
        return options.mmdb ? writeMmdb(*options.mmdb, target) : 0;
    } catch (const std::bad_alloc&) {
        tell("out of memory while converting the ranges");
        tell(target.string() + ": left as it was");
        return 1;
    } catch (const std::exception& e) {
        tell(problemOf("", e));
        tell(target.string() + ": left as it was");
        return 1;
    }
}
