#include "analysis/country_resolver.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ipcountry::analysis {

namespace {

constexpr std::uint16_t kUsPacked = static_cast<std::uint16_t>(('U' << 8) | 'S');

}  // namespace

template <class Family>
BasicCountryResolver<Family>::BasicCountryResolver(const lookup::CountryTable& table,
                                                   const lookup::BasicRangeFile<Family>& ranges)
    : m_table(table), m_index(ranges.index()), m_packed(m_index.usesIndex()) {
    m_slotOfCode.reset(static_cast<std::uint16_t*>(std::calloc(kCodes, sizeof(std::uint16_t))));
    if (!m_slotOfCode) throw std::bad_alloc();
    // From the top down, so that the first slot of a code that stands twice wins.
    for (int slot = table.slotCount() - 1; slot >= 0; --slot) {
        const std::string& code = table.slotCode(slot);
        if (table.slotFilled(slot) && code.size() == 2)
            m_slotOfCode[lookup::packCode(code)] = static_cast<std::uint16_t>(slot + 1);
    }
}

template <class Family>
std::optional<Resolution> BasicCountryResolver<Family>::resolvePacked(std::uint16_t packed) const {
    if (packed == kUsPacked) return Resolution{lookup::kUsSlot, true};
    const int slot = static_cast<int>(m_slotOfCode[packed]) - 1;
    if (slot < 0) return std::nullopt;
    return Resolution{slot, false};
}

template <class Family>
std::optional<Resolution> BasicCountryResolver<Family>::resolveCode(std::string_view code) const {
    if (code == lookup::kUsCode) return Resolution{lookup::kUsSlot, true};
    if (code.size() == 2) return resolvePacked(lookup::packCode(code));
    // A range line shorter than two characters gives a shorter code; only the
    // table's own search can match it (an empty code matches no country).
    if (code.empty()) return std::nullopt;
    const std::optional<int> slot = m_table.findSlot(code);
    if (!slot) return std::nullopt;
    return Resolution{*slot, false};
}

template <class Family>
std::optional<Resolution> BasicCountryResolver<Family>::resolve(Address address) const {
    if (m_packed) {
        const std::uint16_t packed = m_index.findPackedCode(address);
        if (packed == 0) return std::nullopt;
        return resolvePacked(packed);
    }
    const std::optional<lookup::CountryCode> code = m_index.findCountryCode(address);
    if (!code) return std::nullopt;
    return resolveCode(*code);
}

template <class Family>
void BasicCountryResolver<Family>::resolveEach(
    std::span<const Address> addresses, std::span<std::optional<Resolution>> countries) const {
    if (!m_packed) {
        for (std::size_t i = 0; i < addresses.size(); ++i) countries[i] = resolve(addresses[i]);
        return;
    }
    forEachPackedCode(addresses, [&](std::size_t i, std::uint16_t packed) {
        countries[i] = packed == 0 ? std::nullopt : resolvePacked(packed);
    });
}

template <class Family>
void BasicCountryResolver<Family>::answerEach(std::span<const Address> addresses,
                                              std::span<Answer> answers) const {
    if (!m_packed) {
        for (std::size_t i = 0; i < addresses.size(); ++i) answers[i] = answer(addresses[i]);
        return;
    }
    forEachPackedCode(
        addresses, [&](std::size_t i, std::uint16_t packed) { answers[i] = answerPacked(packed); });
}

template <class Family>
Answer BasicCountryResolver<Family>::answerPacked(std::uint16_t packed) const {
    Answer answer;
    if (packed != 0) {
        answer.code = lookup::unpackCode(packed);
        answer.country = resolvePacked(packed);
        if (answer.country) answer.countryName = countryName(m_table, *answer.country);
    }
    return answer;
}

template <class Family>
Answer BasicCountryResolver<Family>::answer(Address address) const {
    Answer answer;
    if (m_packed) return answerPacked(m_index.findPackedCode(address));
    if (std::optional<lookup::CountryCode> code = m_index.findCountryCode(address)) {
        answer.country = resolveCode(*code);
        if (answer.country) answer.countryName = countryName(m_table, *answer.country);
        answer.code = std::move(*code);
    }
    return answer;
}

template class BasicCountryResolver<lookup::Ipv4Ranges>;
template class BasicCountryResolver<lookup::Ipv6Ranges>;

}  // namespace ipcountry::analysis
