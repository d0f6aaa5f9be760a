#pragma once

#include <string>
#include <vector>

#include "batch_options.h"

namespace ipcountry::batch {

// `formatted` and `unformatted`: the files in the order given, their rows one
// after the other as if they were one file, and one statistics block over all
// of them when every file was read to its end. A file that cannot be read is
// reported and the next one is read; the result is then 1. Returns the exit
// status.
int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths);

}  // namespace ipcountry::batch
