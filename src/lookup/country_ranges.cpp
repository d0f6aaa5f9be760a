#include "lookup/country_ranges.h"

#include <type_traits>
#include <vector>

#include "lookup/error.h"
#include "lookup/special_blocks.h"

namespace ipcountry::lookup {

bool isCountryCode(std::string_view code) noexcept { return isTwoCapitals(code) && code != "ZZ"; }

namespace {

bool isCountryCode(std::uint16_t packed) noexcept {
    const auto upper = [](unsigned c) { return c >= 'A' && c <= 'Z'; };
    return upper(packed >> 8) && upper(packed & 0xFFu) && packed != packCode("ZZ");
}

}  // namespace

template <class Family>
std::vector<CodedRange<typename Family::Address>> codedRangesOf(
    const BasicRangeIndex<Family>& index, const std::string& fileName,
    const std::set<CountryCode>& only) {
    using Address = typename Family::Address;
    if (!index.usesIndex())
        throw Error(ErrorKind::BadData, ErrorCode::RangeLinesBad, {.file = fileName});
    const std::span<const Address> starts = index.starts();
    const std::span<const std::uint16_t> codes = index.codes();
    // Which packed codes are read: the countries asked for, else every country.
    std::vector<bool> wanted(std::size_t{1} << 16, only.empty());
    for (const CountryCode& code : only)
        if (code.size() == 2) wanted[packCode(code)] = true;
    std::vector<CodedRange<Address>> ranges;
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        const std::uint16_t code = codes[i];
        // Equal starts leave the earlier line nothing.
        if (!wanted[code] || starts[i + 1] == starts[i] || !isCountryCode(code)) continue;
        Address last = starts[i + 1];
        --last;
        // A country's lines one after the other are one range; a line of
        // anything else between them holds addresses, so they stay apart.
        if (!ranges.empty() && ranges.back().code == code) {
            Address next = ranges.back().last;
            ++next;
            if (next == starts[i]) {
                ranges.back().last = last;
                continue;
            }
        }
        ranges.push_back({starts[i], last, code});
    }
    const RangeSet<Address>& special = [&]() -> const RangeSet<Address>& {
        if constexpr (std::is_same_v<Address, Address6>)
            return specialSet6();
        else
            return specialSet4();
    }();
    return RangeSet<Address>::cutOut(ranges, special);
}

template <class Family>
CountryRangeSets<typename Family::Address> countryRangesOf(const BasicRangeIndex<Family>& index,
                                                           const std::string& fileName,
                                                           const std::set<CountryCode>& only) {
    using Address = typename Family::Address;
    // Sorted into countries in one pass: each country's ranges stay in
    // address order, so that its set is made without sorting.
    std::map<std::uint16_t, std::vector<AddressRange<Address>>> byCode;
    std::vector<std::vector<AddressRange<Address>>*> slot(std::size_t{1} << 16, nullptr);
    for (const CodedRange<Address>& range : codedRangesOf(index, fileName, only)) {
        auto*& ranges = slot[range.code];
        if (ranges == nullptr) ranges = &byCode[range.code];
        ranges->push_back({range.first, range.last});
    }
    CountryRangeSets<Address> sets;
    for (auto& [packed, ranges] : byCode)
        sets.emplace(unpackCode(packed), RangeSet<Address>(std::move(ranges)));
    return sets;
}

template std::vector<CodedRange<std::uint32_t>> codedRangesOf(const BasicRangeIndex<Ipv4Ranges>&,
                                                              const std::string&,
                                                              const std::set<CountryCode>&);
template std::vector<CodedRange<Address6>> codedRangesOf(const BasicRangeIndex<Ipv6Ranges>&,
                                                         const std::string&,
                                                         const std::set<CountryCode>&);
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

template <class Family>
std::vector<CodedRange<typename Family::Address>> readCodedFrom(const std::filesystem::path& folder,
                                                                const std::set<CountryCode>& only) {
    BasicRangeFile<Family> file(folder);
    file.open();
    return codedRangesOf(file.index(), file.path().string(), only);
}

}  // namespace

std::vector<CodedRange<std::uint32_t>> readCodedRanges4(const std::filesystem::path& folder,
                                                        const std::set<CountryCode>& only) {
    return readCodedFrom<Ipv4Ranges>(folder, only);
}

std::vector<CodedRange<Address6>> readCodedRanges6(const std::filesystem::path& folder,
                                                   const std::set<CountryCode>& only) {
    return readCodedFrom<Ipv6Ranges>(folder, only);
}

CountryRangeSets<std::uint32_t> readCountryRanges4(const std::filesystem::path& folder,
                                                   const std::set<CountryCode>& only) {
    return readFrom<Ipv4Ranges>(folder, only);
}

CountryRangeSets<Address6> readCountryRanges6(const std::filesystem::path& folder,
                                              const std::set<CountryCode>& only) {
    return readFrom<Ipv6Ranges>(folder, only);
}

}  // namespace ipcountry::lookup
