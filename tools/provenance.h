#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ipcountry::batch {

// Where the data files come from, as scripts/build-data records it beside
// them, so that a reported figure can name the data it was made with.
inline constexpr const char* kProvenanceFileName = "provenance.txt";

// The lines `--version` prints for the data folder `dataDir`: one per source
// ("Address ranges: PACKAGE VERSION (LICENCE)"), or one line saying that the
// folder holds no provenance file. Never throws.
std::vector<std::string> describeData(const std::filesystem::path& dataDir);

}  // namespace ipcountry::batch
