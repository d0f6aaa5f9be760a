#include "lookup/country_ranges.h"

#include <type_traits>
#include <vector>

#include "lookup/error.h"
#include "lookup/special_blocks.h"

namespace ipcountry::lookup {

bool isCountryCode(std::string_view code) noexcept {
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    return code.size() == 2 && upper(code[0]) && upper(code[1]) && code != "ZZ";
}

template <class Family>
CountryRangeSets<typename Family::Address> countryRangesOf(const BasicRangeIndex<Family>& index,
                                                           const std::string& fileName) {
    using Address = typename Family::Address;
    if (!index.usesIndex())
        throw Error(ErrorKind::BadData, fileName + ": lines malformed or out of order", fileName,
                    "lines malformed or out of order; the networks are read from a well-formed "
                    "range file only");
    const std::vector<Address>& starts = index.starts();
    const std::vector<std::uint16_t>& codes = index.codes();
    std::map<std::uint16_t, std::vector<AddressRange<Address>>> byCode;
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
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
                                                         const std::string&);
template CountryRangeSets<Address6> countryRangesOf(const BasicRangeIndex<Ipv6Ranges>&,
                                                    const std::string&);

namespace {

template <class Family>
CountryRangeSets<typename Family::Address> readFrom(const std::filesystem::path& folder) {
    BasicRangeFile<Family> file(folder);
    file.open();
    return countryRangesOf(file.index(), file.path().string());
}

}  // namespace

CountryRangeSets<std::uint32_t> readCountryRanges4(const std::filesystem::path& folder) {
    return readFrom<Ipv4Ranges>(folder);
}

CountryRangeSets<Address6> readCountryRanges6(const std::filesystem::path& folder) {
    return readFrom<Ipv6Ranges>(folder);
}

}  // namespace ipcountry::lookup
