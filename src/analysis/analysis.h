#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/interfaces.h"
#include "analysis/row_rules.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

// The machine's cores, at least 1: the threads a run uses unless told otherwise.
unsigned defaultThreadCount();

// Everything one batch run works with; owned by the caller.
struct AnalysisContext {
    lookup::CountryTable& table;
    lookup::RangeFile& ranges;
    lookup::Range6File& ranges6;  // opened only when an IPv6 address needs it
    ResultSink& sink;  // the rows: the window's grid, the driver's writer or a test's list
    Prompter& prompter;
    Clock& clock;
    Progress* progress = nullptr;
    // The driver reads standard input for the file name "-"; the window
    // opens every name as typed.
    bool dashIsStandardInput = false;
    // Threads that work blocks of lines while the calling thread hands on
    // their rows in order: 1 does everything on the calling thread.
    unsigned threads = defaultThreadCount();
    // Which addresses give rows (the driver's --first, --only, --exclude, --all).
    RowRules rows{};
    // The reader's block; tests make it tiny so that lines cross its borders.
    std::size_t blockSize = std::size_t{1} << 20;
    // A regular file is read in place through a memory map; false reads it
    // with read() as a pipe is read (both give the same answers).
    bool readInPlace = true;
};

enum class RunStatus {
    Completed,  // reached the end of the input: the statistics window follows
    Stopped,    // No at a prompt, a cancel, or an error: rows and counts so far stay
};

struct RunResult {
    RunStatus status = RunStatus::Stopped;
    std::chrono::nanoseconds elapsed{0};  // meaningful when Completed
    std::int64_t rowsAdded = 0;
};

// A formatted list's line longer than this is a failing line, read past
// without being held: a thousand times the longest address and port, so no
// list that a person or a program writes comes near it, while a file that is
// no list (a disk image, /dev/zero) costs no more memory than this.
inline constexpr std::size_t kLongestFormattedLine = std::size_t{64} << 10;

// A formatted list: one address:port per line (TABs removed). A failing line
// asks the prompter whether to go on. `path` is used exactly as typed.
RunResult runFormattedList(const std::string& path, AnalysisContext& context);

// Arbitrary text: every address (and the port right behind it) wherever it stands.
RunResult runFreeTextScan(const std::string& path, AnalysisContext& context);

}  // namespace ipcountry::analysis
