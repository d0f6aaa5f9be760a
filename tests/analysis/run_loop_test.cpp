#include "analysis/run_loop.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "analysis/formatted_list.h"
#include "analysis/free_text_run.h"
#include "fakes.h"

namespace ipcountry::analysis {
namespace {

using testing::Fixture;
using testing::kExample6Ranges;
using testing::kExampleRanges;

// A grid that runs out of memory at its third row.
class ExhaustedGrid final : public ResultSink {
public:
    void appendRow(const ResultRow& row) override {
        if (rows.size() == 2) throw std::bad_alloc();
        rows.emplace_back(row.address);
    }
    std::vector<std::string> rows;
};

TEST(RunBoundary, noMemoryEndsEitherRunWithAMessageAndKeepsTheRowsBefore) {
    for (const auto& [formatted, threads] :
         {std::pair{true, 1u}, {false, 1u}, {true, 2u}, {false, 2u}}) {
        SCOPED_TRACE(std::string(formatted ? "formatted" : "free text") + " on " +
                     std::to_string(threads));
        Fixture f(kExampleRanges);
        ExhaustedGrid grid;
        AnalysisContext context{f.table, f.ranges, f.ranges6, grid, f.prompter, f.clock, nullptr};
        context.threads = threads;
        const std::string path =
            f.dir.write("in.txt", "10.1.2.3:1\r\n10.1.2.4:2\r\n10.1.2.5:3\r\n10.1.2.6:4\r\n");

        const RunResult result =
            formatted ? runFormattedList(path, context) : runFreeTextScan(path, context);

        EXPECT_EQ(result.status, RunStatus::Stopped);
        EXPECT_EQ(grid.rows, (std::vector<std::string>{"10.1.2.3", "10.1.2.4"}));
        EXPECT_EQ(result.rowsAdded, 2);
        EXPECT_EQ(f.table.totalHits(), 2);
        const auto& told = formatted ? f.prompter.questions : f.prompter.errors;
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].rfind("There is not enough memory", 0), 0u) << told[0];
        if (formatted) {
            EXPECT_EQ(f.prompter.questionLines, std::vector<std::int64_t>{3});
        }
    }
}

// The seam for working blocks of lines elsewhere: the line work recorded
// into an EventLog a few lines at a time, its rows resolved, and replayed in
// order gives the rows, counts and prompts of the run itself.
template <class Work>
void expectReplayGivesTheRun(std::string_view text, bool formatted) {
    Fixture direct(kExampleRanges);
    direct.dir.write("IP6_db.dbf", kExample6Ranges);
    const RunResult run = formatted ? direct.formatted(text) : direct.freeText(text);

    Fixture replayed(kExampleRanges);
    replayed.dir.write("IP6_db.dbf", kExample6Ranges);
    AnalysisContext context = replayed.context();
    RunConsumer consumer(context);
    Work work(replayed.table, replayed.ranges, replayed.ranges6);
    work.begin();
    std::vector<EventLog> blocks(1);
    LinePlace at;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        ++at.lineNumber;
        work.piece(line, at, blocks.back());
        if (at.lineNumber % 2 == 0) blocks.emplace_back();
        start = end;
    }
    // A log's rows are looked up together once its lines are worked.
    for (EventLog& block : blocks) work.resolveRows(block);
    for (const EventLog& block : blocks)
        if (block.replay(consumer) == Flow::Stop) break;

    EXPECT_EQ(replayed.grid.rows, direct.grid.rows);
    EXPECT_EQ(replayed.prompter.questions, direct.prompter.questions);
    EXPECT_EQ(replayed.prompter.questionLines, direct.prompter.questionLines);
    EXPECT_EQ(consumer.rowsAdded(), run.rowsAdded);
    EXPECT_EQ(replayed.table.totalHits(), direct.table.totalHits());
}

TEST(RunSeam, recordedAndReplayedBlocksGiveTheRunsRows) {
    const std::string_view log =
        "a 10.1.2.3:80 b [2001:db8::1]:443 c\n"
        "11.0.0.9 and 2001:db8:8000::5 and fe80::1%eth0\n"
        "\n"
        "nothing here\n"
        "12.0.0.1 5.6.7.8 ::ffff:10.1.2.4\n";
    expectReplayGivesTheRun<FreeTextLines>(log, false);
    const std::string_view list =
        "10.1.2.3:80\n1.2.3.4\n[2001:db8::1]:443\n[2001:db8::1]/64\n11.0.0.9:25\n:80\n";
    expectReplayGivesTheRun<FormattedLines>(list, true);
}

TEST(RunSeam, replayStopsAtTheAnswerNoAndRethrowsTheWorksError) {
    Fixture f(kExampleRanges);
    f.prompter.answers = {false};
    AnalysisContext context = f.context();
    RunConsumer consumer(context);
    EventLog log;
    log.row({"10.1.2.3", ":1", {0, false}});
    log.failingLine({2, lookup::Error(lookup::ErrorKind::BadData, "bad")});
    log.row({"10.1.2.4", ":1", {0, false}});
    log.fail(std::make_exception_ptr(std::bad_alloc()));
    EXPECT_EQ(log.replay(consumer), Flow::Stop);
    EXPECT_EQ(f.grid.rows.size(), 1u);

    f.prompter.answers = {true};
    RunConsumer again(context);
    EXPECT_THROW(log.replay(again), std::bad_alloc);
    EXPECT_EQ(again.rowsAdded(), 2);
}

}  // namespace
}  // namespace ipcountry::analysis
