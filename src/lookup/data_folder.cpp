#include "lookup/data_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "lookup/range_file.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

bool holds(const fs::path& folder, const fs::path& name) {
    std::error_code ec;
    return fs::exists(folder / name, ec);
}

// See DataFolders::rangeIndexSaved.
bool usersOwnFolder(const fs::path& folder, const DataFolderPlaces& places) {
    for (const fs::path& other : {places.packaged, places.system}) {
        std::error_code ec;
        if (!other.empty() && fs::equivalent(folder, other, ec)) return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && st.st_uid == ::geteuid();
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
    // Both are looked at, so that each file too large is named.
    const auto tooLarge = [oversized](const fs::path& path) {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        if (ec || size <= kMaxRangeFileBytes) return false;
        if (oversized != nullptr) oversized->push_back(path);
        return true;
    };
    const fs::path ipv4 = folder / kRangeFileName;
    const fs::path ipv6 = folder / kRange6FileName;
    const bool large4 = tooLarge(ipv4);
    const bool large6 = tooLarge(ipv6);
    return !large4 && !large6 && rangeFileIsWhole<Ipv4Ranges>(ipv4) &&
           rangeFileIsWhole<Ipv6Ranges>(ipv6);
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
    std::vector<fs::path> oversized;
    if (places.given) {
        chosen = *places.given;
    } else {
        for (const fs::path& place : {places.user, places.system}) {
            if (!place.empty() && holdsWholeRangeFiles(place, &oversized)) {
                chosen = place;
                break;
            }
        }
    }
    DataFolders folders;
    folders.oversized = std::move(oversized);
    folders.ranges = chosen;
    folders.countries = holds(chosen, "Country.dbf") ? chosen : places.packaged;
    folders.flags = holds(chosen, "flags") ? chosen : places.packaged;
    folders.rangeIndexSaved = usersOwnFolder(chosen, places);
    return folders;
}

}  // namespace ipcountry::lookup
