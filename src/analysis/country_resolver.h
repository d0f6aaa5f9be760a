#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "lookup/country_table.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

// Where an address is counted and what its row shows.
struct Resolution {
    int slot = 0;
    std::string_view country;  // "USA" for the code US, else the slot's name
};

// Turns an address into its country for one run: the range lookup, then the
// code into a slot. The code "US" is always slot 222 shown as "USA", whatever
// Country.dbf holds there; any other code counts in the first slot with that
// code. An address that no range holds, or whose code no slot holds, has no
// country: it gets no row and no count (no code of an earlier lookup stands in).
// The table's codes and names must not change while the resolver lives.
class CountryResolver {
public:
    CountryResolver(const lookup::CountryTable& table, const lookup::RangeFile& ranges);

    std::optional<Resolution> resolve(std::uint32_t address) const;
    std::optional<Resolution> resolveCode(std::string_view code) const;

private:
    std::optional<Resolution> resolvePacked(std::uint16_t packed) const;

    const lookup::CountryTable& m_table;
    const lookup::RangeIndex& m_index;
    bool m_packed = false;
    // Packed two-letter code -> slot (-1: none), so that no lookup walks the
    // 237 slots. Built once per run; 128 KiB.
    std::vector<std::int16_t> m_slotOfCode;
};

}  // namespace ipcountry::analysis
