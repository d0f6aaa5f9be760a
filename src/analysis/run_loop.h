#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/interfaces.h"
#include "analysis/line_reader.h"
#include "analysis/ordered_pipeline.h"
#include "lookup/address_text.h"

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
// On several threads (AnalysisContext::threads), blocks of whole lines are
// worked on other threads, each by a view of the line work (constructed from
// Work::ViewOf{work}) into an EventLog with the block's own line numbers,
// and the logs replayed into the one RunConsumer in input order; a Stop from
// the consumer ends the replay at that event, as a No at a prompt ends the
// run at its line on one thread. A view opens no range data: what it cannot
// finish it leaves to the calling thread's line work,
//     Flow out.leftLine(const LeftLine&)    see LeftLine
// which finishes it there, in its place, as
//     Flow work.finish(const LeftLine&, Out& out);
// Lines longer than a block of whole lines may be are worked on the calling
// thread as on one thread.
enum class Flow { GoOn, Stop };

// Where a piece stands: its line's number (from 1) and whether it begins or
// ends the line. A line longer than the reader's block comes in several pieces.
struct LinePlace {
    std::int64_t lineNumber = 0;
    bool starts = true;
    bool ends = true;
};

// What a view of the line work leaves to the calling thread: an address of a
// family whose range data the calling thread has not opened yet (it alone
// opens them, in the order of the input, so that the rules and messages of
// opening stay as on one thread), or a failing line whose reason names its
// number, which only the calling thread knows.
struct LeftLine {
    enum class Need { Lookup, LineNumber };
    Need need = Need::Lookup;
    std::int64_t lineNumber = 0;
    std::string_view address;  // the row's texts, valid during the call
    std::string_view port;
    lookup::TypedAddress typed;
};

// Hands a left line on. Only views leave lines, and a view's Out is a log
// that takes them; no other Out is ever given one.
template <class Out>
Flow leaveLine(const LeftLine& left, Out& out) {
    if constexpr (requires { out.leftLine(left); }) {
        return out.leftLine(left);
    } else {
        return Flow::GoOn;
    }
}

// The in-order end of a run: rows to the grid and the counts, failing lines to the user.
class RunConsumer {
public:
    explicit RunConsumer(AnalysisContext& context) : m_context(context) {}

    Flow row(const ResultRow& row) {
        m_context.grid.appendRow(row);
        if (row.reason.empty()) m_context.table.addHit(row.country.slot);
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

// What the line work gave for some lines, kept to be handed on later. A row
// costs a few words: its texts are kept as places in the text the log was
// told of (the block of lines, which outlives the replay), and copied only
// when they lie elsewhere (an address without its TABs).
class EventLog {
public:
    // The text that the events' texts mostly lie in, and the line now worked.
    void setText(std::string_view text) noexcept { m_text = text; }
    void setLine(std::int64_t lineNumber) noexcept { m_line = lineNumber; }

    Flow row(const ResultRow& row) {
        m_events.push_back({Kind::Row, row.country.usa, row.country.slot, reasonIndex(row.reason),
                            m_line, keep(row.address), keep(row.port)});
        return Flow::GoOn;
    }
    Flow failingLine(FailingLine&& line) {
        // Most failing lines of a list fail for one of a few reasons.
        if (m_reasons.empty() || m_reasons.back() != line.reason)
            m_reasons.push_back(std::move(line.reason));
        m_events.push_back({Kind::Failing,
                            false,
                            0,
                            static_cast<std::uint32_t>(m_reasons.size() - 1),
                            line.lineNumber,
                            {},
                            {}});
        return Flow::GoOn;
    }
    Flow leftLine(const LeftLine& left) {
        m_left.push_back({left.need, left.typed});
        m_events.push_back({Kind::Left, false, 0, static_cast<std::uint32_t>(m_left.size() - 1),
                            left.lineNumber, keep(left.address), keep(left.port)});
        return Flow::GoOn;
    }
    // The error that ended the work at `lineNumber`, handed on after the events before it.
    void fail(std::exception_ptr error, std::int64_t lineNumber = 0) {
        m_error = std::move(error);
        m_errorLine = lineNumber;
    }

    // Hands the events on in order, their line numbers counted on from
    // `linesBefore`; rethrows the error at its place. `lineAtRisk`, when
    // given, follows the line of the event being handed on.
    template <class Out>
    Flow replay(Out& out, std::int64_t linesBefore = 0, std::int64_t* lineAtRisk = nullptr) const {
        for (const Event& event : m_events) {
            const std::int64_t lineNumber = linesBefore + event.line;
            if (lineAtRisk != nullptr) *lineAtRisk = lineNumber;
            Flow flow = Flow::GoOn;
            switch (event.kind) {
                case Kind::Row:
                    flow = out.row(ResultRow{
                        text(event.address), text(event.port), Resolution{event.slot, event.usa},
                        event.extra == 0 ? std::string_view() : m_rowReasons[event.extra - 1]});
                    break;
                case Kind::Failing:
                    flow = out.failingLine(FailingLine{lineNumber, m_reasons[event.extra]});
                    break;
                case Kind::Left: {
                    const Left& left = m_left[event.extra];
                    flow = leaveLine(LeftLine{left.need, lineNumber, text(event.address),
                                              text(event.port), left.typed},
                                     out);
                    break;
                }
            }
            if (flow == Flow::Stop) return flow;
        }
        if (m_error) {
            if (lineAtRisk != nullptr) *lineAtRisk = linesBefore + m_errorLine;
            std::rethrow_exception(m_error);
        }
        return Flow::GoOn;
    }

    // Empty again, keeping its memory for the next block.
    void clear() noexcept {
        m_events.clear();
        m_copies.clear();
        m_reasons.clear();
        m_rowReasons.clear();
        m_left.clear();
        m_error = nullptr;
        m_text = {};
        m_line = 0;
    }

private:
    enum class Kind : std::uint8_t { Row, Failing, Left };
    // A text in m_text, or past its end in m_copies.
    struct TextRef {
        std::uint32_t at = 0;
        std::uint32_t size = 0;
    };
    struct Event {
        Kind kind;
        bool usa;
        int slot;
        std::uint32_t extra;  // into m_reasons or m_left; a row's reason + 1 (0: none)
        std::int64_t line;
        TextRef address;  // or none
        TextRef port;
    };
    struct Left {
        LeftLine::Need need;
        lookup::TypedAddress typed;
    };

    TextRef keep(std::string_view text) {
        if (text.empty()) return {};
        const std::less_equal<const char*> notAfter;
        if (notAfter(m_text.data(), text.data()) &&
            notAfter(text.data() + text.size(), m_text.data() + m_text.size()))
            return {static_cast<std::uint32_t>(text.data() - m_text.data()),
                    static_cast<std::uint32_t>(text.size())};
        const TextRef ref{static_cast<std::uint32_t>(m_text.size() + m_copies.size()),
                          static_cast<std::uint32_t>(text.size())};
        m_copies += text;
        return ref;
    }
    // A row's reason is static text, one of a few words: kept once per log.
    std::uint32_t reasonIndex(std::string_view reason) {
        if (reason.empty()) return 0;
        const auto found = std::find(m_rowReasons.begin(), m_rowReasons.end(), reason);
        if (found != m_rowReasons.end())
            return static_cast<std::uint32_t>(found - m_rowReasons.begin()) + 1;
        m_rowReasons.push_back(reason);
        return static_cast<std::uint32_t>(m_rowReasons.size());
    }
    std::string_view text(TextRef ref) const noexcept {
        if (ref.at < m_text.size()) return m_text.substr(ref.at, ref.size);
        return std::string_view(m_copies).substr(ref.at - m_text.size(), ref.size);
    }

    std::string_view m_text;
    std::int64_t m_line = 0;
    std::vector<Event> m_events;
    std::string m_copies;
    std::vector<std::string> m_reasons;
    std::vector<std::string_view> m_rowReasons;
    std::vector<Left> m_left;
    std::exception_ptr m_error;
    std::int64_t m_errorLine = 0;
};

// Where a run stands, for the message of an error that ends it.
struct RunPlace {
    LinePlace at;
    std::int64_t lineAtRisk = 0;  // the line an error now would be told of; 0: the list itself
};

// A block's log on its way from a worker to the calling thread.
struct BlockLog final : BlockResult {
    EventLog events;
    std::int64_t lines = 0;
};

// The calling thread's side of a block worked elsewhere: rows and failing
// lines to the consumer, left lines finished by its own line work.
template <class Work>
struct Finishing {
    Work& work;
    RunConsumer& consumer;
    Flow row(const ResultRow& row) { return consumer.row(row); }
    Flow failingLine(FailingLine&& line) { return consumer.failingLine(std::move(line)); }
    Flow leftLine(const LeftLine& left) { return work.finish(left, consumer); }
};

// The line work spread over the pipeline's threads (see runOrderedPipeline).
template <class Work>
class LinesOnThreads final : public OrderedWork {
public:
    LinesOnThreads(Work& work, RunConsumer& consumer, RunPlace& place)
        : m_work(work), m_consumer(consumer), m_place(place) {}

    std::unique_ptr<BlockScanner> makeScanner() override {
        return std::make_unique<Worker>(m_work);
    }
    std::unique_ptr<BlockResult> makeResult() override { return std::make_unique<BlockLog>(); }

    bool apply(BlockResult& result) override {
        auto& block = static_cast<BlockLog&>(result);
        Finishing<Work> out{m_work, m_consumer};
        const Flow flow = block.events.replay(out, m_place.at.lineNumber, &m_place.lineAtRisk);
        m_place.at.lineNumber += block.lines;
        m_place.lineAtRisk = m_place.at.lineNumber + 1;
        block.events.clear();
        return flow == Flow::GoOn;
    }

    // As the single loop of runLines works a piece.
    bool piece(std::string_view piece, bool lineEnds) override {
        LinePlace& at = m_place.at;
        if (at.starts) ++at.lineNumber;
        at.ends = lineEnds;
        m_place.lineAtRisk = at.lineNumber;
        const Flow flow = m_work.piece(piece, at, m_consumer);
        at.starts = at.ends;
        m_place.lineAtRisk = at.starts ? at.lineNumber + 1 : at.lineNumber;
        return flow == Flow::GoOn;
    }

private:
    class Worker final : public BlockScanner {
    public:
        explicit Worker(const Work& owner) : m_view(typename Work::ViewOf{owner}) {}

        void scanLines(std::string_view lines, BlockResult& result) override {
            auto& block = static_cast<BlockLog&>(result);
            EventLog& log = block.events;
            log.setText(lines);
            LinePlace at;
            try {
                WholeLines split(lines);
                for (std::string_view line; split.next(line);) {
                    log.setLine(++at.lineNumber);
                    m_view.piece(line, at, log);
                }
            } catch (...) {
                log.fail(std::current_exception(), at.lineNumber);
            }
            block.lines = at.lineNumber;
        }

    private:
        Work m_view;
    };

    Work& m_work;
    RunConsumer& m_consumer;
    RunPlace& m_place;
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
// added before stays. On several threads the rows, counts, prompts and
// messages are those of one thread, in the same order.
template <class Work>
RunResult runLines(const std::string& path, AnalysisContext& context, Work& work, RunError errors) {
    RunResult result;
    const auto started = context.clock.now();
    RunConsumer consumer(context);
    RunPlace place;
    LinePlace& at = place.at;
    const auto stop = [&](RunStatus status) {
        result.status = status;
        result.rowsAdded = consumer.rowsAdded();
        if (status == RunStatus::Completed) result.elapsed = context.clock.now() - started;
        return result;
    };
    try {
        LineReader reader;
        reader.open(path, context.blockSize, context.dashIsStandardInput);
        work.begin();
        if (context.threads > 1) {
            place.lineAtRisk = 1;
            LinesOnThreads<Work> threads(work, consumer, place);
            const PipelineSettings settings{context.threads, context.blockSize};
            const PipelineEnd end = runOrderedPipeline(reader, threads, settings, context.progress);
            return stop(end == PipelineEnd::Completed ? RunStatus::Completed : RunStatus::Stopped);
        }
        for (;;) {
            std::string_view piece;
            place.lineAtRisk = at.starts ? at.lineNumber + 1 : at.lineNumber;
            const LineReader::Next next = reader.next(piece, at.ends);
            if (next == LineReader::Next::End) break;
            if (reader.blockWasRead() && context.progress != nullptr &&
                !context.progress->update(reader.bytesRead(), reader.fileSize()))
                return stop(RunStatus::Stopped);
            if (next == LineReader::Next::Idle) continue;
            if (at.starts) ++at.lineNumber;
            place.lineAtRisk = at.lineNumber;
            const Flow flow = work.piece(piece, at, consumer);
            at.starts = at.ends;
            if (flow == Flow::Stop) return stop(RunStatus::Stopped);
        }
    } catch (const std::exception& error) {
        if (errors == RunError::AsMessage) {
            context.prompter.showError(runErrorText(error));
        } else {
            context.prompter.askContinue(FailingLine{place.lineAtRisk, runErrorText(error)});
        }
        return stop(RunStatus::Stopped);
    }
    return stop(RunStatus::Completed);
}

}  // namespace ipcountry::analysis
