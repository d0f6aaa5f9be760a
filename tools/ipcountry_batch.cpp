// ipcountry-batch: the whole road from an address to its country, without a
// window. Usage:
//   ipcountry-batch [--data-dir DIR] find ADDRESS
//   ipcountry-batch [--data-dir DIR] [--stats] [--stop-on-error] formatted FILE
//   ipcountry-batch [--data-dir DIR] [--stats] unformatted FILE

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/interfaces.h"
#include "analysis/messages.h"
#include "analysis/statistics.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"

namespace {

namespace fs = std::filesystem;
using namespace ipcountry;

constexpr const char* kUsage =
    "usage: ipcountry-batch [--data-dir DIR] find ADDRESS\n"
    "       ipcountry-batch [--data-dir DIR] [--stats] [--stop-on-error] formatted FILE\n"
    "       ipcountry-batch [--data-dir DIR] [--stats] unformatted FILE\n"
    "\n"
    "  find ADDRESS       print ADDRESS, its country code and country name\n"
    "  formatted FILE     resolve a list of one address:port per line\n"
    "  unformatted FILE   resolve every address found anywhere in a text\n"
    "                     (both print one row per address: IP, Port, Country)\n"
    "\n"
    "  --data-dir DIR     folder of Country.dbf, IP_db.dbf and flags/\n"
    "                     (default: the folder of this program)\n"
    "  --stats            after the rows, print the statistics of the analysis\n"
    "  --stop-on-error    end a formatted list at its first failing line\n";

int usageError(const std::string& problem) {
    std::cerr << "ipcountry-batch: " << problem << "\n\n" << kUsage;
    return 2;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

struct Options {
    fs::path dataDir;
    bool stats = false;
    bool stopOnError = false;
    std::vector<std::string> arguments;  // the command and its operands
};

// Options stand before the command.
std::optional<Options> parseOptions(int argc, char** argv, std::string& problem) {
    Options options;
    options.dataDir = programDirectory();
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--data-dir") {
            if (i + 1 >= argc) {
                problem = "--data-dir needs a folder";
                return std::nullopt;
            }
            options.dataDir = argv[++i];
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--stop-on-error") {
            options.stopOnError = true;
        } else if (arg.rfind("--", 0) == 0) {
            problem = "unknown option " + arg;
            return std::nullopt;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) options.arguments.emplace_back(argv[i]);
    return options;
}

int runFind(const Options& options, const std::string& address) {
    const auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.dataDir);
    analysis::Answer answer;
    try {
        answer = analysis::findCountry(address, table, ranges);
    } catch (const lookup::Error& e) {
        std::cerr << analysis::wrongDataMessage(e.what()) << "\n";
        return 1;
    }
    const std::string name =
        answer.country ? lookup::windows1252ToUtf8(answer.country->country) : "Unknown";
    std::cout << address << '\t' << lookup::windows1252ToUtf8(answer.code) << '\t' << name << '\n';
    return 0;
}

// Standard output in large pieces: a log of millions of addresses prints
// millions of rows.
class Output {
public:
    ~Output() { flush(); }
    // 8-bit text from the files, written as UTF-8.
    void row(std::string_view ip, std::string_view port, std::string_view country) {
        analysis::appendResultRow(m_buffer, ip, port, country);
        m_buffer += '\n';
        if (m_buffer.size() >= (1u << 16)) flush();
    }
    void plain(std::string_view utf8) { m_buffer += utf8; }
    void flush() {
        if (!m_buffer.empty()) std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
        m_buffer.clear();
        std::fflush(stdout);
    }

private:
    std::string m_buffer;
};

// The grid of the driver: each row goes to standard output as it is appended.
class PrintingGrid final : public analysis::ResultSink {
public:
    explicit PrintingGrid(Output& out) : m_out(out) {}
    void appendRow(std::string_view ip, std::string_view port, std::string_view country, int) override {
        m_out.row(ip, port, country);
    }

private:
    Output& m_out;
};

// Prompts become messages on standard error; the answer comes from the options.
class BatchPrompter final : public analysis::Prompter {
public:
    BatchPrompter(Output& out, bool stopOnError) : m_out(out), m_stopOnError(stopOnError) {}
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
    Output& m_out;
    bool m_stopOnError;
};

int runAnalysis(const Options& options, bool formatted, const std::string& path) {
    auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.dataDir);
    Output out;
    PrintingGrid grid(out);
    BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    analysis::AnalysisContext context{table, ranges, grid, prompter, clock, nullptr};

    const analysis::RunResult result = formatted ? analysis::runFormattedList(path, context)
                                                 : analysis::runFreeTextScan(path, context);
    if (result.status != analysis::RunStatus::Completed) return 1;

    if (options.stats) {
        const analysis::Statistics stats = analysis::buildStatistics(
            table, result.rowsAdded + 2, result.elapsed, analysis::StatsLocale{});
        out.plain("\nAnalysis took " + stats.elapsedText + "\nTotal number of IPs is " +
                  std::to_string(stats.total) + "\n");
        for (const auto& row : stats.rows) out.plain(row.name + "\t" + row.count + "\t" + row.share + "\n");
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = parseOptions(argc, argv, problem);
    if (!options) return usageError(problem);
    const auto& args = options->arguments;
    if (args.empty()) return usageError("no command given");
    try {
        if (args[0] == "find") {
            if (args.size() != 2) return usageError("find takes one address");
            return runFind(*options, args[1]);
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
