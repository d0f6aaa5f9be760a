// Installs a data folder in one step. The folder the program reads (say
// ~/.local/share/ipcountry) is a symbolic link to a generation folder beside
// it (.ipcountry.gen-XXXXXX); an update builds a new generation next to it,
// writes and syncs every file there, and renames a new link over the old one,
// which rename(2) does atomically. A reader therefore sees the old data or the
// new, never a mix, and a failure or a kill at any moment leaves the old data
// as they were; what a killed run leaves behind is removed by the next run.
//
// A target that is a real folder (the first run over a folder the user made)
// is taken over: its other files (Country.dbf, flags/, ...) are carried into
// the new generation, the folder and the link swap places in one step
// (renameat2 RENAME_EXCHANGE), and the old folder is removed afterwards.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace ipcountry::data {

// The files an update writes; every other file of a data folder is carried over.
inline constexpr const char* kIpv4FileName = "IP_db.dbf";
inline constexpr const char* kIpv6FileName = "IP6_db.dbf";
inline constexpr const char* kProvenanceName = "provenance.txt";

class InstallError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DataInstaller {
public:
    // Creates the target's parent folders, takes the lock of the parent (a
    // second update of the same folder fails at once instead of racing) and
    // removes what killed runs left. Throws InstallError.
    explicit DataInstaller(std::filesystem::path target);
    ~DataInstaller();
    DataInstaller(const DataInstaller&) = delete;
    DataInstaller& operator=(const DataInstaller&) = delete;

    // A scratch folder beside the target for downloads, removed with the installer.
    const std::filesystem::path& workDir() const { return m_work; }

    // Builds a generation: `write` puts the new files, synced to the disk,
    // into the folder it is given; then the generation replaces the target.
    // Returns a note for the user when the target was a real folder.
    std::optional<std::string> install(
        const std::function<void(const std::filesystem::path&)>& write);

private:
    std::string hidden(const char* kind) const;
    void removeLeftovers();

    std::filesystem::path m_target;
    std::filesystem::path m_parent;
    std::string m_name;
    int m_lock = -1;
    std::filesystem::path m_work;
};

}  // namespace ipcountry::data
