#include "report_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "address_tally.h"
#include "analysis/analysis.h"
#include "common/error_text.h"
#include "common/output_file.h"
#include "lookup/as_file.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"
#include "report.h"

namespace ipcountry::report {

namespace {

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d at %H:%M:%S (UTC%z)", &local);
    return buffer;
}

std::optional<std::uint64_t> sizeOf(const std::string& name) {
    if (name == "-") return std::nullopt;
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return std::nullopt;
    const auto size = std::filesystem::file_size(name, ec);
    return ec ? std::nullopt : std::optional<std::uint64_t>(size);
}

}  // namespace

int runReport(const ReportRequest& request, analysis::Prompter& prompter, analysis::Clock& clock,
              const SayProblem& say) {
    auto table = lookup::loadCountryTable(request.countriesDir);
    if (!request.listCountriesOnly) lookup::addCountriesBeyondList(table);
    const auto& rangesDir = request.rangesDir.empty() ? request.countriesDir : request.rangesDir;
    lookup::RangeFile ranges(rangesDir);
    lookup::Range6File ranges6(rangesDir);
    AddressTally tally;
    analysis::AnalysisContext context{table, ranges, ranges6, tally, prompter, clock, nullptr};
    context.dashIsStandardInput = true;
    if (request.threads != 0) context.threads = request.threads;
    context.rows = request.rows;

    ReportInput input;
    input.startedAt = localTimeNow();
    input.provenance = request.provenance;
    input.shapedBy = request.shapedBy;
    int status = 0;
    const auto start = clock.now();
    for (const std::string& file : request.files) {
        const bool stopped = status != 0 && request.stopOnError;
        FileFacts facts{file, sizeOf(file), !stopped};
        if (!stopped) {
            const analysis::RunResult result = request.formatted
                                                   ? analysis::runFormattedList(file, context)
                                                   : analysis::runFreeTextScan(file, context);
            // The prompter said why; the page says the file is incomplete.
            if (result.status != analysis::RunStatus::Completed) {
                facts.complete = false;
                status = 1;
            }
        }
        input.files.push_back(std::move(facts));
    }
    input.elapsed = clock.now() - start;
    addCounts(input, table, tally);
    if (!request.networksFile.empty()) {
        // A page without networks is still worth having: a data folder of
        // an older updater has no networks file.
        try {
            const lookup::AsFile networks(request.networksFile);
            addNetworks(input, table, tally, networks);
        } catch (const lookup::Error& e) {
            say(output::problemText(e) + "; the page names no networks");
        }
    }

    WorldMap map;
    try {
        map = loadWorldMap(request.countriesDir);
        input.map = &map;
    } catch (const std::exception& e) {
        // The figures are worth a page without its map.
        const auto* unread = dynamic_cast<const lookup::Error*>(&e);
        input.mapProblem = unread != nullptr ? output::problemText(*unread) : e.what();
        say(input.mapProblem + "; the page has no map");
    }
    const std::string page = renderReport(input);
    if (request.output == "-") {
        const bool written = std::fwrite(page.data(), 1, page.size(), stdout) == page.size();
        if (!written || std::fflush(stdout) != 0) {
            say(std::string("cannot write the page to standard output: ") + std::strerror(errno));
            return 1;
        }
        return status;
    }
    if (const auto problem = output::writeOutputFile(request.output, page)) {
        say(request.output + ": " + problem->reason);
        return 1;
    }
    return status;
}

}  // namespace ipcountry::report
