#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

// Everything "Find" and the driver tell of one address.
struct Answer {
    lookup::CountryCode code;           // the range's code; empty when no range holds the address
    std::optional<Resolution> country;  // none: no country
    std::string_view countryName;       // countryName() of `country`, empty without one
    // Without a country, why (noCountryReason: "private", "unknown", ...);
    // set by AddressFinder, which knows the address's kind.
    std::string_view reason;
    // The flag picture's name: the code itself (the flag folder decides
    // whether it has one).
    const lookup::CountryCode& flagCode() const { return code; }
};

// The rule from a range code to a country, in one place: the code "US" is
// always slot 222 shown as "USA", whatever Country.dbf holds there; any other
// code counts in the first slot with that code. An address that no range
// holds, or whose code no slot holds, has no country: it gets no row and no
// count (no code of an earlier lookup stands in). IPv4 and IPv6 ranges follow
// the same rule; only the width of the address differs.
// The resolver answers from the range file's index as open() left it and from
// the table's codes and names, none of which may change while it lives.
template <class Family>
class BasicCountryResolver {
public:
    using Address = typename Family::Address;

    BasicCountryResolver(const lookup::CountryTable& table,
                         const lookup::BasicRangeFile<Family>& ranges);

    std::optional<Resolution> resolve(Address address) const;
    std::optional<Resolution> resolveCode(std::string_view code) const;
    Answer answer(Address address) const;
    // resolve() and answer() for each of `addresses`, into the span of the
    // same size after it, the memory reads of the lookups overlapped
    // (BasicRangeIndex::findPackedCodes).
    void resolveEach(std::span<const Address> addresses,
                     std::span<std::optional<Resolution>> countries) const;
    void answerEach(std::span<const Address> addresses, std::span<Answer> answers) const;

private:
    std::optional<Resolution> resolvePacked(std::uint16_t packed) const;
    Answer answerPacked(std::uint16_t packed) const;
    // `each(i, packed)` for the packed code of every address, looked up
    // overlapped, a stack-held batch at a time: the resolver is shared by
    // every thread of a run and keeps nothing of a call.
    template <class Each>
    void forEachPackedCode(std::span<const Address> addresses, Each each) const {
        constexpr std::size_t kBatch = 256;
        std::uint16_t codes[kBatch];
        for (std::size_t first = 0; first < addresses.size(); first += kBatch) {
            const std::size_t count = std::min(kBatch, addresses.size() - first);
            m_index.findPackedCodes(addresses.data() + first, codes, count);
            for (std::size_t i = 0; i < count; ++i) each(first + i, codes[i]);
        }
    }

    const lookup::CountryTable& m_table;
    const lookup::BasicRangeIndex<Family>& m_index;
    bool m_packed = false;
    // Packed two-letter code -> slot + 1 (0: none), so that no lookup walks
    // the 237 slots. Built once per run; 128 KiB of zeroed pages from calloc,
    // of which only the few the codes stand on are written: a one-shot find
    // touches four pages where clearing the table cost thirty-two.
    static constexpr std::size_t kCodes = std::size_t{1} << 16;
    struct FreeMemory {
        void operator()(void* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<std::uint16_t[], FreeMemory> m_slotOfCode;
};

using CountryResolver = BasicCountryResolver<lookup::Ipv4Ranges>;
using Country6Resolver = BasicCountryResolver<lookup::Ipv6Ranges>;
extern template class BasicCountryResolver<lookup::Ipv4Ranges>;
extern template class BasicCountryResolver<lookup::Ipv6Ranges>;

}  // namespace ipcountry::analysis
