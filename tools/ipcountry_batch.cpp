// ipcountry-batch: the whole road from an address to its country, without a
// window. `--help` tells how to use it; the manual page is made from that text.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/address_finder.h"
#include "analysis/analysis.h"
#include "batch_analysis.h"
#include "batch_find.h"
#include "batch_networks.h"
#include "batch_options.h"
#include "batch_stats.h"
#include "common/provenance.h"
#include "formats/row_writer.h"
#include "lookup/country_table.h"
#include "lookup/data_folder.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "report/report_run.h"

#ifndef IPCOUNTRY_VERSION
#error "the build passes the program's version"
#endif

namespace {

namespace fs = std::filesystem;
using namespace ipcountry;
using batch::Command;
using batch::Format;
using batch::Options;

// A message of the driver itself, after everything written before it.
void say(std::string_view problem) {
    std::string text = "ipcountry-batch: ";
    text += problem;
    text += '\n';
    batch::Output::sayNow(text);
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

int printText(std::string_view text) {
    batch::Output out;
    out.buffer() += text;
    return 0;
}

// Why a range file keeps its folder from being read, after the file's name.
std::string passedOverReason(lookup::PassedOverFile::Why why) {
    using Why = lookup::PassedOverFile::Why;
    switch (why) {
        case Why::Missing:
            return " is missing";
        case Why::TooLarge:
            return " is larger than the " + std::to_string(lookup::kMaxRangeFileBytes >> 20) +
                   " MB a range file may be";
        case Why::NotWhole:
            break;
    }
    return " is not a whole range file (cut short, or not as the converter writes one)";
}

// Which folders the data files come from: a --data-dir as given, else the
// first folder of whole range files among the user's, the system's and the
// packaged one.
void chooseData(Options& options) {
    lookup::DataFolderPlaces places = lookup::standardDataFolderPlaces(programDirectory());
    if (options.dataDirGiven) places.given = options.countriesDir;
    const lookup::DataFolders folders = lookup::chooseDataFolders(places);
    for (const lookup::PassedOverFile& file : folders.passedOver)
        say("warning: " + file.path.string() + passedOverReason(file.why) +
            ": its folder is passed over");
    options.countriesDir = folders.countries;
    // One generation of an updated folder for the whole run.
    options.rangesDir = lookup::generationOf(folders.ranges);
    options.rangeIndexSaved = folders.rangeIndexSaved;
}

std::vector<std::string> describeData(const Options& options) {
    return provenance::describeData(options.rangesFolder(), options.countriesDir,
                                    provenance::today());
}

int printVersion(const Options& options) {
    std::string text = std::string("ipcountry-batch ") + IPCOUNTRY_VERSION + "\n";
    for (const std::string& line : describeData(options)) text += line + "\n";
    return printText(text);
}

// A folder given without IPv6 ranges answers no IPv6 address: say so, rather
// than let an analysis drop every IPv6 row from a run that seems to succeed.
void warnOfMissingRanges(const Options& options) {
    if (!options.dataDirGiven) return;
    const fs::path ipv6 = options.rangesFolder() / lookup::kRange6FileName;
    std::error_code ec;
    if (fs::exists(options.rangesFolder() / lookup::kRangeFileName, ec) && !fs::exists(ipv6, ec))
        say("warning: " + ipv6.string() + " is missing: IPv6 addresses get no country");
}

// report [-o PAGE] formatted|unformatted FILE...: the statistics as a page.
int runReport(const Options& options) {
    const std::vector<std::string>& operands = options.operands;
    if (operands.empty() || (operands[0] != "formatted" && operands[0] != "unformatted"))
        return batch::usageError(Command::Report,
                                 "report needs formatted or unformatted, then the files");
    if (operands.size() < 2)
        return batch::usageError(Command::Report, "report needs at least one file");
    report::ReportRequest request;
    if (options.page) request.output = *options.page;
    request.countriesDir = options.countriesDir;
    request.rangesDir = options.rangesFolder();
    request.formatted = operands[0] == "formatted";
    request.files.assign(operands.begin() + 1, operands.end());
    request.stopOnError = options.stopOnError;
    request.threads = options.threads;
    request.provenance = describeData(options);
    request.networksFile = options.networksFile();
    request.provenance.insert(request.provenance.begin(), "ipcountry-batch " IPCOUNTRY_VERSION);
    if (options.firstOfLine && request.formatted)
        return batch::usageError(Command::Report,
                                 "--first applies to unformatted: a formatted list has one "
                                 "address a line");
    const batch::RowChoice choice(options);
    request.rows = choice.rules;
    request.listCountriesOnly = options.windowRules;
    if (options.firstOfLine) request.shapedBy.push_back("--first");
    for (const std::string& network : options.only) request.shapedBy.push_back("--only " + network);
    for (const std::string& network : options.exclude)
        request.shapedBy.push_back("--exclude " + network);
    if (options.withoutCountry) request.shapedBy.push_back("--all");
    if (options.windowRules) request.shapedBy.push_back("--window-rules");
    batch::Output out;
    // The page goes to standard output its own way, after the messages.
    batch::BatchPrompter prompter(out, options.stopOnError, true);
    analysis::SteadyClock clock;
    return report::runReport(request, prompter, clock, [&out](std::string_view problem) {
        batch::sayProblem(out, "", 0, problem);
        out.flush();
    });
}

// Throws what the data files or the system throw; main() says it.
int runCommand(const Options& options) {
    const auto& operands = options.operands;
    if (options.command != Command::Networks && batch::parseSetFormat(options.formatText))
        return batch::usageError(options.command,
                                 "--format " + options.formatText + " applies to networks only");
    switch (options.command) {
        case Command::None:
            return batch::usageError(Command::None, "no command given");
        case Command::Help:
            break;  // main() printed it
        case Command::Find:
            if (operands.empty())
                return batch::usageError(Command::Find, "find needs at least one address");
            if (std::count(operands.begin(), operands.end(), "-") > 1)
                return batch::usageError(Command::Find,
                                         "- (standard input) is named more than once");
            return batch::runFind(options);
        case Command::Report:
            warnOfMissingRanges(options);
            return runReport(options);
        case Command::Networks:
            return batch::runNetworks(options);
        case Command::Formatted:
        case Command::Unformatted:
        case Command::Stats:
            if (operands.empty() && options.command != Command::Stats)
                return batch::usageError(options.command, options.commandName + " needs a file");
            // Standard input can be read once only.
            if (std::count(operands.begin(), operands.end(), "-") > 1)
                return batch::usageError(options.command,
                                         "- (standard input) is named more than once");
            if (options.command == Command::Stats) return batch::runStats(options, operands);
            // find names the missing file itself, for the IPv6 address it concerns.
            warnOfMissingRanges(options);
            return batch::runAnalysis(options, options.command == Command::Formatted, operands);
    }
    return 0;
}

// What could not be written is an error, as for cat, unless the reader left
// early: `| head` ends a run quietly.
int finish(int status) {
    batch::Output::flushAll();
    const int error = batch::Output::writeError();
    if (error == 0) return status;
    if (error == EPIPE) return 0;
    say(std::string("write error: ") + std::strerror(error));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.countriesDir = programDirectory();
    std::string problem;
    if (!batch::parseCommandLine(std::span<char* const>(argv + 1, argv + argc), options, problem))
        return batch::usageError(options.command, problem);
    if (options.command == Command::Help) {
        if (options.operands.size() > 1)
            return batch::usageError(Command::None, "help takes one command at most");
        if (options.operands.empty()) return finish(printText(batch::helpText()));
        const std::optional<Command> command = batch::commandNamed(options.operands[0]);
        if (!command || *command == Command::Help)
            return batch::usageError(Command::None, "no command " + options.operands[0]);
        return finish(printText(batch::commandHelp(*command)));
    }
    if (options.help) return finish(printText(batch::commandHelp(options.command)));
    chooseData(options);
    if (options.version) return finish(printVersion(options));
    int status = 1;
    try {
        status = runCommand(options);
    } catch (const batch::BadNetwork& e) {
        // A network of --only or --exclude: wrong usage, told before anything is read.
        say(e.what());
        status = 2;
    } catch (const lookup::Error& e) {
        // The data files themselves are unusable.
        say(batch::problemText(e));
    } catch (const std::bad_alloc&) {
        say("out of memory");
    } catch (const std::exception& e) {
        // Whatever else ends a run: the rows printed so far stay.
        say(e.what());
    }
    return finish(status);
}
