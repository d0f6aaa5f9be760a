#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/row_writer.h"

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
    // Which addresses give rows (see analysis::RowRules): --first, --all and
    // the networks of --only and --exclude, each CIDR or @FILE as given.
    bool firstOfLine = false;
    bool withoutCountry = false;
    std::vector<std::string> only;
    std::vector<std::string> exclude;
    // How the statistics list the countries: --sort and --top.
    CountryOrder order = CountryOrder::List;
    bool orderGiven = false;
    std::size_t top = 0;  // 0: every country
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;  // the command and its operands
};

}  // namespace ipcountry::batch
