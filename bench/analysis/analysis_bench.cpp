// The batch analyses end to end, next to ripgrep and GNU grep extracting the
// same kind of matches from the same log (they only extract; we look every
// address up and count it too), plus the scanner alone and the formatted list.
//
//   build/bench/analysis_bench --benchmark_counters_tabular=true
//
// The corpora are written, seeded and so the same every time, into
// $IPCOUNTRY_BENCH_DIR (default /tmp/ipcountry-bench): about 3 s before the
// first benchmark. The bundled data/IP_db.dbf is used when present, else a
// synthetic range file.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/both_families_scanner.h"
#include "analysis/ipv4_scanner.h"
#include "analysis/ipv6_scanner.h"
#include "analysis/line_reader.h"
#include "corpus.h"
#include "lookup/address_key.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"

extern char** environ;

namespace {

// The middle of the rounds: one slow round on a busy machine moves it least.
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

namespace fs = std::filesystem;
using namespace ipcountry;

constexpr std::uint64_t kLogBytes = 100ull << 20;
constexpr std::uint64_t kListLines = 1'000'000;
constexpr std::uint64_t kSeed = 20240115;
const char* const kPattern = "([0-9]{1,3}\\.){3}[0-9]{1,3}(:[0-9]{1,5})?";
// Both families in one pattern. It is looser than our rules (times and MAC
// addresses match its IPv6 half), which only makes its work lighter.
const char* const kPatternBoth =
    "([0-9]{1,3}\\.){3}[0-9]{1,3}(:[0-9]{1,5})?|\\[?[0-9A-Fa-f]{0,4}(:[0-9A-Fa-f]{0,4}){2,7}(\\]:["
    "0-9]{1,5})?";

fs::path benchDir() {
    const char* dir = std::getenv("IPCOUNTRY_BENCH_DIR");
    fs::path path = dir != nullptr ? dir : "/tmp/ipcountry-bench";
    fs::create_directories(path);
    return path;
}

// Generated once per run of the benchmark.
struct Corpus {
    std::string path;
    bench::CorpusStats stats;
};

const Corpus& logCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        c.path = (benchDir() / "mixed-100MB.log").string();
        c.stats = bench::writeLogCorpus(c.path, kLogBytes, kSeed);
        return c;
    }();
    return corpus;
}

// The same kinds of log with about 30 % IPv6 clients.
const Corpus& dualStackCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        c.path = (benchDir() / "dual-stack-100MB.log").string();
        c.stats = bench::writeMixedLogCorpus(c.path, kLogBytes, kSeed);
        return c;
    }();
    return corpus;
}

const Corpus& listCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        c.path = (benchDir() / "list-1M.txt").string();
        c.stats = bench::writeListCorpus(c.path, kListLines, kSeed);
        return c;
    }();
    return corpus;
}

// The folder with Country.dbf and IP_db.dbf: the bundled data, or a synthetic
// range file of 200,000 ranges over a small country list.
const fs::path& dataDir() {
    static const fs::path dir = [] {
        const fs::path bundled = IPCOUNTRY_DATA_DIR;
        if (fs::exists(bundled / "IP_db.dbf") && fs::exists(bundled / "Country.dbf"))
            return bundled;
        const fs::path synthetic = benchDir() / "synthetic-data";
        fs::create_directories(synthetic);
        std::ofstream countries(synthetic / "Country.dbf", std::ios::binary);
        const char* codes[] = {"DE", "FR", "GB", "NL", "CN", "RU", "BR", "IN", "JP", "US"};
        for (const char* code : codes) countries << code << "Country " << code << "\r\n";
        std::ofstream ranges(synthetic / "IP_db.dbf", std::ios::binary);
        for (std::uint32_t i = 0; i < 200'000; ++i)
            ranges << lookup::addressToKey(i * 21474u) << codes[(i * 7) % 10] << "\r\n";
        return synthetic;
    }();
    return dir;
}

class DiscardingGrid final : public analysis::ResultSink {
public:
    void appendRow(const analysis::ResultRow&) override { ++rows; }
    std::int64_t rows = 0;
};

class YesPrompter final : public analysis::Prompter {
public:
    bool askContinue(const analysis::FailingLine&) override {
        ++failures;
        return true;
    }
    void showError(const lookup::Error&) override { ++failures; }
    std::int64_t failures = 0;
};

struct Child {
    double seconds = 0;
    double peakMiB = 0;
    double cpuSeconds = 0;  // user and system, of the shell and what it waited for
    std::string out;
    int status = -1;
};

// Runs `/bin/sh -c command`, its standard output captured in a file, and
// measures its wall time and the peak memory of its largest process.
Child runShell(const std::string& command) {
    const std::string outPath = (benchDir() / "child.out").string();
    const std::string full = command + " > '" + outPath + "'";
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    Child child;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return child;
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    child.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    child.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::ifstream in(outPath);
    std::getline(in, child.out);
    return child;
}

void reportLog(benchmark::State& state) {
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * logCorpus().stats.bytes));
}

// Ours: read, scan, look up, count; the rows are discarded.
void BM_FreeTextEndToEnd(benchmark::State& state) {
    const Corpus& corpus = logCorpus();
    const auto table = lookup::loadCountryTable(dataDir());
    // Untimed: every address the generator wrote must be found.
    std::uint64_t found = 0;
    {
        analysis::LineReader reader;
        reader.open(corpus.path);
        std::string_view piece;
        bool lineEnds = false;
        analysis::Ipv4Scanner scanner;
        while (reader.next(piece, lineEnds) == analysis::LineReader::Next::Piece) {
            scanner.feed(piece, [&found](const analysis::FoundAddress&) { ++found; });
            if (lineEnds) scanner.endLine([&found](const analysis::FoundAddress&) { ++found; });
        }
    }
    std::int64_t rows = 0;
    for (auto _ : state) {
        auto counted = table;
        lookup::RangeFile ranges(dataDir());
        lookup::Range6File ranges6(dataDir());
        DiscardingGrid grid;
        YesPrompter prompter;
        analysis::SteadyClock clock;
        analysis::AnalysisContext context{counted, ranges, ranges6, grid, prompter, clock, nullptr};
        const auto result = analysis::runFreeTextScan(corpus.path, context);
        if (result.status != analysis::RunStatus::Completed)
            state.SkipWithError("the run did not complete");
        rows = grid.rows;
    }
    reportLog(state);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["found"] = static_cast<double>(found);
    state.counters["written"] = static_cast<double>(corpus.stats.addresses);
}
BENCHMARK(BM_FreeTextEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The driver as a user runs it, rows printed to a file: wall time and the
// peak memory of the whole process.
void BM_FreeTextDriver(benchmark::State& state) {
    const Corpus& corpus = logCorpus();
    Child child;
    for (auto _ : state) {
        child = runShell(std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' --data-dir '" +
                         dataDir().string() + "' unformatted '" + corpus.path + "' | wc -l");
        state.SetIterationTime(child.seconds);
    }
    reportLog(state);
    state.counters["peak_MiB"] = child.peakMiB;
    state.counters["rows"] = std::atof(child.out.c_str());
}
BENCHMARK(BM_FreeTextDriver)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

// The driver's three output formats on the same log: rows as tsv, csv and
// JSON Lines through a pipe. Each iteration runs all three, in turn from a
// different one, so that a busy machine slows them alike; the counters are
// the medians of each format's wall and CPU time (driver and pipe) and the
// speed of csv and json next to tsv (1 = as fast, 0.8 = a quarter slower).
void BM_FreeTextDriverFormats(benchmark::State& state) {
    static const char* const kFormats[] = {"tsv", "csv", "json"};
    const Corpus& corpus = logCorpus();
    std::vector<double> wall[3], cpu[3];
    double outMiB[3] = {};
    int turn = 0;
    for (auto _ : state) {
        double total = 0;
        for (int k = 0; k < 3; ++k) {
            const int f = (turn + k) % 3;
            const Child child =
                runShell(std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' --data-dir '" +
                         dataDir().string() + "' --format " + kFormats[f] + " unformatted '" +
                         corpus.path + "' | wc -c");
            if (child.status != 0) state.SkipWithError("the driver failed");
            wall[f].push_back(child.seconds);
            cpu[f].push_back(child.cpuSeconds);
            outMiB[f] = std::atof(child.out.c_str()) / (1 << 20);
            total += child.seconds;
        }
        ++turn;
        state.SetIterationTime(total);
    }
    for (int f = 0; f < 3; ++f) {
        state.counters[std::string(kFormats[f]) + "_ms"] = 1000 * median(wall[f]);
        state.counters[std::string(kFormats[f]) + "_cpu_ms"] = 1000 * median(cpu[f]);
        state.counters[std::string(kFormats[f]) + "_MiB"] = outMiB[f];
    }
    for (int f = 1; f < 3; ++f) {
        state.counters[std::string(kFormats[f]) + "_speed"] = median(wall[0]) / median(wall[f]);
        state.counters[std::string(kFormats[f]) + "_cpu_speed"] = median(cpu[0]) / median(cpu[f]);
    }
}
BENCHMARK(BM_FreeTextDriverFormats)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The HTML report against the statistics it draws, on the same log, each
// written to a file: `--stats` prints every row as well, the report counts
// rows per address instead. Each iteration runs both, in turn first, so that
// a busy machine slows them alike; the counters are the medians of wall time
// and peak memory, and report_ratio is the report's median wall time over
// that of --stats.
void BM_ReportAgainstStats(benchmark::State& state) {
    static const char* const kCommands[] = {"--stats unformatted", "report unformatted"};
    static const char* const kNames[] = {"stats", "report"};
    const Corpus& corpus = logCorpus();
    std::vector<double> wall[2], peak[2];
    int turn = 0;
    for (auto _ : state) {
        double total = 0;
        for (int k = 0; k < 2; ++k) {
            const int c = (turn + k) % 2;
            const Child child =
                runShell(std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' --data-dir '" +
                         dataDir().string() + "' " + kCommands[c] + " '" + corpus.path + "'");
            if (child.status != 0) state.SkipWithError("the driver failed");
            wall[c].push_back(child.seconds);
            peak[c].push_back(child.peakMiB);
            total += child.seconds;
        }
        ++turn;
        state.SetIterationTime(total);
    }
    for (int c = 0; c < 2; ++c) {
        state.counters[std::string(kNames[c]) + "_ms"] = 1000 * median(wall[c]);
        state.counters[std::string(kNames[c]) + "_peak_MiB"] = median(peak[c]);
    }
    state.counters["report_ratio"] = median(wall[1]) / median(wall[0]);
}
BENCHMARK(BM_ReportAgainstStats)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(9);

// What IPv6 support costs and gives, in one run side by side: this driver and
// an older one (IPCOUNTRY_BASELINE_BATCH, skipped when unset) on the IPv4-only
// log, and this driver and ripgrep extracting both families with one pattern
// on the dual-stack log. Each iteration runs all, in turn from a different
// one; the counters are medians of wall and CPU time, their ratios (above 1:
// this build is faster) and this driver's peak memory.
//   build/bench/analysis_bench --benchmark_filter=Ipv6SideBySide --benchmark_counters_tabular=true
void BM_Ipv6SideBySide(benchmark::State& state) {
    const char* older = std::getenv("IPCOUNTRY_BASELINE_BATCH");
    const std::string data = " --data-dir '" + dataDir().string() + "' unformatted '";
    const std::string ours = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch'" + data;
    struct Contender {
        const char* name;
        std::string command;
        std::vector<double> wall, cpu;
        double peakMiB = 0;
    };
    std::vector<Contender> contenders = {
        {"ipv4log", ours + logCorpus().path + "' | wc -l", {}, {}},
        {"dual", ours + dualStackCorpus().path + "' | wc -l", {}, {}},
        {"rg_dual",
         std::string("rg -o '") + kPatternBoth + "' '" + dualStackCorpus().path + "' | wc -l",
         {},
         {}},
    };
    if (older != nullptr)
        contenders.push_back(
            {"older_ipv4log",
             std::string("'") + older + "'" + data + logCorpus().path + "' | wc -l",
             {},
             {}});
    std::size_t turn = 0;
    for (auto _ : state) {
        double total = 0;
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            Contender& c = contenders[(turn + k) % contenders.size()];
            const Child child = runShell(c.command);
            if (child.status != 0) state.SkipWithError(c.name);
            c.wall.push_back(child.seconds);
            c.cpu.push_back(child.cpuSeconds);
            c.peakMiB = std::max(c.peakMiB, child.peakMiB);
            total += child.seconds;
        }
        ++turn;
        state.SetIterationTime(total);
    }
    for (const Contender& c : contenders) {
        state.counters[std::string(c.name) + "_ms"] = 1000 * median(c.wall);
        state.counters[std::string(c.name) + "_cpu_ms"] = 1000 * median(c.cpu);
    }
    state.counters["dual_peak_MiB"] = contenders[1].peakMiB;
    state.counters["dual_vs_rg"] = median(contenders[2].wall) / median(contenders[1].wall);
    if (older != nullptr) {
        state.counters["ipv4log_vs_older"] =
            median(contenders[3].wall) / median(contenders[0].wall);
        state.counters["ipv4log_vs_older_cpu"] =
            median(contenders[3].cpu) / median(contenders[0].cpu);
    }
}
BENCHMARK(BM_Ipv6SideBySide)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(9);

// ripgrep and GNU grep through a pipe (grep stops at its first match when
// its output is /dev/null).
void runExtractor(benchmark::State& state, const std::string& tool,
                  const Corpus& corpus = logCorpus(), const char* pattern = kPattern) {
    Child child;
    for (auto _ : state) {
        child = runShell(tool + " -o '" + pattern + "' '" + corpus.path + "' | wc -l");
        state.SetIterationTime(child.seconds);
        if (child.status != 0) state.SkipWithError((tool + " failed").c_str());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.stats.bytes));
    state.counters["rows"] = std::atof(child.out.c_str());
}
void BM_Ripgrep(benchmark::State& state) { runExtractor(state, "rg"); }
void BM_GrepE(benchmark::State& state) { runExtractor(state, "grep -E"); }
void BM_RipgrepBothFamiliesDualStack(benchmark::State& state) {
    runExtractor(state, "rg", dualStackCorpus(), kPatternBoth);
}
BENCHMARK(BM_RipgrepBothFamiliesDualStack)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_Ripgrep)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_GrepE)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// The first 32 MB of a corpus as lines in memory.
std::vector<std::string> linesOf(const Corpus& corpus) {
    std::vector<std::string> all;
    analysis::LineReader reader;
    reader.open(corpus.path);
    std::string_view line;
    bool lineEnds = false;
    std::uint64_t bytes = 0;
    // The corpus's lines are short: each comes whole.
    while (bytes < (32u << 20) &&
           reader.next(line, lineEnds) == analysis::LineReader::Next::Piece) {
        all.emplace_back(line);
        bytes += line.size() + 2;
    }
    return all;
}

std::uint64_t bytesOf(const std::vector<std::string>& lines) {
    std::uint64_t bytes = 0;
    for (const auto& line : lines) bytes += line.size() + 2;
    return bytes;
}

// --- Compressed logs, standard input, long lines: each a child process, so
// that wall time and peak memory are the whole program's. Run side by side:
//   build/bench/analysis_bench --benchmark_filter='Archive|Piped|Zcat|Plain|LongLine'
//     (with --benchmark_counters_tabular=true)
// and compare medians. IPCOUNTRY_BASELINE_BATCH names an older ipcountry-batch
// to run the plain log with as well; IPCOUNTRY_LONG_LINE_MB sizes the long-line
// files (default 1024).

std::string driver() {
    return std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' --data-dir '" +
           dataDir().string() + "'";
}

// The log compressed by the tools themselves, once per run.
const std::string& compressedLog(const std::string& tool, const std::string& extension) {
    static std::map<std::string, std::string> paths;
    auto& path = paths[extension];
    if (path.empty()) {
        path = logCorpus().path + extension;
        if (std::system((tool + " -c '" + logCorpus().path + "' > '" + path + "'").c_str()) != 0)
            path.clear();
    }
    return path;
}

void runPipeline(benchmark::State& state, const std::string& command) {
    Child child;
    for (auto _ : state) {
        child = runShell(command);
        state.SetIterationTime(child.seconds);
    }
    reportLog(state);
    state.counters["peak_MiB"] = child.peakMiB;
    state.counters["cpu_s"] = child.cpuSeconds;
    state.counters["rows"] = std::atof(child.out.c_str());
}

// Ours on the archive, the tools' own unpacker into ripgrep, and ours reading
// the unpacker's output from a pipe.
void BM_Archive(benchmark::State& state, const std::string& tool, const std::string& extension) {
    runPipeline(state, driver() + " unformatted '" + compressedLog(tool, extension) + "' | wc -l");
}
// Whole runs of a process, timed by hand: each repetition is one run, and
// the median of the repetitions is what counts on a shared machine.
template <int kRepetitions>
void wholeRuns(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true);
}

void BM_ZcatRipgrep(benchmark::State& state, const std::string& cat, const std::string& tool,
                    const std::string& extension) {
    runPipeline(state, cat + " '" + compressedLog(tool, extension) + "' | rg -o '" + kPattern +
                           "' | wc -l");
}
void BM_Piped(benchmark::State& state, const std::string& cat, const std::string& tool,
              const std::string& extension) {
    runPipeline(state, cat + " '" + compressedLog(tool, extension) + "' | " + driver() +
                           " unformatted - | wc -l");
}
BENCHMARK_CAPTURE(BM_Archive, gzip6, "gzip -6", ".gz")->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_ZcatRipgrep, gzip6, "zcat", "gzip -6", ".gz")->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_Piped, gzip6, "zcat", "gzip -6", ".gz")->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_Archive, zstd3, "zstd -3 -q", ".zst")->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_ZcatRipgrep, zstd3, "zstdcat", "zstd -3 -q", ".zst")->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_Piped, zstd3, "zstdcat", "zstd -3 -q", ".zst")->Apply(wholeRuns<5>);

// Runs each contender once per iteration, in turn from a different one, so
// that a busy machine slows them alike; reports the median wall and CPU time
// of each (name_ms, name_cpu_ms) and keeps its peak memory.
struct SideBySide {
    struct Contender {
        std::string name;
        std::string command;
        std::vector<double> wall, cpu;
        double peakMiB = 0;
    };
    std::vector<Contender> contenders;

    void run(benchmark::State& state) {
        std::size_t turn = 0;
        for (auto _ : state) {
            double total = 0;
            for (std::size_t k = 0; k < contenders.size(); ++k) {
                Contender& c = contenders[(turn + k) % contenders.size()];
                const Child child = runShell(c.command);
                if (child.status != 0) state.SkipWithError(c.name.c_str());
                c.wall.push_back(child.seconds);
                c.cpu.push_back(child.cpuSeconds);
                c.peakMiB = std::max(c.peakMiB, child.peakMiB);
                total += child.seconds;
            }
            ++turn;
            state.SetIterationTime(total);
        }
        for (const Contender& c : contenders) {
            state.counters[c.name + "_ms"] = 1000 * median(c.wall);
            state.counters[c.name + "_cpu_ms"] = 1000 * median(c.cpu);
        }
    }
    const Contender* find(const std::string& name) const {
        for (const Contender& c : contenders)
            if (c.name == name) return &c;
        return nullptr;
    }
    double medianWall(const std::string& name) const {
        const Contender* c = find(name);
        return c != nullptr ? median(c->wall) : 0;
    }
};

// Both cores against one, in one run side by side: this driver with its
// default threads and with --threads 1, the build before (IPCOUNTRY_BASELINE_BATCH,
// skipped when unset) and the peers, on the plain log, its .gz, the dual-stack
// log and the formatted list. Each iteration runs every command, in turn from
// a different one; the counters are medians of wall time and the medians of
// the per-iteration ratios (below 1: ours is faster), and peak memory.
//   build/bench/analysis_bench --benchmark_filter=ThreadsSideBySide
//   --benchmark_counters_tabular=true
void BM_ThreadsSideBySide(benchmark::State& state) {
    const char* older = std::getenv("IPCOUNTRY_BASELINE_BATCH");
    const std::string data = " --data-dir '" + dataDir().string() + "' ";
    const std::string ours = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch'" + data;
    const std::string before = older != nullptr ? std::string("'") + older + "'" + data : "";
    const std::string log = "'" + logCorpus().path + "'";
    const std::string gz = "'" + compressedLog("gzip -6", ".gz") + "'";
    const std::string dual = "'" + dualStackCorpus().path + "'";
    const std::string list = "'" + listCorpus().path + "'";
    using Contender = SideBySide::Contender;
    SideBySide runs;
    std::vector<Contender>& contenders = runs.contenders;
    contenders = {
        {"log", ours + "unformatted " + log + " | wc -l", {}, {}, 0},
        {"log_1t", ours + "--threads 1 unformatted " + log + " | wc -l", {}, {}, 0},
        {"log_rg", std::string("rg -o '") + kPattern + "' " + log + " | wc -l", {}, {}, 0},
        {"gz", ours + "unformatted " + gz + " | wc -l", {}, {}, 0},
        {"gz_1t", ours + "--threads 1 unformatted " + gz + " | wc -l", {}, {}, 0},
        {"gz_zcat_rg", "zcat " + gz + " | rg -o '" + kPattern + "' | wc -l", {}, {}, 0},
        {"dual", ours + "unformatted " + dual + " | wc -l", {}, {}, 0},
        {"dual_rg", std::string("rg -o '") + kPatternBoth + "' " + dual + " | wc -l", {}, {}, 0},
        {"list", ours + "formatted " + list + " | wc -l", {}, {}, 0},
        {"list_1t", ours + "--threads 1 formatted " + list + " | wc -l", {}, {}, 0},
    };
    if (older != nullptr) {
        contenders.push_back({"log_before", before + "unformatted " + log + " | wc -l", {}, {}, 0});
        contenders.push_back({"gz_before", before + "unformatted " + gz + " | wc -l", {}, {}, 0});
        contenders.push_back({"list_before", before + "formatted " + list + " | wc -l", {}, {}, 0});
    }
    runs.run(state);
    const auto find = [&runs](const std::string& name) { return runs.find(name); };
    state.counters["log_peak_MiB"] = find("log")->peakMiB;
    state.counters["gz_peak_MiB"] = find("gz")->peakMiB;
    const std::pair<const char*, const char*> ratios[] = {
        {"log", "log_rg"},    {"log", "log_1t"},   {"log", "log_before"},
        {"gz", "gz_zcat_rg"}, {"gz", "gz_1t"},     {"gz", "gz_before"},
        {"dual", "dual_rg"},  {"list", "list_1t"}, {"list", "list_before"},
    };
    for (const auto& [ours, theirs] : ratios) {
        const Contender* a = find(ours);
        const Contender* b = find(theirs);
        if (a == nullptr || b == nullptr) continue;
        std::vector<double> perRound;
        for (std::size_t i = 0; i < a->wall.size(); ++i)
            perRound.push_back(a->wall[i] / b->wall[i]);
        state.counters[std::string(ours) + "_vs_" +
                       (std::string(theirs).substr(std::string(theirs).find('_') + 1))] =
            median(perRound);
    }
}
BENCHMARK(BM_ThreadsSideBySide)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

// The filters on thousands of networks beside the run without them, side by
// side: 10,000 random networks (IPv4 /12 to /28 and IPv6 /32 to /64) to
// leave out or to keep, and --first. Sorted merged ranges make each address
// one binary search, so the ratios stay near 1 however many networks.
//   build/bench/analysis_bench --benchmark_filter=FiltersSideBySide
//   --benchmark_counters_tabular=true
void BM_FiltersSideBySide(benchmark::State& state) {
    const std::string data = " --data-dir '" + dataDir().string() + "' ";
    const std::string ours = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch'" + data;
    const std::string log = "'" + logCorpus().path + "'";
    const std::string networks = logCorpus().path + ".networks";
    {
        std::ofstream out(networks);
        std::uint64_t seed = 0x9e3779b97f4a7c15ULL;
        const auto next = [&seed] {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            return seed;
        };
        out << "# 10,000 networks\n";
        for (int i = 0; i < 10000; ++i) {
            const std::uint64_t r = next();
            if (i % 10 == 0)
                out << std::hex << 0x2000 + r % 0x1000 << ':' << (r >> 16) % 0x10000 << std::dec
                    << "::/" << 32 + r % 33 << '\n';
            else
                out << 1 + r % 223 << '.' << (r >> 8) % 256 << '.' << (r >> 16) % 256 << '.'
                    << (r >> 24) % 256 << '/' << 12 + (r >> 32) % 17 << '\n';
        }
    }
    SideBySide runs;
    runs.contenders = {
        {"plain", ours + "unformatted " + log + " | wc -l", {}, {}, 0},
        {"exclude",
         ours + "--exclude @'" + networks + "' unformatted " + log + " | wc -l",
         {},
         {},
         0},
        {"only", ours + "--only @'" + networks + "' unformatted " + log + " | wc -l", {}, {}, 0},
        {"first", ours + "--first unformatted " + log + " | wc -l", {}, {}, 0},
    };
    runs.run(state);
    for (const char* name : {"exclude", "only", "first"})
        state.counters[std::string(name) + "_vs_plain"] =
            runs.medianWall(name) / runs.medianWall("plain");
}
BENCHMARK(BM_FiltersSideBySide)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The plain log: this build, and the older one when named.
void BM_Plain(benchmark::State& state, bool baseline) {
    const char* older = std::getenv("IPCOUNTRY_BASELINE_BATCH");
    if (baseline && older == nullptr) {
        state.SkipWithError("IPCOUNTRY_BASELINE_BATCH not set");
        for (auto _ : state) {
        }
        return;
    }
    const std::string program =
        baseline ? std::string("'") + older + "' --data-dir '" + dataDir().string() + "'"
                 : driver();
    runPipeline(state, program + " unformatted '" + logCorpus().path + "' | wc -l");
}
BENCHMARK_CAPTURE(BM_Plain, thisBuild, false)->Apply(wholeRuns<5>);
BENCHMARK_CAPTURE(BM_Plain, baseline, true)->Apply(wholeRuns<5>);

// A file without any line end holding an address every kilobyte, and the same
// bytes with every hundredth one a line end (never inside an address): the
// same rows, about the same time, the same small memory.
const std::string& longLineFile(bool lineEnds) {
    static std::string paths[2];
    std::string& path = paths[lineEnds ? 1 : 0];
    if (path.empty()) {
        const char* mb = std::getenv("IPCOUNTRY_LONG_LINE_MB");
        const std::uint64_t kilobytes = (mb != nullptr ? std::strtoull(mb, nullptr, 10) : 1024)
                                        << 10;
        path = (benchDir() / (lineEnds ? "long-line-ends.txt" : "long-line.txt")).string();
        std::string block(1024, 'x');
        std::ofstream out(path, std::ios::binary);
        for (std::uint64_t k = 0; k < kilobytes; ++k) {
            // First octets that the registries have handed out, so that rows come.
            static const int kFirst[] = {81, 62, 200, 41, 190, 88, 213};
            const std::string address = " " + std::to_string(kFirst[k % 7]) + "." +
                                        std::to_string(k % 251) + "." + std::to_string(k % 199) +
                                        "." + std::to_string(k % 97) + ":" +
                                        std::to_string(k % 65536) + " ";
            block.replace(510, address.size(), address);
            if (lineEnds)
                for (std::size_t at = 0; at < block.size(); at += 100) block[at] = '\n';
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.assign(1024, 'x');
        }
    }
    return path;
}
void BM_LongLine(benchmark::State& state, bool lineEnds) {
    runPipeline(state, driver() + " unformatted '" + longLineFile(lineEnds) + "' | wc -l");
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * fs::file_size(longLineFile(lineEnds))));
}
BENCHMARK_CAPTURE(BM_LongLine, noLineEnd, false)->Apply(wholeRuns<3>);
BENCHMARK_CAPTURE(BM_LongLine, lineEndEvery100, true)->Apply(wholeRuns<3>);

// The scanner alone over lines in memory: no reading, no lookups.
void BM_ScannerOnly(benchmark::State& state) {
    static const std::vector<std::string> lines = linesOf(logCorpus());
    std::uint64_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const auto& line : lines)
            analysis::scanLine(
                line, [&found](const analysis::FoundAddress& a) { found += a.address != 1; });
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesOf(lines)));
    state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_ScannerOnly)->Unit(benchmark::kMillisecond);

// The IPv6 scanner alone, each line fed as one piece; on the IPv4-only log
// it shows what looking for IPv6 costs a log without any.
void runScanner6(benchmark::State& state, const Corpus& corpus) {
    const std::vector<std::string> lines = linesOf(corpus);
    std::uint64_t found = 0;
    for (auto _ : state) {
        found = 0;
        analysis::Ipv6Scanner scanner;
        const auto on = [&found](const analysis::FoundAddress6& a) { found += a.low != 1; };
        for (const auto& line : lines) {
            scanner.feed(line, on);
            scanner.endLine(on);
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesOf(lines)));
    state.counters["found"] = static_cast<double>(found);
}
void BM_Scanner6OnlyDualStack(benchmark::State& state) { runScanner6(state, dualStackCorpus()); }
void BM_Scanner6OnlyIpv4Log(benchmark::State& state) { runScanner6(state, logCorpus()); }
BENCHMARK(BM_Scanner6OnlyDualStack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scanner6OnlyIpv4Log)->Unit(benchmark::kMillisecond);

// Both families, rows merged in order of their starts. Untimed first: every
// address the generator wrote must be found, in its family. On the IPv4-only
// log, next to BM_ScannerOnly, it shows what the IPv6 scan adds to a log
// without IPv6.
void runBothFamilies(benchmark::State& state, const Corpus& corpus) {
    const std::vector<std::string> lines = linesOf(corpus);
    std::uint64_t found4 = 0, found6 = 0;
    const auto on4 = [&found4](const analysis::FoundAddress&) { ++found4; };
    const auto on6 = [&found6](const analysis::FoundAddress6&) { ++found6; };
    {
        analysis::LineReader reader;
        reader.open(corpus.path);
        std::string_view line;
        bool lineEnds = false;
        while (reader.next(line, lineEnds) == analysis::LineReader::Next::Piece)
            analysis::scanLineBothFamilies(line, on4, on6);
        state.counters["found4"] = static_cast<double>(found4);
        state.counters["found6"] = static_cast<double>(found6);
        state.counters["written4"] =
            static_cast<double>(corpus.stats.addresses - corpus.stats.addresses6);
        state.counters["written6"] = static_cast<double>(corpus.stats.addresses6);
    }
    for (auto _ : state) {
        analysis::BothFamiliesScanner scanner;
        // Whole lines, as the run hands them over.
        for (const auto& line : lines) scanner.scanLine(line, on4, on6);
        benchmark::DoNotOptimize(found4);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesOf(lines)));
}
void BM_BothFamiliesScannerDualStack(benchmark::State& state) {
    runBothFamilies(state, dualStackCorpus());
}
void BM_BothFamiliesScannerIpv4Log(benchmark::State& state) { runBothFamilies(state, logCorpus()); }
BENCHMARK(BM_BothFamiliesScannerDualStack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BothFamiliesScannerIpv4Log)->Unit(benchmark::kMillisecond);

// A formatted list of a million lines end to end, in lines per second.
void BM_FormattedListEndToEnd(benchmark::State& state) {
    const Corpus& corpus = listCorpus();
    const auto table = lookup::loadCountryTable(dataDir());
    std::int64_t rows = 0, failures = 0;
    for (auto _ : state) {
        auto counted = table;
        lookup::RangeFile ranges(dataDir());
        lookup::Range6File ranges6(dataDir());
        DiscardingGrid grid;
        YesPrompter prompter;
        analysis::SteadyClock clock;
        analysis::AnalysisContext context{counted, ranges, ranges6, grid, prompter, clock, nullptr};
        analysis::runFormattedList(corpus.path, context);
        rows = grid.rows;
        failures = prompter.failures;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus.stats.lines));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_FormattedListEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The log cut at line ends into `parts` files of about the same size, once.
const std::vector<std::string>& logShards(int parts = 8) {
    static std::vector<std::string> paths;
    if (!paths.empty()) return paths;
    std::ifstream in(logCorpus().path, std::ios::binary);
    const std::uint64_t share = logCorpus().stats.bytes / parts + 1;
    std::string line;
    for (int k = 0; k < parts; ++k) {
        paths.push_back((benchDir() / ("shard" + std::to_string(k) + ".log")).string());
        std::ofstream out(paths.back(), std::ios::binary);
        for (std::uint64_t bytes = 0; (bytes < share || k == parts - 1) && std::getline(in, line);
             bytes += line.size() + 1)
            out << line << '\n';
    }
    return paths;
}

// Several files in one run against the same bytes as one file: the log, and
// the log cut into eight at line ends. eight_vs_one is the speed of the
// eight files next to the one (1 = as fast per megabyte). With
// IPCOUNTRY_BASELINE_BATCH, the older driver on the one file as well.
//   build/bench/analysis_bench --benchmark_filter=SeveralFiles --benchmark_counters_tabular=true
void BM_SeveralFilesSideBySide(benchmark::State& state) {
    std::string shards;
    for (const std::string& path : logShards()) shards += " '" + path + "'";
    SideBySide runs{{
        {"one", driver() + " --stats unformatted '" + logCorpus().path + "' | wc -l", {}, {}, 0},
        {"eight", driver() + " --stats unformatted" + shards + " | wc -l", {}, {}, 0},
    }};
    if (const char* older = std::getenv("IPCOUNTRY_BASELINE_BATCH"))
        runs.contenders.push_back({"older_one",
                                   std::string("'") + older + "' --data-dir '" +
                                       dataDir().string() + "' --stats unformatted '" +
                                       logCorpus().path + "' | wc -l",
                                   {},
                                   {},
                                   0});
    runs.run(state);
    reportLog(state);
    state.counters["eight_vs_one"] = runs.medianWall("one") / runs.medianWall("eight");
    if (runs.contenders.size() > 2)
        state.counters["one_vs_older"] = runs.medianWall("older_one") / runs.medianWall("one");
}
BENCHMARK(BM_SeveralFilesSideBySide)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(15);

// Merging: stats over the rows the eight parts printed, as tsv and as json,
// next to the analysis of the whole log that it stands for (MB/s of each
// input in *_MBps).
void BM_StatsSideBySide(benchmark::State& state) {
    std::string printed[2];
    std::uint64_t bytes[2] = {};
    const char* formats[] = {"tsv", "json"};
    for (int f = 0; f < 2; ++f) {
        for (std::size_t k = 0; k < logShards().size(); ++k) {
            const std::string out =
                (benchDir() / ("shard" + std::to_string(k) + "." + formats[f])).string();
            if (!fs::exists(out))
                std::system((driver() + " --format " + formats[f] + " unformatted '" +
                             logShards()[k] + "' > '" + out + "'")
                                .c_str());
            printed[f] += " '" + out + "'";
            bytes[f] += fs::file_size(out);
        }
    }
    SideBySide runs{{
        {"analysis", driver() + " --stats unformatted '" + logCorpus().path + "' | wc -l", {}, {}},
        {"stats_tsv", driver() + " stats" + printed[0] + " | wc -l", {}, {}},
        {"stats_json", driver() + " stats" + printed[1] + " | wc -l", {}, {}},
    }};
    runs.run(state);
    const double mb = 1.0 / (1 << 20);
    state.counters["analysis_MBps"] =
        static_cast<double>(logCorpus().stats.bytes) * mb / runs.medianWall("analysis");
    state.counters["stats_tsv_MBps"] =
        static_cast<double>(bytes[0]) * mb / runs.medianWall("stats_tsv");
    state.counters["stats_json_MBps"] =
        static_cast<double>(bytes[1]) * mb / runs.medianWall("stats_json");
}
BENCHMARK(BM_StatsSideBySide)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
