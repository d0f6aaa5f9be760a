#include "lookup/country_ranges.h"

#include <type_traits>
#include <vector>

#include "lookup/error.h"
#include "lookup/special_blocks.h"

namespace ipcountry::lookup {

bool isCountryCode(std::string_view code) noexcept { return isTwoCapitals(code) && code != "ZZ"; }

template <class Family>
CountryRangeSets<typename Family::Address> countryRangesOf(const BasicRangeIndex<Family>& index,
                                                           const std::string& fileName,
                                                           const std::set<CountryCode>& only) {
    using Address = typename Family::Address;
    if (!index.usesIndex())
        throw Error(ErrorKind::BadData, fileName + ": lines malformed or out of order", fileName,
                    "lines malformed or out of order; the networks are read from a well-formed "
                    "range file only");
    const std::span<const Address> starts = index.starts();
    const std::span<const std::uint16_t> codes = index.codes();
    std::set<std::uint16_t> wanted;
    for (const CountryCode& code : only)
        if (code.size() == 2) wanted.insert(packCode(code));
    std::map<std::uint16_t, std::vector<AddressRange<Address>>> byCode;
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        if (!wanted.empty() && wanted.count(codes[i]) == 0) continue;
        // Equal starts leave the earlier line nothing.
        if (starts[i + 1] == starts[i]) continue;
        Address last = starts[i + 1];
        --last;
        byCode[codes[i]].push_back({starts[i], last});
    }
    const RangeSet<Address>& special = [&]() -> const RangeSet<Address>& {
        if constexpr (std::is_same_v<Address, Address6>)
            return specialSet6();
        else
            return specialSet4();
    }();
    CountryRangeSets<Address> sets;
    for (auto& [packed, ranges] : byCode) {
        const CountryCode code = unpackCode(packed);
        if (!isCountryCode(code)) continue;
        RangeSet<Address> set = RangeSet<Address>(std::move(ranges)).minus(special);
        if (!set.empty()) sets.emplace(code, std::move(set));
    }
    return sets;
}

template CountryRangeSets<std::uint32_t> countryRangesOf(const BasicRangeIndex<Ipv4Ranges>&,
                                                         const std::string&,
                                                         const std::set<CountryCode>&);
template CountryRangeSets<Address6> countryRangesOf(const BasicRangeIndex<Ipv6Ranges>&,
                                                    const std::string&,
                                                    const std::set<CountryCode>&);

namespace {

template <class Family>
CountryRangeSets<typename Family::Address> readFrom(const std::filesystem::path& folder,
                                                    const std::set<CountryCode>& only) {
    BasicRangeFile<Family> file(folder);
    file.open();
    return countryRangesOf(file.index(), file.path().string(), only);
}

}  // namespace

CountryRangeSets<std::uint32_t> readCountryRanges4(const std::filesystem::path& folder,
                                                   const std::set<CountryCode>& only) {
    return readFrom<Ipv4Ranges>(folder, only);
}

CountryRangeSets<Address6> readCountryRanges6(const std::filesystem::path& folder,
                                              const std::set<CountryCode>& only) {
    return readFrom<Ipv6Ranges>(folder, only);
}

}  // namespace ipcountry::lookup
