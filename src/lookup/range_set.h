// Sets of addresses of one family as sorted, disjoint, non-touching ranges:
// the one shape that membership tests, the networks of a country, the cut of
// the special-purpose blocks and every CIDR list are made from. A set is
// normalised once, when it is made, and every operation after that trusts it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "lookup/address6.h"

namespace ipcountry::lookup {

// Both ends inclusive: a range can hold the whole address space.
template <class Address>
struct AddressRange {
    Address first{};
    Address last{};

    friend bool operator==(const AddressRange&, const AddressRange&) = default;
};

// A CIDR block: `bits` leading bits of `address` fixed, the rest free.
template <class Address>
struct CidrBlock {
    Address address{};
    int bits = 0;

    friend bool operator==(const CidrBlock&, const CidrBlock&) = default;
};

// The width of an address in bits.
template <class Address>
inline constexpr int kAddressBits = std::is_same_v<Address, Address6> ? 128 : 32;

// How many trailing zero bits an address has (its width for 0).
inline int trailingZeros(std::uint32_t a) noexcept { return a == 0 ? 32 : __builtin_ctz(a); }
inline int trailingZeros(Address6 a) noexcept {
    if (a.low != 0) return __builtin_ctzll(a.low);
    return a.high != 0 ? 64 + __builtin_ctzll(a.high) : 128;
}

// The address with its lowest `hostBits` bits all set (0 <= hostBits <= width).
inline std::uint32_t withHostBits(std::uint32_t a, int hostBits) noexcept {
    return hostBits >= 32 ? ~std::uint32_t{0} : a | ((std::uint32_t{1} << hostBits) - 1);
}
inline Address6 withHostBits(Address6 a, int hostBits) noexcept {
    const auto ones = [](int n) {
        return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    };
    return {hostBits > 64 ? a.high | ones(hostBits - 64) : a.high, a.low | ones(hostBits)};
}

// Calls emit(CidrBlock) for the fewest CIDR blocks that cover [first, last]
// exactly, lowest first: each block the largest that starts where the last
// one ended and stays inside the range.
template <class Address, class Emit>
void forEachCidr(Address first, Address last, Emit&& emit) {
    constexpr int kWidth = kAddressBits<Address>;
    for (;;) {
        int host = trailingZeros(first);
        if (host > kWidth) host = kWidth;
        while (host > 0 && withHostBits(first, host) > last) --host;
        emit(CidrBlock<Address>{first, kWidth - host});
        const Address end = withHostBits(first, host);
        if (end == last) return;
        first = end;
        ++first;
    }
}

// Addresses and blocks as text: dotted quads, and IPv6 as inet_ntop writes it
// (lower case, the longest run of zeros as ::, the first of equal runs, and
// ::a.b.c.d and ::ffff:a.b.c.d for the IPv4 forms), which every tool reads.
std::string addressText(std::uint32_t address);
std::string addressText(Address6 address);

// The room the longest text of a block takes: eight groups of four hex
// digits, their seven colons and /128.
inline constexpr std::size_t kCidrTextRoom = 48;

// The same text written into `out`, which has room for kCidrTextRoom
// characters; returns the end of what was written. For lists of many
// thousand blocks, where a string per address would cost more than the rest.
char* writeAddressText(char* out, std::uint32_t address) noexcept;
char* writeAddressText(char* out, Address6 address) noexcept;

template <class Address>
char* writeCidrText(char* out, const CidrBlock<Address>& block) noexcept {
    out = writeAddressText(out, block.address);
    *out++ = '/';
    int bits = block.bits;
    if (bits >= 100) {
        *out++ = '1';
        bits -= 100;
        *out++ = static_cast<char>('0' + bits / 10);
    } else if (bits >= 10) {
        *out++ = static_cast<char>('0' + bits / 10);
    }
    *out++ = static_cast<char>('0' + bits % 10);
    return out;
}

template <class Address>
void appendCidrText(std::string& text, const CidrBlock<Address>& block) {
    char buffer[kCidrTextRoom];
    text.append(buffer, writeCidrText(buffer, block));
}

template <class Address>
std::string cidrText(const CidrBlock<Address>& block) {
    std::string text;
    appendCidrText(text, block);
    return text;
}

template <class Address>
class RangeSet {
public:
    using Range = AddressRange<Address>;

    RangeSet() = default;
    // Any ranges, in any order, overlapping or not: sorted, and those that
    // overlap or touch merged into one.
    explicit RangeSet(std::vector<Range> ranges) : m_ranges(std::move(ranges)) { normalise(); }

    bool empty() const noexcept { return m_ranges.empty(); }
    const std::vector<Range>& ranges() const noexcept { return m_ranges; }

    bool contains(Address address) const noexcept {
        // The last range that starts at or before the address.
        const auto after =
            std::upper_bound(m_ranges.begin(), m_ranges.end(), address,
                             [](const Address& a, const Range& range) { return a < range.first; });
        return after != m_ranges.begin() && address <= std::prev(after)->last;
    }

    // The addresses of this set that are not in `other`.
    RangeSet minus(const RangeSet& other) const {
        RangeSet out;
        out.m_ranges = cutOut(m_ranges, other);
        return out;
    }

    // The fewest CIDR blocks that hold exactly this set, lowest first.
    std::vector<CidrBlock<Address>> cidrBlocks() const {
        std::vector<CidrBlock<Address>> blocks;
        blocks.reserve(m_ranges.size());
        for (const Range& range : m_ranges)
            forEachCidr(range.first, range.last,
                        [&](const CidrBlock<Address>& block) { blocks.push_back(block); });
        return blocks;
    }

    // Cuts the set's addresses out of sorted, disjoint ranges of any record
    // type with `first` and `last` members: a record inside the set goes, a
    // record that straddles part of it is split around it. Records keep their
    // order and everything but their ends.
    template <class Record>
    static std::vector<Record> cutOut(const std::vector<Record>& records, const RangeSet& set) {
        std::vector<Record> out;
        out.reserve(records.size());
        auto hole = set.m_ranges.begin();
        const auto holes = set.m_ranges.end();
        for (const Record& record : records) {
            Record rest = record;
            bool open = true;
            while (hole != holes && hole->last < rest.first) ++hole;
            for (auto h = hole; open && h != holes && h->first <= rest.last; ++h) {
                if (h->first > rest.first) {
                    Record before = rest;
                    before.last = h->first;
                    --before.last;
                    out.push_back(before);
                }
                if (h->last >= rest.last) {
                    open = false;
                } else {
                    rest.first = h->last;
                    ++rest.first;
                }
            }
            if (open) out.push_back(rest);
        }
        return out;
    }

private:
    void normalise() {
        const auto byFirst = [](const Range& a, const Range& b) { return a.first < b.first; };
        // Ranges read from a file in address order come sorted: checking
        // costs a fraction of sorting them again.
        if (!std::is_sorted(m_ranges.begin(), m_ranges.end(), byFirst))
            std::sort(m_ranges.begin(), m_ranges.end(), byFirst);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_ranges.size(); ++i) {
            if (kept > 0) {
                Range& last = m_ranges[kept - 1];
                Address next = last.last;
                ++next;
                // Touching ranges merge too; one past the last address wraps to 0.
                if (m_ranges[i].first <= last.last ||
                    (m_ranges[i].first == next && next != Address{})) {
                    last.last = std::max(last.last, m_ranges[i].last);
                    continue;
                }
            }
            m_ranges[kept++] = m_ranges[i];
        }
        m_ranges.resize(kept);
    }

    std::vector<Range> m_ranges;
};

using RangeSet4 = RangeSet<std::uint32_t>;
using RangeSet6 = RangeSet<Address6>;

// Lays records (any type with `first` and `last` members) over each other
// in the order given: a record decides its own addresses, cutting what the
// records before it said there, and an earlier wider record still holds the
// addresses around it. Gives disjoint records, sorted by address.
template <class Record>
std::vector<Record> paintRanges(const std::vector<Record>& records) {
    using Address = std::decay_t<decltype(Record{}.first)>;
    std::map<Address, Record> painted;
    for (const Record& row : records) {
        auto it = painted.upper_bound(row.first);
        if (it != painted.begin()) {
            auto before = std::prev(it);
            if (before->second.last >= row.first) {
                Record left = before->second;
                if (left.last > row.last) {
                    // The row sits inside a wider one: the wider one resumes after it.
                    Record right = left;
                    right.first = row.last;
                    ++right.first;
                    painted[right.first] = right;
                }
                if (left.first < row.first) {
                    before->second.last = row.first;
                    --before->second.last;
                } else {
                    painted.erase(before);
                }
            }
        }
        it = painted.lower_bound(row.first);
        while (it != painted.end() && it->second.first <= row.last) {
            if (it->second.last > row.last) {
                Record right = it->second;
                right.first = row.last;
                ++right.first;
                painted.erase(it);
                painted[right.first] = right;
                break;
            }
            it = painted.erase(it);
        }
        painted[row.first] = row;
    }
    std::vector<Record> flat;
    flat.reserve(painted.size());
    for (auto& entry : painted) flat.push_back(std::move(entry.second));
    return flat;
}

}  // namespace ipcountry::lookup
