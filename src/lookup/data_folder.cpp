#include "lookup/data_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "lookup/country_table.h"
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

bool holdsWholeRangeFiles(const fs::path& folder, std::vector<PassedOverFile>* passedOver) {
    using Why = PassedOverFile::Why;
    // What keeps a file from counting; nullopt when it counts.
    const auto fault = [](const fs::path& path, bool ipv6) -> std::optional<Why> {
        std::error_code ec;
        if (!fs::exists(path, ec)) return Why::Missing;
        const auto size = fs::file_size(path, ec);
        if (!ec && size > kMaxRangeFileBytes) return Why::TooLarge;
        const bool whole =
            ipv6 ? rangeFileIsWhole<Ipv6Ranges>(path) : rangeFileIsWhole<Ipv4Ranges>(path);
        if (!whole) return Why::NotWhole;
        return std::nullopt;
    };
    const fs::path ipv4 = folder / kRangeFileName;
    const fs::path ipv6 = folder / kRange6FileName;
    // Both are looked at, so that each file at fault is named.
    const std::optional<Why> fault4 = fault(ipv4, false);
    const std::optional<Why> fault6 = fault(ipv6, true);
    if (!fault4 && !fault6) return true;
    // A link that leads nowhere is there all the same: an update's, half made.
    const auto present = [](const fs::path& path) {
        std::error_code ec;
        return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
    };
    if (passedOver != nullptr && (present(ipv4) || present(ipv6))) {
        if (fault4) passedOver->push_back({ipv4, *fault4});
        if (fault6) passedOver->push_back({ipv6, *fault6});
    }
    return false;
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
    std::vector<PassedOverFile> passedOver;
    if (places.given) {
        chosen = *places.given;
    } else {
        for (const fs::path& place : {places.user, places.system}) {
            if (!place.empty() && holdsWholeRangeFiles(place, &passedOver)) {
                chosen = place;
                break;
            }
        }
    }
    DataFolders folders;
    folders.passedOver = std::move(passedOver);
    folders.ranges = chosen;
    folders.countries = holds(chosen, kCountryFileName) ? chosen : places.packaged;
    folders.flags = holds(chosen, kFlagsFolderName) ? chosen : places.packaged;
    folders.rangeIndexSaved = usersOwnFolder(chosen, places);
    return folders;
}

}  // namespace ipcountry::lookup
