#include "analysis/country_resolver.h"

#include "lookup/address_key.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

namespace {

constexpr std::string_view kUsCode = "US";
constexpr std::uint16_t kUsPacked = static_cast<std::uint16_t>(('U' << 8) | 'S');

// The common form, four groups of one to three digits each at most 255,
// read without building the hexadecimal key. Anything else (blanks, a fifth
// part, an octet above 255, ...) goes through makeAddressKey, which decides.
std::optional<std::uint32_t> readPlainAddress(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && digits < 4 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        address = (address << 8) | value;
    }
    if (pos != text.size()) return std::nullopt;
    return address;
}

}  // namespace

template <class Family>
BasicCountryResolver<Family>::BasicCountryResolver(const lookup::CountryTable& table,
                                                   const lookup::BasicRangeFile<Family>& ranges)
    : m_table(table), m_index(ranges.index()), m_packed(m_index.usesIndex()) {
    m_slotOfCode.assign(std::size_t{1} << 16, -1);
    // From the top down, so that the first slot of a code that stands twice wins.
    for (int slot = lookup::kSlotCount - 1; slot >= 0; --slot) {
        const std::string& code = table.slotCode(slot);
        if (table.slotFilled(slot) && code.size() == 2)
            m_slotOfCode[lookup::packCode(code)] = static_cast<std::int16_t>(slot);
    }
}

template <class Family>
std::optional<Resolution> BasicCountryResolver<Family>::resolvePacked(std::uint16_t packed) const {
    if (packed == kUsPacked) return Resolution{lookup::kUsSlot, true};
    const int slot = m_slotOfCode[packed];
    if (slot < 0) return std::nullopt;
    return Resolution{slot, false};
}

template <class Family>
std::optional<Resolution> BasicCountryResolver<Family>::resolveCode(std::string_view code) const {
    if (code == kUsCode) return Resolution{lookup::kUsSlot, true};
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
Answer BasicCountryResolver<Family>::answer(Address address) const {
    Answer answer;
    if (m_packed) {
        if (const std::uint16_t packed = m_index.findPackedCode(address)) {
            answer.code = lookup::unpackCode(packed);
            answer.country = resolvePacked(packed);
            if (answer.country) answer.countryName = countryName(m_table, *answer.country);
        }
        return answer;
    }
    if (std::optional<lookup::CountryCode> code = m_index.findCountryCode(address)) {
        answer.country = resolveCode(*code);
        if (answer.country) answer.countryName = countryName(m_table, *answer.country);
        answer.code = std::move(*code);
    }
    return answer;
}

template class BasicCountryResolver<lookup::Ipv4Ranges>;
template class BasicCountryResolver<lookup::Ipv6Ranges>;

std::uint32_t readAddress(std::string_view text) {
    if (const std::optional<std::uint32_t> plain = readPlainAddress(text)) return *plain;
    const std::optional<std::uint32_t> address = lookup::keyToAddress(lookup::makeAddressKey(text));
    if (!address) throw lookup::Error(lookup::ErrorKind::InvalidArgument, std::string());
    return *address;
}

std::optional<TypedAddress> typedAddressOf(const lookup::Ipv6Address& parsed) {
    switch (parsed.kind) {
        case lookup::Ipv6Address::Kind::Invalid:
            break;
        case lookup::Ipv6Address::Kind::Ipv4:
            return TypedAddress{TypedAddress::Kind::Ipv4, parsed.ipv4, {}};
        case lookup::Ipv6Address::Kind::Ipv6:
            return TypedAddress{TypedAddress::Kind::Ipv6, 0, parsed.address};
        case lookup::Ipv6Address::Kind::LinkLocal:
            return TypedAddress{TypedAddress::Kind::LinkLocal, 0, parsed.address};
    }
    return std::nullopt;
}

TypedAddress readTypedAddress(std::string_view text) {
    if (const std::optional<std::uint32_t> plain = readPlainAddress(text))
        return {TypedAddress::Kind::Ipv4, *plain, {}};
    try {
        return {TypedAddress::Kind::Ipv4, readAddress(text), {}};
    } catch (const lookup::Error&) {
        if (const std::optional<TypedAddress> typed = typedAddressOf(lookup::parseIpv6Text(text)))
            return *typed;
        throw;
    }
}

template <class Family>
const typename RangeData<Family>::Resolver* RangeData<Family>::open() {
    if (m_missing) return nullptr;
    try {
        m_file->open();
    } catch (const lookup::Error& error) {
        if (m_policy == Policy::TriedOnce) m_failure = error;
        if (m_policy != Policy::OptionalFile || error.kind() != lookup::ErrorKind::FileNotFound)
            throw;
        m_missing = true;
        m_sharedMissing.store(true, std::memory_order_release);
        return nullptr;
    }
    // Built once: the views use it from then on.
    const Resolver& resolver = m_resolver.emplace(m_table, *m_file);
    m_shared.store(&resolver, std::memory_order_release);
    return &resolver;
}

template class RangeData<lookup::Ipv4Ranges>;
template class RangeData<lookup::Ipv6Ranges>;

Answer findCountry(std::string_view text, const lookup::CountryTable& table,
                   lookup::RangeFile& ranges, lookup::Range6File& ranges6) {
    return AddressFinder(table, ranges, ranges6).find(text);
}

template <class Family>
const BasicCountryResolver<Family>* AddressFinder::resolver(RangeData<Family>& own,
                                                            Tried<Family>& tried,
                                                            RangeData<Family>& owners) {
    if (m_owner == nullptr) return own.resolver();
    if (!tried.done) {
        // The owner's answer never changes once given (TriedOnce), so it is
        // asked once per finder and kept.
        const std::lock_guard lock(m_owner->m_trying);
        try {
            tried.resolver = owners.resolver();
        } catch (const lookup::Error& e) {
            tried.failure = e;
        }
        tried.done = true;
    }
    if (tried.failure) throw *tried.failure;
    return tried.resolver;
}

const CountryResolver* AddressFinder::ipv4() {
    return resolver(m_ipv4, m_tried4, m_owner ? m_owner->m_ipv4 : m_ipv4);
}

const Country6Resolver* AddressFinder::ipv6() {
    return resolver(m_ipv6, m_tried6, m_owner ? m_owner->m_ipv6 : m_ipv6);
}

Answer AddressFinder::find(std::string_view text) {
    const TypedAddress address = readTypedAddress(text);
    switch (address.kind) {
        case TypedAddress::Kind::Ipv4:
            return ipv4()->answer(address.ipv4);
        case TypedAddress::Kind::Ipv6:
            return ipv6()->answer(address.ipv6);
        case TypedAddress::Kind::LinkLocal:
            break;
    }
    return {};
}

void AddressFinder::findEach(std::span<const std::string_view> texts, std::vector<Found>& found) {
    found.resize(texts.size());
    m_typed.resize(texts.size());
    // Read each text and open its family's file, as find does; each stays
    // marked with its error, and link-local addresses need no lookup.
    const auto usable = [&](std::size_t i) {
        return !found[i].error && m_typed[i].kind != TypedAddress::Kind::LinkLocal;
    };
    for (std::size_t i = 0; i < texts.size(); ++i) {
        found[i].error.reset();
        try {
            m_typed[i] = readTypedAddress(texts[i]);
            if (m_typed[i].kind == TypedAddress::Kind::Ipv4)
                ipv4()->prefetch(m_typed[i].ipv4, 0);
            else if (m_typed[i].kind == TypedAddress::Kind::Ipv6)
                ipv6()->prefetch(m_typed[i].ipv6, 0);
        } catch (const lookup::Error& e) {
            found[i].error = e;
        }
    }
    // The first node of each lookup, then the one below it (most often the leaf).
    for (unsigned level = 1; level <= 2; ++level) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!usable(i)) continue;
            if (m_typed[i].kind == TypedAddress::Kind::Ipv4)
                ipv4()->prefetch(m_typed[i].ipv4, level);
            else
                ipv6()->prefetch(m_typed[i].ipv6, level);
        }
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!usable(i)) {
            found[i].answer = {};
            continue;
        }
        found[i].answer = m_typed[i].kind == TypedAddress::Kind::Ipv4
                              ? ipv4()->answer(m_typed[i].ipv4)
                              : ipv6()->answer(m_typed[i].ipv6);
    }
}

std::string_view flagCodeOfSlot(const lookup::CountryTable& table, int slot) {
    if (slot < 0 || slot >= lookup::kSlotCount) return {};
    return slot == lookup::kUsSlot ? kUsCode : std::string_view(table.slotCode(slot));
}

}  // namespace ipcountry::analysis
