#pragma once

#include <cstdint>
#include <string_view>

#include "analysis/interfaces.h"
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
// finish it defers to the calling thread's line work,
//     Flow out.deferredLine(const DeferredLine&)    see DeferredLine
// which finishes it there, in its place, as
//     Flow work.finish(const DeferredLine&, Out& out);
// A log takes a row before its lookup,
//     Flow out.rowToResolve(address, port, const lookup::TypedAddress&)
// and the worker has all of a block's looked up at once after its lines,
//     void work.resolveRows(EventLog&);
// so that the memory reads of the lookups overlap (BasicRangeIndex::findPackedCodes).
// A line longer than a worker's block (linesPerBlock) comes to the calling
// thread in pieces, and is worked there in its place as on one thread.
enum class Flow { GoOn, Stop };

// Where a piece stands: its line's number (from 1) and whether it begins or
// ends the line. A line longer than the reader's block comes in several pieces.
struct LinePlace {
    std::int64_t lineNumber = 0;
    bool starts = true;
    bool ends = true;
};

// What a view of the line work defers to the calling thread: an address of a
// family whose range data the calling thread has not opened yet (it alone
// opens them, in the order of the input, so that the rules and messages of
// opening stay as on one thread), or a failing line whose reason names its
// number, which only the calling thread knows.
struct DeferredLine {
    enum class Need { Lookup, LineNumber };
    Need need = Need::Lookup;
    std::int64_t lineNumber = 0;
    std::string_view address;  // the row's texts, valid during the call
    std::string_view port;
    lookup::TypedAddress typed;
};

// Hands a deferred line on. Only views defer lines, and a view's Out is a log
// that takes them; no other Out is ever given one.
template <class Out>
Flow deferLine(const DeferredLine& deferred, Out& out) {
    if constexpr (requires { out.deferredLine(deferred); }) {
        return out.deferredLine(deferred);
    } else {
        return Flow::GoOn;
    }
}

}  // namespace ipcountry::analysis
