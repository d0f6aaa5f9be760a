#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/analysis.h"
#include "analysis/event_log.h"
#include "analysis/interfaces.h"
#include "analysis/line_reader.h"
#include "analysis/line_work.h"
#include "analysis/ordered_pipeline.h"
#include "lookup/error.h"

namespace ipcountry::analysis {

// The in-order end of a run: rows to the sink and the counts, failing lines to the user.
class RunConsumer {
public:
    explicit RunConsumer(AnalysisContext& context) : m_context(context) {}

    Flow row(const ResultRow& row) {
        m_context.sink.appendRow(row);
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

// Where a run stands, for the message of an error that ends it.
struct RunPlace {
    LinePlace at;
    std::int64_t lineOfError = 0;  // the line an error now would be told of; 0: the list itself
};

// A block's log on its way from a worker to the calling thread.
struct BlockLog final : BlockResult {
    EventLog events;
    std::int64_t lines = 0;
};

// The calling thread's side of a block worked elsewhere: rows and failing
// lines to the consumer, deferred lines finished by its own line work.
template <class Work>
struct FinishOnCallingThread {
    Work& work;
    RunConsumer& consumer;
    Flow row(const ResultRow& row) { return consumer.row(row); }
    Flow failingLine(FailingLine&& line) { return consumer.failingLine(std::move(line)); }
    Flow deferredLine(const DeferredLine& deferred) { return work.finish(deferred, consumer); }
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
        FinishOnCallingThread<Work> out{m_work, m_consumer};
        const Flow flow = block.events.replay(out, m_place.at.lineNumber, &m_place.lineOfError);
        m_place.at.lineNumber += block.lines;
        m_place.lineOfError = m_place.at.lineNumber + 1;
        block.events.clear();
        return flow == Flow::GoOn;
    }

    // As the single loop of runLines works a piece.
    bool piece(std::string_view piece, bool lineEnds) override {
        LinePlace& at = m_place.at;
        if (at.starts) ++at.lineNumber;
        at.ends = lineEnds;
        m_place.lineOfError = at.lineNumber;
        const Flow flow = m_work.piece(piece, at, m_consumer);
        at.starts = at.ends;
        m_place.lineOfError = at.starts ? at.lineNumber + 1 : at.lineNumber;
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
                lookup::WholeLines split(lines);
                for (std::string_view line; split.next(line);) {
                    log.setLine(++at.lineNumber);
                    m_view.piece(line, at, log);
                }
                if constexpr (requires { m_view.resolveRows(log); }) m_view.resolveRows(log);
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

// An error that ends a run, as a value the front ends word.
inline lookup::Error runError(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
        return {lookup::ErrorKind::FileUnreadable, lookup::ErrorCode::OutOfMemory, {}};
    if (const auto* failure = dynamic_cast<const lookup::Error*>(&error)) return *failure;
    return {lookup::ErrorKind::BadData, error.what()};
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
    context.prompter.startFile(path);
    try {
        LineReader reader;
        reader.open(path, context.blockSize, context.dashIsStandardInput, context.readInPlace);
        work.begin();
        if (context.threads > 1) {
            place.lineOfError = 1;
            LinesOnThreads<Work> threads(work, consumer, place);
            const PipelineSettings settings{context.threads, context.blockSize};
            const PipelineEnd end = runOrderedPipeline(reader, threads, settings, context.progress);
            return stop(end == PipelineEnd::Completed ? RunStatus::Completed : RunStatus::Stopped);
        }
        for (;;) {
            std::string_view piece;
            place.lineOfError = at.starts ? at.lineNumber + 1 : at.lineNumber;
            const LineReader::Next next = reader.next(piece, at.ends);
            if (next == LineReader::Next::End) break;
            if (reader.blockWasRead() && context.progress != nullptr &&
                !context.progress->update(reader.bytesRead(), reader.fileSize()))
                return stop(RunStatus::Stopped);
            if (next == LineReader::Next::Idle) continue;
            if (reader.blockWasRead()) reader.checkHandedOut();
            if (at.starts) ++at.lineNumber;
            place.lineOfError = at.lineNumber;
            const Flow flow = work.piece(piece, at, consumer);
            at.starts = at.ends;
            if (flow == Flow::Stop) return stop(RunStatus::Stopped);
        }
    } catch (const std::exception& error) {
        if (errors == RunError::AsMessage) {
            context.prompter.showError(runError(error));
        } else {
            context.prompter.askContinue(FailingLine{place.lineOfError, runError(error)});
        }
        return stop(RunStatus::Stopped);
    }
    return stop(RunStatus::Completed);
}

}  // namespace ipcountry::analysis
