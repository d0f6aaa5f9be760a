// ipcountry-batch: the whole road from an address to its country, without a
// window. `--help` tells how to use it; the manual page is made from that text.

#include <unistd.h>

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
#include "analysis/interfaces.h"
#include "analysis/messages.h"
#include "analysis/statistics.h"
#include "batch_output.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "provenance.h"

#ifndef IPCOUNTRY_VERSION
#error "the build passes the program's version"
#endif

namespace {

namespace fs = std::filesystem;
using namespace ipcountry;
using batch::Format;

// Also the source of the manual page (help2man, with ipcountry-batch.h2m):
// lines that end with a colon become its sections.
constexpr const char* kHelp =
    "Usage: ipcountry-batch [OPTION]... find ADDRESS...\n"
    "  or:  ipcountry-batch [OPTION]... formatted FILE\n"
    "  or:  ipcountry-batch [OPTION]... unformatted FILE\n"
    "Tell the country of IPv4 and IPv6 addresses without a window: one by one,\n"
    "from a list of address:port lines ([address]:port for IPv6), or wherever\n"
    "they stand in a text such as a log.\n"
    "\n"
    "Commands:\n"
    "  find ADDRESS...     print each ADDRESS with its country code and country\n"
    "                      name, one line each in the order given; an ADDRESS of\n"
    "                      - reads one address per line from standard input\n"
    "  formatted FILE      resolve a list of one address:port per line\n"
    "  unformatted FILE    resolve every address found anywhere in a text\n"
    "                      (both print one row per address: IP, Port, Country;\n"
    "                      FILE may be gzip, bzip2, xz or zstd, and - reads\n"
    "                      standard input)\n"
    "\n"
    "Options:\n"
    "  --data-dir DIR      read Country.dbf, IP_db.dbf, IP6_db.dbf and\n"
    "                      provenance.txt from DIR (default: the folder of this\n"
    "                      program)\n"
    "  --format FORMAT     tsv (default): tab-separated rows, no header;\n"
    "                      csv: a header row, fields quoted as RFC 4180 says,\n"
    "                      rows ended by CR LF, with a Code column;\n"
    "                      json: JSON Lines, one object per row with ip, port,\n"
    "                      country and code (find: ip, code and country, null\n"
    "                      for no code or an unknown country)\n"
    "  --stats             after the rows, print the statistics of the analysis;\n"
    "                      csv: two more tables, each after a blank line\n"
    "                      (Elapsed seconds,Total and Country,Code,Count,Share);\n"
    "                      json: one last object with elapsed_seconds, total and\n"
    "                      countries (country, code, count, share in percent)\n"
    "  --stop-on-error     end a formatted list at its first failing line\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and the sources of the data, and exit\n"
    "\n"
    "Texts read from files are taken as Windows-1252 and printed as UTF-8.\n"
    "Errors go to standard error: for several addresses each starts with the\n"
    "address (or, from standard input, its line number), as a failing line of a\n"
    "formatted list does; the other addresses and lines are still answered.\n"
    "\n"
    "Exit status:\n"
    "  0   find answered every address (a country may be unknown); an analysis\n"
    "      read its whole file (a formatted list's failing lines are reported\n"
    "      and skipped unless --stop-on-error is given)\n"
    "  1   some address was wrong, an analysis ended early, or the data files\n"
    "      cannot be used\n"
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

struct Options {
    fs::path dataDir;
    Format format = Format::Tsv;
    bool stats = false;
    bool stopOnError = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;  // the command and its operands
};

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
        } else if (value) {
            const bool flag = arg == "--stats" || arg == "--stop-on-error" || arg == "--help" ||
                              arg == "--version";
            problem = flag ? "option " + arg + " takes no value" : "unknown option " + arg;
            return std::nullopt;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--stop-on-error") {
            options.stopOnError = true;
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

int printVersion(const Options& options) {
    std::cout << "ipcountry-batch " << IPCOUNTRY_VERSION << '\n';
    for (const std::string& line : batch::describeData(options.dataDir)) std::cout << line << '\n';
    return 0;
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

// The grid of the driver: each row goes to standard output as it is appended.
// A row's code is the one its slot stands for, as its flag in the window is.
class PrintingGrid final : public analysis::ResultSink {
public:
    PrintingGrid(batch::RowWriter& writer, const lookup::CountryTable& table)
        : m_writer(writer), m_table(table) {}
    void appendRow(std::string_view ip, std::string_view port, std::string_view country,
                   int slot) override {
        m_writer.analysisRow(ip, port, country, analysis::flagCodeOfSlot(m_table, slot));
    }

private:
    batch::RowWriter& m_writer;
    const lookup::CountryTable& m_table;
};

// Prompts become messages on standard error; the answer comes from the options.
class BatchPrompter final : public analysis::Prompter {
public:
    BatchPrompter(batch::Output& out, bool stopOnError) : m_out(out), m_stopOnError(stopOnError) {}
    bool askContinue(std::string_view message, std::int64_t lineNumber) override {
        // Only the first line: "Do you want continue?" is answered by the options.
        const std::string_view first = message.substr(0, message.find("\r\n"));
        m_out.flush();  // rows before the message stay before it when both streams go to one place
        if (lineNumber > 0) std::cerr << "line " << lineNumber << ": ";
        std::cerr << first << '\n';
        return !m_stopOnError;
    }
    void showError(std::string_view message) override {
        m_out.flush();
        std::cerr << message << '\n';
    }

private:
    batch::Output& m_out;
    bool m_stopOnError;
};

int runAnalysis(const Options& options, bool formatted, const std::string& path) {
    auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.dataDir);
    lookup::Range6File ranges6(options.dataDir);
    batch::Output out;
    batch::RowWriter writer(out, options.format);
    PrintingGrid grid(writer, table);
    BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    analysis::AnalysisContext context{table, ranges, ranges6, grid, prompter, clock, nullptr};
    context.dashIsStandardInput = true;

    writer.analysisHeader();
    const analysis::RunResult result = formatted ? analysis::runFormattedList(path, context)
                                                 : analysis::runFreeTextScan(path, context);
    if (result.status != analysis::RunStatus::Completed) return 1;

    if (options.stats) {
        const analysis::Statistics stats = analysis::buildStatistics(
            table, result.rowsAdded + 2, result.elapsed, analysis::StatsLocale{});
        writer.statistics(stats, table, result.elapsed);
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = parseOptions(argc, argv, problem);
    if (!options) return usageError(problem);
    if (options->help) {
        std::cout << kHelp;
        return 0;
    }
    if (options->version) return printVersion(*options);
    const auto& args = options->arguments;
    if (args.empty()) return usageError("no command given");
    try {
        if (args[0] == "find") {
            if (args.size() < 2) return usageError("find needs at least one address");
            return runFind(*options, {args.begin() + 1, args.end()});
        }
        if (args[0] == "formatted" || args[0] == "unformatted") {
            if (args.size() != 2) return usageError(args[0] + " takes one file");
            return runAnalysis(*options, args[0] == "formatted", args[1]);
        }
    } catch (const lookup::Error& e) {
        // The data files themselves are unusable.
        std::cerr << "ipcountry-batch: " << e.what() << "\n";
        return 1;
    }
    return usageError("unknown command " + args[0]);
}
