#pragma once

#include <string>
#include <vector>

#include "batch_options.h"

namespace ipcountry::batch {

// `stats`: reads rows as `formatted` and `unformatted` print them (tsv, csv or
// json, recognised from each file's first line unless --input-format names
// it) and prints the statistics --stats would have printed for them, so that
// the statistics of the parts of a whole merge into those of the whole.
//
// A statistics block in the input stands for the rows before it in its file
// (since the previous block): they must agree, and a block that follows no
// rows counts in their place, so that the output of stats can be merged
// again. The elapsed time is the sum of the blocks' elapsed times or, when
// the input holds no block, the time it took to read the input.
//
// A line that is not one the driver prints is reported with its file and
// line number; the statistics are printed only when every file was read
// whole and held no such line. No paths, or "-", read standard input.
// Returns the exit status.
int runStats(const Options& options, const std::vector<std::string>& paths);

}  // namespace ipcountry::batch
