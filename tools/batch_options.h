#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch_output.h"

namespace ipcountry::batch {

// What the command line asked for; options stand before the command.
struct Options {
    // Country.dbf and world_map.txt; where the ranges come from too, unless
    // rangesDir says otherwise (lookup::chooseDataFolders decides both).
    std::filesystem::path dataDir;
    std::filesystem::path rangesDir;  // IP_db.dbf, IP6_db.dbf and their provenance.txt
    bool dataDirGiven = false;        // --data-dir: one folder for everything, as given
    Format format = Format::Tsv;
    // What `stats` reads; nullopt: recognised from each file's first line.
    std::optional<Format> inputFormat;
    bool stats = false;
    bool stopOnError = false;
    unsigned threads = 0;  // for the analyses and report; 0: one per core
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;  // the command and its operands

    const std::filesystem::path& rangesFolder() const {
        return rangesDir.empty() ? dataDir : rangesDir;
    }
};

// How messages name an input: "-" is standard input.
inline std::string inputName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

}  // namespace ipcountry::batch
