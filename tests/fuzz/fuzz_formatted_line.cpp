// Any file as a formatted list and as free text, with every prompt answered
// Yes: the runs end (early only after telling why: an archive that turns out
// damaged), every row is counted once, no TAB reaches a cell, and the rows of
// the formatted list are the lines it accepted.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"

namespace {

using namespace ipcountry;

struct Sink final : analysis::ResultSink {
    std::int64_t rows = 0;
    void appendRow(const analysis::ResultRow& row) override {
        if (row.address.find('\t') != std::string_view::npos ||
            row.port.find('\t') != std::string_view::npos)
            std::abort();
        if (row.country.slot < 0 || row.country.slot >= lookup::kSlotCount) std::abort();
        ++rows;
    }
};

struct Yes final : analysis::Prompter {
    int told = 0;
    bool askContinue(const analysis::FailingLine&) override {
        ++told;
        return true;
    }
    void showError(const lookup::Error&) override { ++told; }
};

const std::filesystem::path& dataDir() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("ipcountry-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        std::ofstream(d / "IP_db.dbf", std::ios::binary)
            << "00000000ZZ\r\n01000000DE\r\n0A000000US\r\n0B000000FR\r\nC0000000ZZ\r\n";
        std::ofstream(d / "IP6_db.dbf", std::ios::binary)
            << "00000000000000000000000000000000ZZ\r\n20010000000000000000000000000000DE\r\n"
               "20010DB8000000000000000000000000US\r\n20020000000000000000000000000000ZZ\r\n";
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = dataDir() / "input.txt";
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto table = lookup::parseCountryTable("DEGermany\r\nFRFrance\r\n", "Country.dbf");
    // Kept across inputs, as the program keeps it across operations.
    static lookup::RangeFile ranges(dataDir());
    static lookup::Range6File ranges6(dataDir());
    Sink sink;
    Yes prompter;
    analysis::SteadyClock clock;
    analysis::AnalysisContext context{table, ranges, ranges6, sink, prompter, clock, nullptr};
    // The first byte picks the engine and a small block, so that lines cross
    // block borders and a run costs little: the default started a reader and
    // a worker per core for each of the two runs of every input (thread
    // stacks are dear under the sanitizers) and took 2 MiB of buffers. One
    // input in eight runs the ordered pipeline on two threads; the others the
    // single loop, which the parallel differential holds the pipeline to.
    const unsigned pick = size > 0 ? data[0] : 0;
    context.threads = (pick & 7) == 7 ? 2 : 1;
    context.blockSize = std::size_t{16} << (pick >> 3 & 7);

    const auto formatted = analysis::runFormattedList(input.string(), context);
    if (formatted.status != analysis::RunStatus::Completed && prompter.told == 0) std::abort();
    if (table.totalHits() != sink.rows || formatted.rowsAdded != sink.rows) std::abort();

    const auto before = sink.rows;
    const int toldBefore = prompter.told;
    const auto scanned = analysis::runFreeTextScan(input.string(), context);
    if (scanned.status != analysis::RunStatus::Completed && prompter.told == toldBefore)
        std::abort();
    if (table.totalHits() != sink.rows || scanned.rowsAdded != sink.rows - before) std::abort();
    return 0;
}
