#pragma once

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"
#include "support/temp_dir.h"
#include "ui/messages.h"

namespace ipcountry::analysis::testing {

struct Row {
    std::string ip, port, country;
    int slot = 0;
    bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << '{' << row.ip << " | " << row.port << " | " << row.country << " | " << row.slot
              << '}';
}

// The rows an analysis appends, each with the country it shows.
class FakeGrid final : public ResultSink {
public:
    explicit FakeGrid(const lookup::CountryTable& table) : m_table(table) {}
    void appendRow(const ResultRow& row) override {
        // A row without a country shows its reason where the country would be.
        rows.push_back(Row{std::string(row.address), std::string(row.port),
                           row.reason.empty() ? std::string(countryName(m_table, row.country))
                                              : "(" + std::string(row.reason) + ")",
                           row.country.slot});
        lines.push_back(row.lineNumber);
    }
    std::vector<Row> rows;
    std::vector<std::int64_t> lines;  // each row's line

private:
    const lookup::CountryTable& m_table;
};

// Answers prompts from a script (Yes when the script runs out) and records
// what the analysis hands on: each failing line's description and number,
// each error's description, in the window's words.
class FakePrompter final : public Prompter {
public:
    bool askContinue(const FailingLine& line) override {
        questions.push_back(ui::failingLineDescription(line));
        questionLines.push_back(line.lineNumber);
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showError(const lookup::Error& error) override {
        errors.push_back(ui::errorDescription(error));
    }

    std::deque<bool> answers;
    std::vector<std::string> questions;
    std::vector<std::int64_t> questionLines;
    std::vector<std::string> errors;
};

// Each call to now() moves on by `step`.
class FakeClock final : public Clock {
public:
    std::chrono::steady_clock::time_point now() override {
        const auto value = m_now;
        m_now += step;
        return value;
    }
    std::chrono::nanoseconds step = std::chrono::seconds(2);

private:
    std::chrono::steady_clock::time_point m_now{std::chrono::hours(23)};
};

// A folder of its own under the system's temporary folder, removed at the end.
using TempDir = ipcountry::test::TempDir;

// Everything a run needs, over a data folder with the given range file.
struct Fixture {
    explicit Fixture(std::string_view rangeLines,
                     std::string_view countryLines = "DEGermany\r\nFRFrance\r\n")
        : table(lookup::parseCountryTable(countryLines, "Country.dbf")),
          ranges(dir.path()),
          ranges6(dir.path()) {
        dir.write("IP_db.dbf", rangeLines);
    }
    // With the fixture's own thread count, never the machine's: 1 runs the
    // single loop, more the ordered pipeline.
    AnalysisContext context() {
        AnalysisContext context{table, ranges, ranges6, grid, prompter, clock, nullptr};
        context.threads = threads;
        return context;
    }
    RunResult formatted(std::string_view list) {
        auto ctx = context();
        return runFormattedList(dir.write("list.txt", list), ctx);
    }
    RunResult freeText(std::string_view text) {
        auto ctx = context();
        return runFreeTextScan(dir.write("log.txt", text), ctx);
    }

    unsigned threads = 1;
    TempDir dir;
    lookup::CountryTable table;
    lookup::RangeFile ranges;
    lookup::Range6File ranges6;
    FakeGrid grid{table};
    FakePrompter prompter;
    FakeClock clock;
};

// The range file of the worked example: DE, US, FR above 0A000000, ZZ below.
inline constexpr std::string_view kExampleRanges =
    "00000000ZZ\r\n0A000000DE\r\n0B000000US\r\n0C000000FR\r\n";
// IPv6: 2001:db8::/33 DE, 2001:db8:8000::/33 FR, US nested in DE, ZZ elsewhere.
inline constexpr std::string_view kExample6Ranges =
    "00000000000000000000000000000000ZZ\r\n20010DB8000000000000000000000000DE\r\n"
    "20010DB8000100000000000000000000US\r\n20010DB8000200000000000000000000DE\r\n"
    "20010DB8800000000000000000000000FR\r\n20010DB9000000000000000000000000ZZ\r\n";

}  // namespace ipcountry::analysis::testing
