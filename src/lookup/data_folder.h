// Which folder the data files of a run are read from: the one rule for the
// window and the driver. Range files a user or an updater installed win over
// the ones packaged with the program, but only when they are whole.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace ipcountry::lookup {

// The system-wide folder that an administrator's updater fills.
inline constexpr std::string_view kSystemDataFolder = "/var/lib/ipcountry";

// The folder of flag pictures in a data folder: flags/<code>.gif.
inline constexpr std::string_view kFlagsFolderName = "flags";

// A range file that made the program pass over the user's or the system's
// folder, and why.
struct PassedOverFile {
    enum class Why {
        Missing,   // its partner is there, it is not (or its link leads nowhere)
        TooLarge,  // larger than the program reads (kMaxRangeFileBytes)
        NotWhole,  // not as the converter writes one (see holdsWholeRangeFiles)
    };
    std::filesystem::path path;
    Why why = Why::NotWhole;
    friend bool operator==(const PassedOverFile&, const PassedOverFile&) = default;
};

// Where each data file of a run comes from.
struct DataFolders {
    std::filesystem::path ranges;     // IP_db.dbf, IP6_db.dbf and the provenance.txt of the ranges
    std::filesystem::path countries;  // Country.dbf and world_map.txt
    std::filesystem::path flags;      // the folder that holds flags/
    // The range files of the user's or the system's folder that made it be
    // passed over: the front ends name them, since the folder is otherwise
    // passed over in silence. A folder without either range file is no
    // folder of data and is not named.
    std::vector<PassedOverFile> passedOver;
    // The range files' index may be saved beside them when a run had to
    // parse them: the folder is the user's own, neither the packaged nor the
    // system folder (whose indexes come with their files, from the package
    // and the updater), and owned by the user the program runs as.
    bool rangeIndexSaved = false;

    // Everything from one folder, as a folder given on the command line is read.
    static DataFolders allIn(const std::filesystem::path& folder) {
        return {folder, folder, folder, {}, false};
    }
    friend bool operator==(const DataFolders&, const DataFolders&) = default;
};

// The places a data folder may be, in the order they are tried. An empty
// path is no place.
struct DataFolderPlaces {
    std::optional<std::filesystem::path> given;  // --data-dir: its ranges used as given
    std::filesystem::path user;                  // the user's: $XDG_DATA_HOME/ipcountry
    std::filesystem::path system;                // the system's: /var/lib/ipcountry
    std::filesystem::path packaged;              // beside the program
};

// The user's folder by the XDG base directory rules: $XDG_DATA_HOME/ipcountry
// when that is an absolute path, else $HOME/.local/share/ipcountry; empty
// when neither is set. Either argument may be null (unset).
std::filesystem::path userDataFolder(const char* xdgDataHome, const char* home);

// The places for a program whose packaged data is `packaged`: the user's
// folder from this process's environment, and the system folder.
DataFolderPlaces standardDataFolderPlaces(std::filesystem::path packaged);

// True when `folder` holds both range files, each whole and valid: a regular
// file of lines of a start and a code, the starts rising from address 0, the
// last line a ZZ line ended by a line end, as the converter writes them. A
// folder a download left half filled does not count. When `passedOver` is
// given and the folder holds either range file, each file that keeps the
// folder from counting is added to it, with why.
bool holdsWholeRangeFiles(const std::filesystem::path& folder,
                          std::vector<PassedOverFile>* passedOver = nullptr);

// The folders of a run. A given folder gives the ranges, as given (its errors
// are the run's). Otherwise the first of the user's, the system's and the
// packaged folder whose range files are whole gives them (the packaged folder
// when none is: its errors are the run's). Country.dbf and world_map.txt come
// from the folder of the ranges when it holds Country.dbf, flags when it holds
// flags/, else from the packaged folder: a folder an update filled with range
// files only answers as the automatic folders do.
DataFolders chooseDataFolders(const DataFolderPlaces& places);

// A folder an update filled has its range files as links through .current
// to a generation folder, which the next update may replace at any moment.
// A run that must read one generation (the driver's, over all its inputs)
// reads the folder this returns when it starts: the generation .current
// names now. Any other folder is returned as it is. The window keeps the
// folder itself, so that it follows the updates while it stays open.
std::filesystem::path generationOf(const std::filesystem::path& folder);

}  // namespace ipcountry::lookup
