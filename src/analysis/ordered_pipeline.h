#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "analysis/interfaces.h"
#include "analysis/line_reader.h"

namespace ipcountry::analysis {

// Reading, working and reporting on several threads with the answers of one:
// a reader thread cuts the input into blocks of whole lines, worker threads
// work blocks into results, and the calling thread applies the results
// strictly in the order of the input, so that rows, counts, prompts and
// errors come exactly where a single thread would have them.

// What one block gave, kept until it is applied.
class BlockResult {
public:
    virtual ~BlockResult() = default;
};

// Turns whole lines into a result: one per worker thread.
class BlockScanner {
public:
    virtual ~BlockScanner() = default;
    // Whole lines, each ended by CRLF, LF or CR but for the input's last,
    // which may have no end. `result` comes empty. An exception thrown here
    // is thrown again on the calling thread before the block is applied.
    virtual void scanLines(std::string_view lines, BlockResult& result) = 0;
};

// The analysis the pipeline runs.
class OrderedWork {
public:
    virtual ~OrderedWork() = default;
    virtual std::unique_ptr<BlockScanner> makeScanner() = 0;
    virtual std::unique_ptr<BlockResult> makeResult() = 0;
    // On the calling thread, in the order of the input: a block's rows,
    // counts and prompts; `result` is left empty for the next block. False
    // ends the run there (No at a prompt).
    virtual bool apply(BlockResult& result) = 0;
    // On the calling thread, in its place: a piece of a line longer than a
    // block of whole lines may be, worked there as a single thread works it.
    virtual bool piece(std::string_view piece, bool lineEnds) = 0;
};

// The most worker threads a run has, whatever it asks for: each works a
// block in flight, and the blocks in flight are few to bound the memory.
inline constexpr unsigned kMostWorkerThreads = 6;

struct PipelineSettings {
    unsigned threads = 2;                            // scanning threads
    std::size_t blockSize = LineReader::kBlockSize;  // the reader's, as it was opened
};

// The most text a worker gets at once: a quarter of the reader's block, so
// that hand-overs between threads stay rare (each wakes a thread: an eighth
// took twice the context switches for the same CPU time) and a block's
// results stay small.
inline std::size_t linesPerBlock(const PipelineSettings& settings) {
    return settings.blockSize / 4 > 0 ? settings.blockSize / 4 : 1;
}

enum class PipelineEnd {
    Completed,  // the whole input was applied
    Stopped,    // apply() said No, or progress said cancel
};

// Runs `work` over what `reader` (opened) reads. `progress` is told on the
// calling thread after each block read, and whenever nothing comes for a
// moment; false from it stops the run. A failure of the reader or of a
// scanner is thrown here after every block before it has been applied; the
// threads are stopped and joined before this returns or throws.
// Memory: at most a few blocks are read ahead, whatever the input.
PipelineEnd runOrderedPipeline(LineReader& reader, OrderedWork& work,
                               const PipelineSettings& settings, Progress* progress);

}  // namespace ipcountry::analysis
