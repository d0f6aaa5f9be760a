// find --explain: why an address has the country it has.
#pragma once

#include "batch_options.h"

namespace ipcountry::batch {

// For each operand: the range that holds it (first and last address and the
// CIDR blocks of the range), its code and country, the source and date of
// the data; a special-purpose block's name and document; or that no range
// holds it. Exit status 1 when an operand was not an address.
int runExplain(const Options& options);

}  // namespace ipcountry::batch
