#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/row_writer.h"

namespace ipcountry::batch {

enum class Command { None, Find, Formatted, Unformatted, Stats, Report, Networks, Help };

// What the command line asked for. Options may stand anywhere among the
// command and its operands; "--" ends them.
struct Options {
    // The country list's folder: Country.dbf, world_map.txt and flags; where
    // the ranges come from too, unless rangesDir says otherwise
    // (lookup::chooseDataFolders decides both). Until then: --data-dir as given.
    std::filesystem::path countriesDir;
    std::filesystem::path rangesDir;  // IP_db.dbf, IP6_db.dbf and their provenance.txt
    bool rangeIndexSaved = false;     // lookup::DataFolders::rangeIndexSaved
    bool dataDirGiven = false;        // --data-dir: one folder for everything, as given
    Format format = Format::Tsv;
    std::string formatText;  // --format as given: networks reads its own formats
    // What `stats` reads; nullopt: recognised from each file's first line.
    std::optional<Format> inputFormat;
    bool stats = false;
    bool stopOnError = false;
    unsigned threads = 0;             // for find -, the analyses and report; 0: one per core
    std::optional<std::string> page;  // report's and networks' -o
    // networks: --family (0 both), --all-countries, --name, --table.
    int family = 0;
    bool allCountries = false;
    std::string namePattern;
    std::string table;
    // Which addresses give rows (see analysis::RowRules): --first, --all and
    // the networks of --only and --exclude, each CIDR or @FILE as given.
    bool firstOfLine = false;
    bool windowRules = false;  // --window-rules: every address the window's scan finds
    bool explain = false;      // find --explain
    bool withoutCountry = false;
    std::vector<std::string> only;
    std::vector<std::string> exclude;
    // --asn: rows name the network (AS number and operator) of their address.
    bool networks = false;
    // -H and -n: each row names its input and the line its address stands on.
    RowPlaces places;
    // --by as: the statistics count rows per network instead of per country.
    bool byNetwork = false;
    // How the statistics list the countries: --sort and --top.
    CountryOrder order = CountryOrder::List;
    bool orderGiven = false;
    std::size_t top = 0;  // 0: every country
    bool help = false;
    bool version = false;
    Command command = Command::None;
    std::string commandName;            // as typed, for messages
    std::vector<std::string> operands;  // after the command, options taken out

    const std::filesystem::path& rangesFolder() const {
        return rangesDir.empty() ? countriesDir : rangesDir;
    }
    // The networks file, beside the range files, else beside the country
    // list: read only when asked for.
    std::string networksFile() const;
};

// One row of the option table, which drives both the parser and the help.
struct OptionRow {
    std::string_view name;       // "--format"
    std::string_view shortName;  // "-o", or empty
    std::string_view value;      // the value as the help names it ("FORMAT"); empty: takes none
    unsigned commands;           // the commands it applies to: CommandBit values or'ed
    // Paragraphs separated by '\n', wrapped by the help to its columns.
    std::string_view help;
    // Takes the option's value (empty for one that takes none) into
    // `options`; false, with `problem` saying what is wrong with the value.
    bool (*set)(Options& options, const std::string& value, std::string& problem);
};

enum CommandBit : unsigned {
    kFindBit = 1u << 0,
    kFormattedBit = 1u << 1,
    kUnformattedBit = 1u << 2,
    kStatsBit = 1u << 3,
    kReportBit = 1u << 4,
    kNetworksBit = 1u << 5,
    kAnalysesBits = kFormattedBit | kUnformattedBit,
    kEveryCommand = kFindBit | kAnalysesBits | kStatsBit | kReportBit | kNetworksBit,
};

std::span<const OptionRow> optionTable();

// The command of that name; nullopt for none.
std::optional<Command> commandNamed(std::string_view name);

// Reads argv (without argv[0]) into `options`, whose countriesDir is the default.
// False with `problem` for wrong usage: an unknown option, a missing or bad
// value, an option that does not apply to the command, an unknown command.
bool parseCommandLine(std::span<char* const> args, Options& options, std::string& problem);

// The whole help (the source of the manual page), or one command's.
std::string helpText();
std::string commandHelp(Command command);

// Wrong usage, said on standard error with the synopsis of `command` (all
// of them for None) and where to read more. Returns 2, the exit status.
int usageError(Command command, std::string_view problem);

}  // namespace ipcountry::batch
