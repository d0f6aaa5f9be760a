#include "analysis/flag_code.h"

namespace ipcountry::analysis {

std::string_view flagCodeOfSlot(const lookup::CountryTable& table, int slot) {
    if (slot < 0 || slot >= table.slotCount()) return {};
    return slot == lookup::kUsSlot ? lookup::kUsCode : std::string_view(table.slotCode(slot));
}

}  // namespace ipcountry::analysis
