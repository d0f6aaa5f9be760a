#pragma once

#include "batch_options.h"

namespace ipcountry::batch {

// `find ADDRESS...`: a row per address in the order given, an operand that
// is no address told on standard error as "ipcountry-batch: OPERAND:
// reason" and left without a row. An operand "-" reads standard input on the
// ordered pipeline: exactly one row per line, in order, for any number of
// threads; a line that is no address keeps its place with an empty code
// and country, and its reason goes to standard error as
// "ipcountry-batch: -:LINE: reason". Memory stays that of the pipeline's
// few blocks, whatever the lines. Returns the exit status.
int runFind(const Options& options);

}  // namespace ipcountry::batch
