// The command line of ipcountry-update-data: its help (also the manual
// page's source) and the options it sets.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "source_reader.h"

namespace ipcountry::data {

struct UpdateOptions {
    std::optional<std::filesystem::path> dataDir;
    enum class Where { Default, User, System } where = Where::Default;
    std::optional<long> checkDays;
    bool keepSpecial = false;
    bool allowOlder = false;
    ReaderOptions reader;
    std::vector<std::string> sources;           // the default source when none is given
    std::vector<std::string> networkSources;    // --asn: sources of networks, in order
    bool networksOnly = false;                  // --asn-only: the country files stay as they are
    std::optional<std::filesystem::path> mmdb;  // from --mmdb
};

// Reads the arguments into `options`. Returns the exit status when the
// program is done (help, version, or wrong usage, told on stderr); nullopt to go on.
std::optional<int> parseUpdateOptions(int argc, char** argv, UpdateOptions& options);

inline constexpr const char* kUpdateProgram = "ipcountry-update-data";

}  // namespace ipcountry::data
