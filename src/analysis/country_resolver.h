#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// Everything "Find" and the driver tell of one address.
struct Answer {
    lookup::CountryCode code;           // the range's code; empty when no range holds the address
    std::optional<Resolution> country;  // none: no country
    // The flag picture's name: the code itself (the flag folder decides
    // whether it has one).
    const lookup::CountryCode& flagCode() const { return code; }
};

// The rule from a range code to a country, in one place: the code "US" is
// always slot 222 shown as "USA", whatever Country.dbf holds there; any other
// code counts in the first slot with that code. An address that no range
// holds, or whose code no slot holds, has no country: it gets no row and no
// count (no code of an earlier lookup stands in).
// The resolver answers from the range file's index as open() left it and from
// the table's codes and names, none of which may change while it lives.
class CountryResolver {
public:
    CountryResolver(const lookup::CountryTable& table, const lookup::RangeFile& ranges);

    std::optional<Resolution> resolve(std::uint32_t address) const;
    std::optional<Resolution> resolveCode(std::string_view code) const;
    Answer answer(std::uint32_t address) const;

private:
    std::optional<Resolution> resolvePacked(std::uint16_t packed) const;

    const lookup::CountryTable& m_table;
    const lookup::RangeIndex& m_index;
    bool m_packed = false;
    // Packed two-letter code -> slot (-1: none), so that no lookup walks the
    // 237 slots. Built once per run; 128 KiB.
    std::vector<std::int16_t> m_slotOfCode;
};

// An address as typed or listed. Throws lookup::Error: the walk's own
// failures (an octet that is not a number, fewer than three dots) with their
// description, and an address whose key is not 8 digits long (an octet above
// 255) with an empty one, as that failure has no description of its own.
std::uint32_t readAddress(std::string_view text);

// One address text from reading to answer, as "Find" and the driver take it:
// read, range file opened (a missing one is this lookup's error), resolved.
// Throws lookup::Error as readAddress and RangeFile::open do.
Answer findCountry(std::string_view text, const lookup::CountryTable& table,
                   lookup::RangeFile& ranges);

// findCountry for many addresses one after another (the driver's find): the
// same answers, with one resolver kept for as long as open() finds the range
// file unchanged, since building a resolver costs more than a lookup.
class AddressFinder {
public:
    AddressFinder(const lookup::CountryTable& table, lookup::RangeFile& ranges)
        : m_table(table), m_ranges(ranges) {}
    Answer find(std::string_view text);

private:
    const lookup::CountryTable& m_table;
    lookup::RangeFile& m_ranges;
    const lookup::RangeIndex* m_index = nullptr;  // the one m_resolver answers from
    std::optional<CountryResolver> m_resolver;
};

// The flag of the rows counted in `slot`: US for the slot the "US" addresses
// are counted in, whatever the list put there; else the slot's code.
std::string_view flagCodeOfSlot(const lookup::CountryTable& table, int slot);

}  // namespace ipcountry::analysis
