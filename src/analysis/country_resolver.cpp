#include "analysis/country_resolver.h"

namespace ipcountry::analysis {

namespace {

constexpr std::string_view kUsCode = "US";
constexpr std::string_view kUsName = "USA";
constexpr std::uint16_t kUsPacked = static_cast<std::uint16_t>(('U' << 8) | 'S');

}  // namespace

CountryResolver::CountryResolver(const lookup::CountryTable& table, const lookup::RangeFile& ranges)
    : m_table(table), m_index(ranges.index()), m_packed(m_index.usesIndex()) {
    m_slotOfCode.assign(std::size_t{1} << 16, -1);
    // From the top down, so that the first slot of a code that stands twice wins.
    for (int slot = lookup::kSlotCount - 1; slot >= 0; --slot) {
        const std::string& code = table.slotCode(slot);
        if (table.slotFilled(slot) && code.size() == 2)
            m_slotOfCode[lookup::packCode(code)] = static_cast<std::int16_t>(slot);
    }
}

std::optional<Resolution> CountryResolver::resolvePacked(std::uint16_t packed) const {
    if (packed == kUsPacked)
        return Resolution{lookup::kUsSlot, kUsName};
    const int slot = m_slotOfCode[packed];
    if (slot < 0)
        return std::nullopt;
    return Resolution{slot, m_table.slotName(slot)};
}

std::optional<Resolution> CountryResolver::resolveCode(std::string_view code) const {
    if (code == kUsCode)
        return Resolution{lookup::kUsSlot, kUsName};
    if (code.size() == 2)
        return resolvePacked(lookup::packCode(code));
    // A range line shorter than two characters gives a shorter code; only the
    // table's own search can match it (an empty code matches no country).
    if (code.empty())
        return std::nullopt;
    const std::optional<int> slot = m_table.findSlot(code);
    if (!slot)
        return std::nullopt;
    return Resolution{*slot, m_table.slotName(*slot)};
}

std::optional<Resolution> CountryResolver::resolve(std::uint32_t address) const {
    if (m_packed) {
        const std::uint16_t packed = m_index.findPackedCode(address);
        if (packed == 0)
            return std::nullopt;
        return resolvePacked(packed);
    }
    const std::optional<lookup::CountryCode> code = m_index.findCountryCode(address);
    if (!code)
        return std::nullopt;
    return resolveCode(*code);
}

}  // namespace ipcountry::analysis
