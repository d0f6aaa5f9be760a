// Installs the range files of a data folder in one step. The folder (say
// ~/.local/share/ipcountry, or /var/lib/ipcountry) stays a real folder; the
// range files in it are symbolic links through the link .current to a
// generation folder beside them:
//   IP_db.dbf -> .current/IP_db.dbf     (and IP6_db.dbf, provenance.txt)
//   .current -> .gen-XXXXXX
// An update builds a new generation, writes and syncs every file there, and
// renames a new .current over the old one, which rename(2) does atomically:
// a reader that resolves its folder once sees the old data or the new, never
// a mix, and a failure or a kill at any moment leaves the old data as they
// were. The generation replaced is kept until the next update starts, so
// that a reader that resolved .current just before the swap can still open
// its files; that, and what a killed run leaves behind, the next run removes. Nothing
// is written outside the folder, so an updater confined to it (a systemd
// unit's ReadWritePaths=) works, and the folder's other files (its own
// Country.dbf, flags/) are left alone.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/provenance.h"
#include "lookup/as_file.h"
#include "lookup/range_file.h"

namespace ipcountry::data {

// The files an update writes; the folder's other files are left alone.
inline constexpr std::string_view kIpv4FileName = lookup::kRangeFileName;
inline constexpr std::string_view kIpv6FileName = lookup::kRange6FileName;
inline constexpr std::string_view kProvenanceName = provenance::kProvenanceFileName;
// Written when an update has networks, new or kept from the data before.
inline constexpr std::string_view kNetworksFileName = lookup::kAsFileName;

class InstallError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DataInstaller {
public:
    // Creates the folder if need be, takes its lock (a second update of the
    // same folder fails at once instead of racing) and removes what killed
    // runs left. Throws InstallError.
    explicit DataInstaller(std::filesystem::path target);
    ~DataInstaller();
    DataInstaller(const DataInstaller&) = delete;
    DataInstaller& operator=(const DataInstaller&) = delete;

    // A scratch folder inside the target for downloads, removed with the installer.
    const std::filesystem::path& workDir() const { return m_work; }

    // Builds a generation: `write` puts the new files, synced to the disk,
    // into the folder it is given; then the generation replaces the old one.
    // Returns a note for the user when range files the user had put in the
    // folder were replaced by the links.
    std::optional<std::string> install(
        const std::function<void(const std::filesystem::path&)>& write);

private:
    void removeLeftovers();

    std::filesystem::path m_target;
    int m_lock = -1;
    std::filesystem::path m_work;
};

}  // namespace ipcountry::data
