#pragma once

#include "analysis/address_finder.h"
#include "formats/row_writer.h"

namespace ipcountry::batch {

// `find -` on `threads` threads (2 or more) for standard input that is not a
// terminal: a reader thread cuts the input into blocks of whole lines, each
// worker answers whole blocks with its own finder over `finder`'s snapshot,
// and the calling thread writes the blocks in the order of the input. Rows,
// their order and each wrong line's message ("line N: ..." on standard
// error, after the rows before it) are those of one thread; a few blocks at
// most are in flight, whatever the input. Sets `failed` when a line was
// wrong. Returns 0, or the errno of a read that failed (every row read
// before it is written); throws what a thread threw, after the rows before
// it, once every thread has ended.
int findStandardInputOnThreads(analysis::AddressFinder& finder, Format format, unsigned threads,
                               Output& out, bool& failed);

}  // namespace ipcountry::batch
