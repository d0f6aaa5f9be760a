#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "analysis/row_rules.h"

namespace ipcountry::report {

// One `ipcountry-batch report` run: what to read and where the page goes.
struct ReportRequest {
    std::filesystem::path countriesDir;   // Country.dbf and world_map.txt
    std::filesystem::path rangesDir;      // IP_db.dbf and IP6_db.dbf; empty: countriesDir
    bool formatted = false;               // address:port lists, else free text
    std::vector<std::string> files;       // "-" reads standard input
    std::string output = "-";             // "-": standard output
    bool stopOnError = false;             // the first file not read to its end ends the run
    unsigned threads = 0;                 // as AnalysisContext::threads; 0: its default
    analysis::RowRules rows;              // which addresses count, as for the analyses
    bool listCountriesOnly = false;       // the window's country list, none beyond it
    std::vector<std::string> shapedBy;    // the options that chose the rows, for the page
    std::vector<std::string> provenance;  // the lines `--version` prints
    // asn.bin: the page names the networks when it can be read; empty: none.
    std::string networksFile;
};

// Reads every file, then writes the page. A file that is not read to its end
// is named on standard error and marked on the page, and the other files are
// still read; the page is written all the same, as output::writeOutputFile
// writes (a file replaced only when whole, a device or FIFO in place). Returns the exit status: 0,
// or 1 when a file was not read to its end or the page could not be written. Throws lookup::Error
// when the data files cannot be used.
// The run's own problems (no networks, no map, the page not written) go to
// `say`, in the command line's words, as the driver's other messages do.
using SayProblem = std::function<void(std::string_view problem)>;
int runReport(const ReportRequest& request, analysis::Prompter& prompter, analysis::Clock& clock,
              const SayProblem& say);

}  // namespace ipcountry::report
