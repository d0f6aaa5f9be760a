#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/interfaces.h"
#include "analysis/line_reader.h"

namespace ipcountry::analysis {

// One run of either analysis, in three parts:
//
//   LineReader  --pieces-->  line work  --events-->  RunConsumer
//   input, progress,         scan + resolve:         in input order: rows
//   cancel (runLines)        what each line gives    appended and counted,
//                                                    prompts; go on or stop
//
// The line work (FormattedLines, FreeTextLines) is called as
//     Flow piece(std::string_view piece, const LinePlace& at, Out& out);
// with each piece of each line in order, and tells `out` what the line gives:
//     Flow out.row(const ResultRow&)        a row, its texts valid during the call
//     Flow out.failingLine(FailingLine&&)   a formatted list's line that gives none
// It returns Stop as soon as `out` does. An error that ends the run (the range
// data cannot be read, no memory) is thrown as an exception.
//
// The seam for running the line work on several threads: the work keeps no
// state from one line to the next (but a line's own pieces and the range
// data it opens), so a block of whole lines can be worked on another thread
// into an EventLog (texts copied, an exception kept in its place) with its
// own LinePlace numbers, and the logs replayed into the one RunConsumer in
// input order; a Stop from the consumer ends the replay at that event, as a
// No at a prompt ends the run at its line today.
enum class Flow { GoOn, Stop };

// Where a piece stands: its line's number (from 1) and whether it begins or
// ends the line. A line longer than the reader's block comes in several pieces.
struct LinePlace {
    std::int64_t lineNumber = 0;
    bool starts = true;
    bool ends = true;
};

// The in-order end of a run: rows to the grid and the counts, failing lines to the user.
class RunConsumer {
public:
    explicit RunConsumer(AnalysisContext& context) : m_context(context) {}

    Flow row(const ResultRow& row) {
        m_context.grid.appendRow(row);
        m_context.table.addHit(row.country.slot);
        ++m_rowsAdded;
        return Flow::GoOn;
    }
    Flow failingLine(FailingLine&& line) {
        return m_context.prompter.askContinue(line) ? Flow::GoOn : Flow::Stop;
    }
    std::int64_t rowsAdded() const noexcept { return m_rowsAdded; }

private:
    AnalysisContext& m_context;
    std::int64_t m_rowsAdded = 0;
};

// What the line work gave for some lines, kept to be handed on later.
class EventLog {
public:
    Flow row(const ResultRow& row) {
        m_events.push_back(
            {Kind::Row, std::string(row.address), std::string(row.port), row.country, 0});
        return Flow::GoOn;
    }
    Flow failingLine(FailingLine&& line) {
        m_events.push_back({Kind::Failing, std::move(line.reason), {}, {}, line.lineNumber});
        return Flow::GoOn;
    }
    // The error that ended the work, handed on after the events before it.
    void fail(std::exception_ptr error) { m_error = std::move(error); }

    // Hands the events on in order; rethrows the error at its place.
    template <class Out>
    Flow replay(Out& out) const {
        for (const Event& event : m_events) {
            const Flow flow = event.kind == Kind::Row
                                  ? out.row(ResultRow{event.first, event.second, event.country})
                                  : out.failingLine(FailingLine{event.lineNumber, event.first});
            if (flow == Flow::Stop) return flow;
        }
        if (m_error) std::rethrow_exception(m_error);
        return Flow::GoOn;
    }

private:
    enum class Kind { Row, Failing };
    struct Event {
        Kind kind;
        std::string first;   // the address, or the failing line's reason
        std::string second;  // the port
        Resolution country;
        std::int64_t lineNumber;
    };
    std::vector<Event> m_events;
    std::exception_ptr m_error;
};

// How an error that ends the run reaches the user: as the failing line at
// which the list broke off (Yes and No both end the run: there is nothing to
// go on with), or as the free-text scan's OK message.
enum class RunError { AsFailingLine, AsMessage };

// The text of an error that ends a run.
inline std::string runErrorText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
        return "There is not enough memory to go on with this file; "
               "the rows found before stay.";
    return error.what();
}

// Reads `path` and hands every piece of every line to `work`, reporting
// progress once per block read; a cancel or a Stop ends the run where it
// stands. Any exception ends it with one message (RunError); whatever was
// added before stays.
template <class Work>
RunResult runLines(const std::string& path, AnalysisContext& context, Work& work, RunError errors) {
    RunResult result;
    const auto started = context.clock.now();
    RunConsumer consumer(context);
    LinePlace at;
    std::int64_t lineAtRisk = 0;  // the line an error now would be told of; 0: the list itself
    const auto stop = [&](RunStatus status) {
        result.status = status;
        result.rowsAdded = consumer.rowsAdded();
        if (status == RunStatus::Completed) result.elapsed = context.clock.now() - started;
        return result;
    };
    try {
        LineReader reader;
        reader.open(path, LineReader::kBlockSize, context.dashIsStandardInput);
        work.begin();
        for (;;) {
            std::string_view piece;
            lineAtRisk = at.starts ? at.lineNumber + 1 : at.lineNumber;
            const LineReader::Next next = reader.next(piece, at.ends);
            if (next == LineReader::Next::End) break;
            if (reader.blockWasRead() && context.progress != nullptr &&
                !context.progress->update(reader.bytesRead(), reader.fileSize()))
                return stop(RunStatus::Stopped);
            if (next == LineReader::Next::Idle) continue;
            if (at.starts) ++at.lineNumber;
            lineAtRisk = at.lineNumber;
            const Flow flow = work.piece(piece, at, consumer);
            at.starts = at.ends;
            if (flow == Flow::Stop) return stop(RunStatus::Stopped);
        }
    } catch (const std::exception& error) {
        if (errors == RunError::AsMessage) {
            context.prompter.showError(runErrorText(error));
        } else {
            context.prompter.askContinue(FailingLine{lineAtRisk, runErrorText(error)});
        }
        return stop(RunStatus::Stopped);
    }
    return stop(RunStatus::Completed);
}

}  // namespace ipcountry::analysis
