#include "lookup/data_folder.h"

#include <cstdlib>
#include <exception>

#include "lookup/line_ends.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

// Whether the range file at `path` is whole; one larger than the program
// reads is added to `oversized`.
template <class Family>
bool isWholeRangeFile(const fs::path& path, std::vector<fs::path>& oversized) {
    std::string content;
    try {
        OpenedFile file(path);
        if (file.size() > kMaxRangeFileBytes) {
            oversized.push_back(path);
            return false;
        }
        content = file.readAll(kMaxRangeFileBytes);
    } catch (const std::exception&) {
        return false;  // missing, unreadable, a folder, not a regular file
    }
    // A file cut short mostly ends inside a line, and every file the
    // converter writes ends with a line end.
    if (content.empty() || content.back() != '\n') return false;
    bool valid = true;
    bool first = true;
    typename Family::Address previous{};
    std::string_view lastCode;
    forEachLine(content, [&](std::string_view line) {
        if (!valid) return;
        const auto start = line.size() == Family::kKeyLength + 2
                               ? Family::fromKey(line.substr(0, Family::kKeyLength))
                               : std::nullopt;
        const std::string_view code = line.substr(std::min(line.size(), Family::kKeyLength));
        const bool letters = code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' &&
                             code[1] >= 'A' && code[1] <= 'Z';
        if (!start || !letters ||
            (first ? *start != typename Family::Address{} : !(previous < *start))) {
            valid = false;
            return;
        }
        first = false;
        previous = *start;
        lastCode = code;
    });
    // The closing line: no range reaches past it, so it has no country.
    return valid && !first && lastCode == "ZZ";
}

bool holds(const fs::path& folder, const fs::path& name) {
    std::error_code ec;
    return fs::exists(folder / name, ec);
}

}  // namespace

fs::path userDataFolder(const char* xdgDataHome, const char* home) {
    // The XDG base directory rules ignore a relative path in the variable.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "ipcountry";
    if (home != nullptr && home[0] != '\0') return fs::path(home) / ".local/share/ipcountry";
    return {};
}

DataFolderPlaces standardDataFolderPlaces(fs::path packaged) {
    DataFolderPlaces places;
    places.user = userDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    places.system = fs::path(kSystemDataFolder);
    places.packaged = std::move(packaged);
    return places;
}

bool holdsWholeRangeFiles(const fs::path& folder, std::vector<fs::path>* oversized) {
    std::vector<fs::path> found;
    // Both are looked at, so that each file too large is named.
    const bool ipv4 = isWholeRangeFile<Ipv4Ranges>(folder / kRangeFileName, found);
    const bool ipv6 = isWholeRangeFile<Ipv6Ranges>(folder / kRange6FileName, found);
    if (oversized != nullptr) oversized->insert(oversized->end(), found.begin(), found.end());
    return ipv4 && ipv6;
}

DataFolders chooseDataFolders(const DataFolderPlaces& places) {
    if (places.given) return DataFolders::allIn(*places.given);
    fs::path chosen = places.packaged;
    std::vector<fs::path> oversized;
    for (const fs::path& place : {places.user, places.system}) {
        if (!place.empty() && holdsWholeRangeFiles(place, &oversized)) {
            chosen = place;
            break;
        }
    }
    DataFolders folders;
    folders.oversized = std::move(oversized);
    folders.ranges = chosen;
    folders.countries = holds(chosen, "Country.dbf") ? chosen : places.packaged;
    folders.flags = holds(chosen, "flags") ? chosen : places.packaged;
    return folders;
}

}  // namespace ipcountry::lookup
