#include "lookup/data_folder.h"

#include <cstdlib>

#include "lookup/range_file.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

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
    return rangeFileIsWhole<Ipv4Ranges>(folder / kRangeFileName) &&
           rangeFileIsWhole<Ipv6Ranges>(folder / kRange6FileName);
}

DataFolders chooseDataFolders(const DataFolderPlaces& places) {
    if (places.given) return DataFolders::allIn(*places.given);
    fs::path chosen = places.packaged;
    for (const fs::path& place : {places.user, places.system}) {
        if (!place.empty() && holdsWholeRangeFiles(place)) {
            chosen = place;
            break;
        }
    }
    DataFolders folders;
    folders.ranges = chosen;
    folders.countries = holds(chosen, "Country.dbf") ? chosen : places.packaged;
    folders.flags = holds(chosen, "flags") ? chosen : places.packaged;
    return folders;
}

}  // namespace ipcountry::lookup
