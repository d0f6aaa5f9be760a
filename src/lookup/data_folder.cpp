#include "lookup/data_folder.h"

#include <cstdlib>
#include <exception>

#include "lookup/line_ends.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

// Far above any real range file; a bigger one is not ours.
constexpr std::uint64_t kMaxBytes = 512ull << 20;

template <class Family>
bool isWholeRangeFile(const fs::path& path) {
    std::string content;
    try {
        content = readWholeFile(path, kMaxBytes);
    } catch (const std::exception&) {
        return false;  // missing, unreadable, a folder, too large
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

bool holdsWholeRangeFiles(const fs::path& folder) {
    return isWholeRangeFile<Ipv4Ranges>(folder / kRangeFileName) &&
           isWholeRangeFile<Ipv6Ranges>(folder / kRange6FileName);
}

fs::path generationOf(const fs::path& folder) {
    std::error_code ec;
    const fs::path current = ".current";
    if (fs::read_symlink(folder / kRangeFileName, ec) != current / kRangeFileName) return folder;
    const fs::path generation = fs::read_symlink(folder / current, ec);
    // Only a folder beside the link, as the updater makes it.
    if (ec || generation.empty() || generation.has_parent_path() ||
        !fs::is_directory(folder / generation, ec))
        return folder;
    return folder / generation;
}

DataFolders chooseDataFolders(const DataFolderPlaces& places) {
    fs::path chosen = places.packaged;
    if (places.given) {
        chosen = *places.given;
    } else {
        for (const fs::path& place : {places.user, places.system}) {
            if (!place.empty() && holdsWholeRangeFiles(place)) {
                chosen = place;
                break;
            }
        }
    }
    DataFolders folders;
    folders.ranges = chosen;
    folders.countries = holds(chosen, "Country.dbf") ? chosen : places.packaged;
    folders.flags = holds(chosen, "flags") ? chosen : places.packaged;
    return folders;
}

}  // namespace ipcountry::lookup
