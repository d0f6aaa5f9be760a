#include "common/provenance.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>

#include "lookup/error.h"
#include "lookup/text_file.h"

namespace ipcountry::provenance {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::string, std::string>>;

// KEY=VALUE lines in file order; '#' starts a comment. A key may stand more
// than once (one `ranges` per source). Keys this version does not know are
// left alone, so that newer data works with an older program.
std::optional<Entries> readProvenance(const fs::path& dataDir) {
    std::string content;
    try {
        // Far above any file the updater writes.
        content = lookup::readWholeFile(dataDir / kProvenanceFileName, std::uint64_t{16} << 20);
    } catch (const lookup::Error&) {
        return std::nullopt;
    }
    Entries entries;
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return entries;
}

std::vector<std::string> valuesOf(const Entries& entries, std::string_view key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : entries)
        if (k == key) values.push_back(v);
    return values;
}

std::optional<std::chrono::year_month_day> readDate(const std::string& text) {
    // Exactly YYYY-MM-DD, a day the calendar has.
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const std::chrono::year_month_day date{
        std::chrono::year{std::stoi(text.substr(0, 4))},
        std::chrono::month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
        std::chrono::day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}};
    if (!date.ok()) return std::nullopt;
    return date;
}

// "LABEL: VALUE (LICENCE)" per source; the n-th licence goes with the n-th source.
void describeSources(const Entries& entries, std::string_view key, const char* label,
                     std::vector<std::string>& lines) {
    const auto sources = valuesOf(entries, key);
    const auto licences = valuesOf(entries, std::string(key) + std::string(keys::kLicenceSuffix));
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::string text = std::string(label) + ": " + sources[i];
        if (i < licences.size()) text += " (" + licences[i] + ")";
        lines.push_back(std::move(text));
    }
}

}  // namespace

bool isKnownKey(std::string_view key) {
    if (key == keys::kRangesDate || key == keys::kNetworksDate) return true;
    if (key.ends_with(keys::kLicenceSuffix)) key.remove_suffix(keys::kLicenceSuffix.size());
    return std::find(keys::kSources.begin(), keys::kSources.end(), key) != keys::kSources.end();
}

std::chrono::sys_days today() {
    return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
}

std::optional<std::chrono::year_month_day> rangesDate(const fs::path& dataDir) {
    const auto entries = readProvenance(dataDir);
    if (!entries) return std::nullopt;
    const auto dates = valuesOf(*entries, keys::kRangesDate);
    // Several sources of several dates are as old as the oldest of them.
    std::optional<std::chrono::year_month_day> oldest;
    for (const std::string& text : dates) {
        const auto date = readDate(text);
        if (!date) return std::nullopt;
        if (!oldest || *date < *oldest) oldest = date;
    }
    return oldest;
}

std::string dateText(std::chrono::year_month_day date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

bool statesUnknownDate(const fs::path& dataDir) {
    const auto entries = readProvenance(dataDir);
    if (!entries) return false;
    const auto dates = valuesOf(*entries, keys::kRangesDate);
    return std::find(dates.begin(), dates.end(), kUnknownDate) != dates.end();
}

std::optional<long> dataAgeDays(const fs::path& dataDir, std::chrono::sys_days today) {
    const auto date = rangesDate(dataDir);
    if (!date) return std::nullopt;
    return static_cast<long>((today - std::chrono::sys_days(*date)).count());
}

std::string describeAge(std::chrono::year_month_day date, std::chrono::sys_days today) {
    const long days = static_cast<long>((today - std::chrono::sys_days(date)).count());
    std::string text = "as of " + dateText(date) + ", ";
    if (days == 0) return text + "today";
    const long count = days < 0 ? -days : days;
    text += std::to_string(count) + (count == 1 ? " day" : " days");
    return text + (days < 0 ? " after today" : " ago");
}

std::vector<std::string> describeData(const fs::path& rangesDir, const fs::path& countriesDir,
                                      std::chrono::sys_days today) {
    std::vector<std::string> lines{"Data folder: " + rangesDir.string()};
    const auto ranges = readProvenance(rangesDir);
    const fs::path rangesFile = rangesDir / kProvenanceFileName;
    if (!ranges) {
        lines.push_back("Data: unknown, " + rangesFile.string() + " cannot be read");
    } else {
        describeSources(*ranges, keys::kRanges, "Address ranges", lines);
        if (!valuesOf(*ranges, keys::kRangesDate).empty()) {
            const auto date = rangesDate(rangesDir);
            if (date)
                lines.push_back("Address ranges " + describeAge(*date, today));
            else if (statesUnknownDate(rangesDir))
                lines.push_back("Address ranges of an unknown date: no source of them states it");
            else
                lines.push_back("Address ranges of an unknown date: " + rangesFile.string() +
                                " holds a ranges-date that is not YYYY-MM-DD");
        }
    }
    const bool apart = countriesDir != rangesDir;
    if (apart) lines.push_back("Country list folder: " + countriesDir.string());
    const auto names = apart ? readProvenance(countriesDir) : ranges;
    if (names) {
        describeSources(*names, keys::kNames, "Country names", lines);
        describeSources(*names, keys::kFlags, "Flags", lines);
        describeSources(*names, keys::kMap, "Map", lines);
    }
    // The networks of --asn, beside the ranges, from a source of their own.
    if (ranges) describeSources(*ranges, keys::kNetworks, "Networks", lines);
    if (ranges && lines.size() == 1 + (apart ? 1 : 0))
        lines.push_back("Data: unknown, " + rangesFile.string() + " names no source");
    return lines;
}

std::vector<std::string> describeRangesSource(const fs::path& rangesDir) {
    std::vector<std::string> lines;
    const auto ranges = readProvenance(rangesDir);
    if (!ranges) {
        lines.push_back("Address ranges of unknown origin: " +
                        (rangesDir / kProvenanceFileName).string() + " cannot be read");
        return lines;
    }
    describeSources(*ranges, keys::kRanges, "Address ranges", lines);
    if (lines.empty()) lines.push_back("Address ranges of unknown origin");
    const auto date = rangesDate(rangesDir);
    lines.push_back(date ? "Address ranges as of " + dateText(*date)
                         : std::string("Address ranges of an unknown date"));
    return lines;
}

std::vector<std::string> describeData(const fs::path& dataDir) {
    return describeData(dataDir, dataDir, today());
}

std::optional<Entries> provenanceEntries(const fs::path& dataDir) {
    return readProvenance(dataDir);
}

}  // namespace ipcountry::provenance
