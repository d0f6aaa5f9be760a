#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcountry::lookup {

inline constexpr int kSlotCount = 237;
// The list's slots and one for every other code the driver names: a bound
// for tables of counts by slot.
inline constexpr int kMostSlots = 512;
// The analyses count every address whose range code is "US" here, whatever
// Country.dbf put in this slot.
inline constexpr int kUsSlot = 222;
inline constexpr std::string_view kUsCode = "US";
inline constexpr std::string_view kCountryFileName = "Country.dbf";

struct CountryEntry {
    std::string code;  // the first two characters of the line
    std::string name;  // the rest of the line, 8-bit text as in the file
    std::int64_t hits = 0;
    bool filled = false;  // false for a slot no line filled: its hits show as nothing
};

// The window's list: 237 slots, filled from Country.dbf. The driver adds a
// slot after them for every other code it names (addCountriesBeyondList).
class CountryTable {
public:
    CountryTable() = default;

    int slotCount() const noexcept { return static_cast<int>(m_slots.size()); }

    // First slot, from 0 up, whose code equals `code` exactly. An empty code
    // matches the first unfilled slot.
    std::optional<int> findSlot(std::string_view code) const noexcept;

    const std::string& slotCode(int slot) const { return m_slots.at(slot).code; }
    const std::string& slotName(int slot) const { return m_slots.at(slot).name; }
    std::int64_t slotHits(int slot) const { return m_slots.at(slot).hits; }
    bool slotFilled(int slot) const { return m_slots.at(slot).filled; }

    void addHit(int slot) { ++m_slots.at(slot).hits; }
    // Many at once, as merged statistics count them; `hits` is not negative.
    void addHits(int slot, std::int64_t hits) { m_slots.at(slot).hits += hits; }
    // Takes back one count, as when a counted row leaves the grid; never below 0.
    void removeHit(int slot);
    void clearHits() noexcept;
    std::int64_t totalHits() const noexcept;

    // Fills slot `slot` from one line of the list (code = first two
    // characters, name = the rest). The line must hold at least two characters.
    void setSlot(int slot, std::string_view line);
    // A filled slot after the last one; its number.
    int addSlot(std::string_view code, std::string_view name);

private:
    std::vector<CountryEntry> m_slots = std::vector<CountryEntry>(kSlotCount);
};

// Reads Country.dbf from `dataDir`. Lines end with CRLF (LF or CR alone are
// taken too). Throws Error naming the file (and the line) when the file is
// missing or unreadable, has more than 237 lines or a line shorter than two
// characters.
CountryTable loadCountryTable(const std::filesystem::path& dataDir);
// The same from text already in memory; `fileName` is used in messages.
CountryTable parseCountryTable(std::string_view content, const std::string& fileName);

// The English name (Windows-1252, as Country.dbf) of every code the ranges
// may hold: ISO 3166-1, XK and the withdrawn codes the registries still use;
// empty for any other code.
std::string_view fullCountryName(std::string_view code) noexcept;
// Adds a slot, after the list's, for every code of fullCountryName that no
// slot holds, in the order of their names: the driver names and counts
// every country of the ranges, the window only those of its list.
void addCountriesBeyondList(CountryTable& table);

// Country names are Windows-1252; everything shown or printed is UTF-8.
// Every byte maps to one code point (the five bytes 1252 leaves undefined map
// to the C1 controls of the same value), so the conversion loses nothing.
std::string windows1252ToUtf8(std::string_view text);
// The same, appended to `out`: rows are built without a string per cell.
void appendWindows1252AsUtf8(std::string& out, std::string_view text);

}  // namespace ipcountry::lookup
