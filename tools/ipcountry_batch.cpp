// ipcountry-batch: the whole road from an address to its country, without a
// window. `--help` tells how to use it; the manual page is made from that text.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/messages.h"
#include "batch_analysis.h"
#include "batch_find.h"
#include "batch_options.h"
#include "batch_stats.h"
#include "formats/row_writer.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "provenance.h"
#include "report/report_run.h"

#ifndef IPCOUNTRY_VERSION
#error "the build passes the program's version"
#endif

namespace {

namespace fs = std::filesystem;
using namespace ipcountry;
using batch::Format;
using batch::Options;

// Also the source of the manual page (help2man, with ipcountry-batch.h2m):
// lines that end with a colon become its sections.
constexpr const char* kHelp =
    "Usage: ipcountry-batch [OPTION]... find ADDRESS...\n"
    "  or:  ipcountry-batch [OPTION]... formatted FILE...\n"
    "  or:  ipcountry-batch [OPTION]... unformatted FILE...\n"
    "  or:  ipcountry-batch [OPTION]... stats [FILE]...\n"
    "  or:  ipcountry-batch [OPTION]... report [-o PAGE] KIND FILE...\n"
    "Tell the country of IPv4 and IPv6 addresses without a window: one by one,\n"
    "from a list of address:port lines ([address]:port for IPv6), or wherever\n"
    "they stand in a text such as a log.\n"
    "\n"
    "Commands:\n"
    "  find ADDRESS...     print each ADDRESS with its country code and country\n"
    "                      name, one line each in the order given; an ADDRESS of\n"
    "                      - reads one address per line from standard input\n"
    "  formatted FILE...   resolve lists of one address:port per line\n"
    "  unformatted FILE...\n"
    "                      resolve every address found anywhere in texts\n"
    "                      (both print one row per address: IP, Port, Country;\n"
    "                      several FILEs are read in the order given, as if they\n"
    "                      were one; a FILE may be gzip, bzip2, xz or zstd, and\n"
    "                      - reads standard input, once)\n"
    "  stats [FILE]...     read rows as formatted and unformatted print them, in\n"
    "                      any of the three formats, and print the statistics\n"
    "                      that --stats would have printed for those rows; no\n"
    "                      FILE, or -, reads standard input\n"
    "  report [-o PAGE] KIND FILE...\n"
    "                      read the FILEs as the command KIND (formatted or\n"
    "                      unformatted) does and write one HTML page of their\n"
    "                      statistics instead of rows: a world map shaded by\n"
    "                      share, the countries, the 20 busiest addresses, the\n"
    "                      files and the sources of the data; self-contained,\n"
    "                      it works offline (to PAGE, else to standard output;\n"
    "                      --format and --stats do not apply)\n"
    "\n"
    "Options:\n"
    "  --data-dir DIR      read Country.dbf, IP_db.dbf, IP6_db.dbf and\n"
    "                      provenance.txt from DIR (default: the folder of this\n"
    "                      program)\n"
    "  --format FORMAT     what to print:\n"
    "                      tsv (default): tab-separated rows, no header, the\n"
    "                      port as the window shows it (:8080);\n"
    "                      csv: a header row, fields quoted as RFC 4180 says,\n"
    "                      rows ended by CR LF, with a Code column; Port is the\n"
    "                      text after the colon (8080);\n"
    "                      json: JSON Lines, one object per row with ip, port,\n"
    "                      country and code; port is a number when it is 1 to 5\n"
    "                      digits, the text after the colon otherwise, and null\n"
    "                      when there is none (find: ip, code and country, null\n"
    "                      for no code or an unknown country)\n"
    "  --input-format FORMAT  what stats reads: tsv, csv or json (default:\n"
    "                      recognised from the first line of each FILE)\n"
    "  --stats             after the rows, print the statistics of the analysis\n"
    "                      (only when every FILE was read to its end);\n"
    "                      csv: two more tables, each after a blank line\n"
    "                      (Elapsed seconds,Total and Country,Code,Count,Share);\n"
    "                      json: one last object with elapsed_seconds, total and\n"
    "                      countries (country, code, count, share in percent)\n"
    "  --first             unformatted: count only the first address of each line,\n"
    "                      the client in web, auth, mail and firewall logs (the\n"
    "                      addresses further on are versions, proxies, servers)\n"
    "  --only NETWORK      count only addresses in NETWORK; --exclude NETWORK:\n"
    "  --exclude NETWORK   leave out addresses in NETWORK (both repeatable, both\n"
    "                      families): a NETWORK is an address, ADDRESS/BITS,\n"
    "                      FIRST-LAST, or @FILE for a file of them, one a line,\n"
    "                      # starting a comment\n"
    "  --all               also print addresses without a country, with the\n"
    "                      reason in its place: private, loopback, link-local,\n"
    "                      shared, documentation, multicast, reserved, or unknown\n"
    "                      (csv: a Reason column; json: \"reason\"); the\n"
    "                      statistics end with a count per reason\n"
    "  --sort ORDER        the countries of the statistics by count (most\n"
    "                      first), name, or list (the country list's order, the\n"
    "                      default)\n"
    "  --top N             only the N countries with the most addresses, most\n"
    "                      first, and one line for all the others\n"
    "  --stop-on-error     end the run at the first failing line of a formatted\n"
    "                      list, or at the first FILE that cannot be read\n"
    "  --threads N         scan and resolve on N threads, 1 to 64 (default: one\n"
    "                      per core); the rows come in the same order for any N\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and the sources of the data, and exit\n"
    "\n"
    "Texts read from files are taken as Windows-1252 and printed as UTF-8.\n"
    "Errors go to standard error: for several addresses each starts with the\n"
    "address (or, from standard input, its line number), as a failing line of a\n"
    "formatted list does, and for several files with the file; the other\n"
    "addresses, lines and files are still read.\n"
    "\n"
    "Merging statistics:\n"
    "  The statistics of a whole are the statistics of its parts merged: run\n"
    "  unformatted on each part (each log, shard or machine), then stats over\n"
    "  all their outputs. stats counts the rows; a statistics block in its input\n"
    "  (from a run with --stats) must agree with the rows before it, and counts\n"
    "  in their place when it stands alone, so stats also merges the outputs of\n"
    "  stats. The elapsed time stats reports is the sum of the elapsed times of\n"
    "  the statistics blocks it read or, when its input holds none, the time it\n"
    "  took itself to read its input.\n"
    "\n"
    "Exit status:\n"
    "  0   find answered every address (a country may be unknown); an analysis\n"
    "      read every file to its end (a formatted list's failing lines are\n"
    "      reported and skipped unless --stop-on-error is given); stats read\n"
    "      every file without a malformed line\n"
    "  1   some address was wrong, a file could not be read whole, a line given\n"
    "      to stats was not one this program prints, standard output could not\n"
    "      be written, or the data files cannot be used (nothing is printed for\n"
    "      stats then, and an analysis prints no statistics)\n"
    "  2   wrong usage\n";

// The problem, the synopsis (the first lines of the help) and where to read more.
int usageError(const std::string& problem) {
    const std::string_view help = kHelp;
    std::cerr << "ipcountry-batch: " << problem << "\nu" << help.substr(1, help.find("Tell ") - 1)
              << "Try 'ipcountry-batch --help' for more information.\n";
    return 2;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// Options stand before the command; "--name=value" is taken as well as
// "--name value".
std::optional<Options> parseOptions(int argc, char** argv, std::string& problem) {
    Options options;
    options.dataDir = programDirectory();
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> value;
        if (const auto equals = arg.find('=');
            arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const auto takeValue = [&](const char* what) -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 >= argc) {
                problem = arg + " needs " + what;
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--data-dir") {
            const auto dir = takeValue("a folder");
            if (!dir) return std::nullopt;
            options.dataDir = *dir;
        } else if (arg == "--format") {
            const auto name = takeValue("tsv, csv or json");
            if (!name) return std::nullopt;
            const auto format = batch::parseFormat(*name);
            if (!format) {
                problem = "unknown format '" + *name + "' (tsv, csv or json)";
                return std::nullopt;
            }
            options.format = *format;
        } else if (arg == "--input-format") {
            const auto name = takeValue("tsv, csv or json");
            if (!name) return std::nullopt;
            options.inputFormat = batch::parseFormat(*name);
            if (!options.inputFormat) {
                problem = "unknown input format '" + *name + "' (tsv, csv or json)";
                return std::nullopt;
            }
        } else if (arg == "--threads") {
            const auto count = takeValue("a number of threads");
            if (!count) return std::nullopt;
            const bool digits = !count->empty() && count->size() <= 2 &&
                                count->find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::stoi(*count) : 0;
            if (n < 1 || n > 64) {
                problem = "--threads takes a number from 1 to 64, not '" + *count + "'";
                return std::nullopt;
            }
            options.threads = static_cast<unsigned>(n);
        } else if (arg == "--only" || arg == "--exclude") {
            const auto network = takeValue("a network (CIDR) or @FILE");
            if (!network) return std::nullopt;
            (arg == "--only" ? options.only : options.exclude).push_back(*network);
        } else if (arg == "--sort") {
            const auto name = takeValue("count, name or list");
            if (!name) return std::nullopt;
            const auto order = batch::parseCountryOrder(*name);
            if (!order) {
                problem = "--sort takes count, name or list, not '" + *name + "'";
                return std::nullopt;
            }
            options.order = *order;
            options.orderGiven = true;
        } else if (arg == "--top") {
            const auto count = takeValue("a number of countries");
            if (!count) return std::nullopt;
            const bool digits = !count->empty() && count->size() <= 3 &&
                                count->find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::stoi(*count) : 0;
            if (n < 1) {
                problem = "--top takes a number of countries from 1 up, not '" + *count + "'";
                return std::nullopt;
            }
            options.top = static_cast<std::size_t>(n);
        } else if (value) {
            const bool flag = arg == "--stats" || arg == "--stop-on-error" || arg == "--help" ||
                              arg == "--version" || arg == "--first" || arg == "--all";
            problem = flag ? "option " + arg + " takes no value" : "unknown option " + arg;
            return std::nullopt;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--stop-on-error") {
            options.stopOnError = true;
        } else if (arg == "--first") {
            options.firstOfLine = true;
        } else if (arg == "--all") {
            options.withoutCountry = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return std::nullopt;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) options.arguments.emplace_back(argv[i]);
    return options;
}

int printText(std::string_view text) {
    batch::Output out;
    out.buffer() += text;
    return 0;
}

int printVersion(const Options& options) {
    std::string text = std::string("ipcountry-batch ") + IPCOUNTRY_VERSION + "\n";
    for (const std::string& line : batch::describeData(options.dataDir)) text += line + "\n";
    return printText(text);
}

// Calls onLines with the lines of standard input (without their line ends,
// CR LF or LF), a few dozen at a time, read in large blocks: a read per
// line, or getline's call per byte, would cost more than the lookup. A
// terminal hands over each line as it is typed, and every line of a block is
// handed on before the next read, so answers still come at once. Returns
// false, with errno set, when the input cannot be read.
template <class OnLines>
bool forEachInputLines(OnLines onLines) {
    constexpr std::size_t kBatch = 64;
    std::vector<char> block(1 << 16);
    std::vector<std::string_view> lines;
    std::string partial;  // a line cut by the end of a block, so far
    std::string joined;   // that line whole, in the next block's first batch
    const auto add = [&](std::string_view text) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        lines.push_back(text);
        if (lines.size() == kBatch) {
            onLines(std::span<const std::string_view>(lines));
            lines.clear();
        }
    };
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        std::string_view rest(block.data(), static_cast<std::size_t>(got));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            if (partial.empty()) {
                add(rest.substr(0, end));
            } else {
                joined = std::move(partial);
                joined.append(rest.data(), end);
                partial.clear();
                add(joined);
            }
        }
        partial.append(rest);
        // The views point into the block, which the next read overwrites.
        onLines(std::span<const std::string_view>(lines));
        lines.clear();
    }
    // The last line needs no line end.
    if (!partial.empty()) {
        add(partial);
        onLines(std::span<const std::string_view>(lines));
    }
    return true;
}

int runFind(const Options& options, const std::vector<std::string>& operands) {
    const auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.dataDir);
    lookup::Range6File ranges6(options.dataDir);
    // One snapshot of the range files for the whole run, as the analyses take.
    analysis::AddressFinder finder(table, ranges, ranges6);
    batch::Output out;
    batch::RowWriter writer(out, options.format);
    writer.findHeader();
    // A single address keeps the message the program always printed; with
    // more, each message says which address it is about.
    const bool several = operands.size() > 1 || operands[0] == "-";
    bool failed = false;
    // lineNumber 0: the address is an operand and names itself.
    const auto answer = [&](std::string_view address, std::int64_t lineNumber,
                            const analysis::AddressFinder::Found& found) {
        if (!found.error) {
            writer.findRow(address, found.answer);
            return;
        }
        // Answers before the message stay before it when both streams go to one place.
        out.flush();
        if (several) {
            if (lineNumber > 0)
                std::cerr << "line " << lineNumber << ": ";
            else
                std::cerr << address << ": ";
        }
        std::cerr << analysis::wrongDataMessage(found.error->what()) << '\n';
        failed = true;
    };
    std::vector<analysis::AddressFinder::Found> found;
    for (const std::string& operand : operands) {
        if (operand != "-") {
            const std::string_view address = operand;
            finder.findEach({&address, 1}, found);
            answer(address, 0, found[0]);
            continue;
        }
        // Someone typing addresses wants each answer at once, not at the end.
        const bool typed = ::isatty(STDIN_FILENO) != 0;
        const unsigned threads =
            options.threads != 0 ? options.threads : analysis::defaultThreadCount();
        if (!typed && threads > 1) {
            if (const int error = batch::findStandardInputOnThreads(finder, options.format, threads,
                                                                    out, failed)) {
                out.flush();
                std::cerr << "ipcountry-batch: cannot read standard input: " << std::strerror(error)
                          << '\n';
                return 1;
            }
            continue;
        }
        std::int64_t number = 0;
        std::vector<std::string_view> addresses;
        std::vector<std::int64_t> numbers;
        const bool read = forEachInputLines([&](std::span<const std::string_view> lines) {
            addresses.clear();
            numbers.clear();
            for (const std::string_view line : lines) {
                ++number;
                if (line.empty()) continue;
                addresses.push_back(line);
                numbers.push_back(number);
            }
            finder.findEach(addresses, found);
            for (std::size_t i = 0; i < addresses.size(); ++i)
                answer(addresses[i], numbers[i], found[i]);
            if (typed) out.flush();
        });
        if (!read) {
            const int error = errno;
            out.flush();
            std::cerr << "ipcountry-batch: cannot read standard input: " << std::strerror(error)
                      << '\n';
            return 1;
        }
    }
    return failed ? 1 : 0;
}

// report [-o PAGE] formatted|unformatted FILE...: the statistics as a page.
int runReport(const Options& options, std::vector<std::string> operands) {
    report::ReportRequest request;
    if (!operands.empty() && operands[0].rfind("-o", 0) == 0) {
        const bool joined = operands[0].size() > 2;  // -oPAGE
        if (!joined && operands.size() < 2) return usageError("-o needs a file name");
        request.output = joined ? operands[0].substr(2) : operands[1];
        operands.erase(operands.begin(), operands.begin() + (joined ? 1 : 2));
    }
    if (operands.empty() || (operands[0] != "formatted" && operands[0] != "unformatted"))
        return usageError("report needs formatted or unformatted, then the files");
    if (operands.size() < 2) return usageError("report needs at least one file");
    request.dataDir = options.dataDir;
    request.formatted = operands[0] == "formatted";
    request.files.assign(operands.begin() + 1, operands.end());
    request.stopOnError = options.stopOnError;
    request.threads = options.threads;
    request.provenance = batch::describeData(options.dataDir);
    request.provenance.insert(request.provenance.begin(), "ipcountry-batch " IPCOUNTRY_VERSION);
    if (options.firstOfLine && request.formatted)
        return usageError(
            "--first applies to unformatted: a formatted list has one address a line");
    const batch::RowChoice choice(options);
    request.rows = choice.rules;
    batch::Output out;
    batch::BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    return report::runReport(request, prompter, clock);
}

// Throws what the data files or the system throw; main() says it.
int runCommand(const Options& options) {
    const auto& args = options.arguments;
    if (args.empty()) return usageError("no command given");
    const std::string& command = args[0];
    const std::vector<std::string> operands(args.begin() + 1, args.end());
    // The options that choose rows apply where rows are found.
    const bool findsRows =
        command == "formatted" || command == "unformatted" || command == "report";
    if (!findsRows && (options.withoutCountry || !options.only.empty() || !options.exclude.empty()))
        return usageError("--all, --only and --exclude apply to formatted, unformatted and report");
    if (options.firstOfLine && command != "unformatted" && command != "report")
        return usageError("--first applies to unformatted and report unformatted");
    if (command == "formatted" && options.firstOfLine)
        return usageError(
            "--first applies to unformatted: a formatted list has one address a line");
    if (command == "find") {
        if (operands.empty()) return usageError("find needs at least one address");
        return runFind(options, operands);
    }
    if (command == "report") return runReport(options, operands);
    if (command != "formatted" && command != "unformatted" && command != "stats")
        return usageError("unknown command " + command);
    if (operands.empty() && command != "stats") return usageError(command + " needs a file");
    for (const std::string& operand : operands)
        if (operand.size() > 1 && operand[0] == '-')
            return usageError("options stand before the command: " + operand +
                              " (a file of that name is ./" + operand + ")");
    // Standard input can be read once only.
    if (std::count(operands.begin(), operands.end(), "-") > 1)
        return usageError("- (standard input) is named more than once");
    if (command == "stats") return batch::runStats(options, operands);
    return batch::runAnalysis(options, command == "formatted", operands);
}

// What could not be written is an error, as for cat, unless the reader left
// early: `| head` ends a run quietly.
int finish(int status) {
    const int error = batch::Output::writeError();
    if (error == 0) return status;
    if (error == EPIPE) return 0;
    std::cerr << "ipcountry-batch: write error: " << std::strerror(error) << '\n';
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = parseOptions(argc, argv, problem);
    if (!options) return usageError(problem);
    if (options->help) return finish(printText(kHelp));
    if (options->version) return finish(printVersion(*options));
    int status = 1;
    try {
        status = runCommand(*options);
    } catch (const batch::BadNetwork& e) {
        std::cerr << "ipcountry-batch: " << e.what() << '\n';
        status = 2;
    } catch (const lookup::Error& e) {
        // The data files themselves are unusable.
        std::cerr << "ipcountry-batch: " << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        std::cerr << "ipcountry-batch: out of memory\n";
    } catch (const std::exception& e) {
        // Whatever else ends a run: the rows printed so far stay.
        std::cerr << "ipcountry-batch: " << e.what() << '\n';
    }
    return finish(status);
}
