#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch_output.h"

namespace ipcountry::batch {

// What the command line asked for; options stand before the command.
struct Options {
    std::filesystem::path dataDir;
    Format format = Format::Tsv;
    // What `stats` reads; nullopt: recognised from each file's first line.
    std::optional<Format> inputFormat;
    bool stats = false;
    bool stopOnError = false;
    unsigned threads = 0;  // for the analyses and report; 0: one per core
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;  // the command and its operands
};

// How messages name an input: "-" is standard input.
inline std::string inputName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

}  // namespace ipcountry::batch
