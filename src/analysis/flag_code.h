#pragma once

#include <string_view>

#include "lookup/country_table.h"

namespace ipcountry::analysis {

// The flag of the rows counted in `slot`: US for the slot the "US" addresses
// are counted in, whatever the list put there; else the slot's code.
std::string_view flagCodeOfSlot(const lookup::CountryTable& table, int slot);

}  // namespace ipcountry::analysis
