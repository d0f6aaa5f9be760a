#pragma once

// The range index as it was before the per-bucket trees, kept only to be
// measured against: a table of the first line of each /16 bucket, then a
// binary search of the bucket's starts and a read of the code from a third
// array.

#include <cstdint>
#include <string_view>
#include <vector>

#include "lookup/line_ends.h"
#include "lookup/range_file.h"

namespace ipcountry::bench {

template <class Family>
class PreviousRangeIndex {
public:
    using Address = typename Family::Address;

    // The bundled files are well formed; this copy checks nothing.
    explicit PreviousRangeIndex(std::string_view content) {
        lookup::forEachLine(content, [&](std::string_view line) {
            m_starts.push_back(*Family::fromKey(line.substr(0, Family::kKeyLength)));
            m_codes.push_back(lookup::packCode(line.substr(line.size() - 2)));
        });
        m_buckets.resize(kBuckets + 1);
        std::size_t line = 0;
        for (std::uint32_t b = 0; b < kBuckets; ++b) {
            while (line < m_starts.size() && Family::bucketOf(m_starts[line]) < b) ++line;
            m_buckets[b] = static_cast<std::uint32_t>(line);
        }
        m_buckets[kBuckets] = static_cast<std::uint32_t>(m_starts.size());
    }

    std::uint16_t findPackedCode(Address address) const {
        const std::uint32_t bucket = Family::bucketOf(address);
        auto first = m_starts.begin() + m_buckets[bucket];
        const auto last = m_starts.begin() + m_buckets[bucket + 1];
        std::size_t n = static_cast<std::size_t>(last - first);
        if (n > 0) {
            while (n > 1) {
                const std::size_t half = n / 2;
                first +=
                    Family::notAbove(first[half], address) ? static_cast<std::ptrdiff_t>(half) : 0;
                n -= half;
            }
            first += Family::notAbove(*first, address) ? 1 : 0;
        }
        if (first == m_starts.begin() || first == m_starts.end()) return 0;
        return m_codes[static_cast<std::size_t>(first - m_starts.begin()) - 1];
    }

private:
    static constexpr std::uint32_t kBuckets = 1u << 16;
    std::vector<Address> m_starts;
    std::vector<std::uint16_t> m_codes;
    std::vector<std::uint32_t> m_buckets;
};

}  // namespace ipcountry::bench
