#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <span>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace ipcountry::lookup {

// The leaves on huge pages where the system offers them: a few megabytes
// that a lookup reads at random places, filled once at start. One fault
// instead of hundreds while they fill, and one translation-cache entry
// instead of hundreds while they are read.
template <class T>
struct HugePageAllocator {
    using value_type = T;
    static constexpr std::size_t kHuge = std::size_t{2} << 20;
    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}
    // Small tables (test files, a few ranges) stay on ordinary pages: a huge
    // page would be cleared whole for them.
    static bool huge(std::size_t n) { return n * sizeof(T) >= kHuge / 2; }
    static std::size_t rounded(std::size_t n) {
        return (n * sizeof(T) + kHuge - 1) / kHuge * kHuge;
    }
    T* allocate(std::size_t n) {
        if (!huge(n))
            return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{alignof(T)}));
        void* memory = std::aligned_alloc(kHuge, rounded(n));
        if (memory == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        ::madvise(memory, rounded(n), MADV_HUGEPAGE);
#endif
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (huge(n))
            std::free(p);
        else
            ::operator delete (p, std::align_val_t{alignof(T)});
    }
    friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
};

// Asks for the cache line at `address` without waiting for it. GCC 12 drops
// __builtin_prefetch where the address depends on a branch (as findEach's
// levels do), so on x86 the instruction is written out; it reads nothing and
// cannot fault.
inline void prefetchLine(const void* address) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
    __builtin_prefetch(address);
#endif
}

// The sorted starts of a range file laid out so that one lookup reads about
// two cache lines: a table entry for the address's upper 16 bits, then a small
// static B-tree of that bucket whose nodes are one cache line each, the leaves
// holding the codes beside the starts. Most buckets fit one leaf; the largest
// (a few thousand starts) take two or three inner nodes, whose upper levels
// stay in cache.
//
// The tree compares a Family::TreeKey, the address with its bucket bits taken
// off: exact for IPv4 (the lower 16 bits), a prefix for IPv6 (the next 64
// bits). Where a prefix cannot tell two addresses apart, and for the largest
// key (which the padding of the nodes also uses), the answer is marked
// unsure and the caller asks its exact search.
template <class Family>
class RangeTree {
public:
    using Address = typename Family::Address;
    using Key = typename Family::TreeKey;

    static constexpr Key kPad = std::numeric_limits<Key>::max();
    // An inner node: separators, then the index of its first child; child c
    // holds the keys from separator c-1 on (child 0 the rest).
    static constexpr std::size_t kInnerKeys = (64 - sizeof(std::uint32_t)) / sizeof(Key);
    // A leaf: its starts' keys (padded) and codes[i], the code after the i-th
    // key; in a bucket's first leaf, codes[0] is the code of the last line
    // before the bucket. A later leaf is only reached for keys from its first
    // on, so its codes[0] is never read, and left 0.
    static constexpr std::size_t kLeafKeys = Family::kLeafKeys;
    static constexpr std::size_t kLeafCapacity = Family::kLeafCapacity;
    static constexpr std::uint32_t kUnsure = 0x10000;

    RangeTree() = default;
    // The spans point into the tables: moved along with them, never copied.
    RangeTree(const RangeTree&) = delete;
    RangeTree& operator=(const RangeTree&) = delete;
    RangeTree(RangeTree&&) noexcept = default;
    RangeTree& operator=(RangeTree&&) noexcept = default;

    struct alignas(64) Inner {
        Key keys[kInnerKeys];
        std::uint32_t firstChild;
    };
    struct alignas(64) Leaf {
        Key keys[kLeafKeys];
        std::uint16_t codes[kLeafCapacity + 1];
    };
    static_assert(sizeof(Inner) == 64 && sizeof(Leaf) == 64);
    static_assert(kLeafKeys >= kLeafCapacity);

    // `codes[i]` is the code of the line starting at `starts[i]`; the last
    // line only closes the range before it. Starts ascend. False
    // for more starts than a bucket's four bytes can point to (hundreds of
    // millions), which then need another search.
    bool build(const std::vector<Address>& starts, const std::vector<std::uint16_t>& codes);

    // The tables as built, to be saved; and tables saved before, which stay
    // where they are (a mapped file) and must outlive the tree. Nothing in
    // adopted tables is checked, which would cost a pass over them at every
    // start: every node a lookup reads is kept within its table instead
    // (innerAt, leafAt), so a damaged file gives at worst wrong codes, never
    // a read outside it.
    std::span<const std::uint32_t> buckets() const noexcept { return m_buckets; }
    std::span<const Inner> inner() const noexcept { return m_inner; }
    std::span<const Leaf> leaves() const noexcept { return m_leaves; }
    bool adopt(std::span<const std::uint32_t> buckets, std::span<const Inner> inner,
               std::span<const Leaf> leaves);

    // The packed code, 0 for none; or kUnsure when the exact search must decide.
    std::uint32_t find(Address address) const noexcept {
        const std::uint32_t bucket = m_buckets[Family::bucketOf(address)];
        if (bucket & kNoKeys) return bucket & 0xFFFF;
        const Key key = Family::treeKey(address);
        // The padding equals the largest key and would send it past the
        // last child of a node.
        if (key == kPad) return kUnsure;
        std::uint32_t node = bucket & kNodeMask;
        for (unsigned level = bucket >> kDepthShift; level > 0; --level) {
            const Inner& inner = innerAt(node);
            node = inner.firstChild + countNotAbove(inner.keys, key);
        }
        return inLeaf(leafAt(node), address);
    }

    // find() for many addresses at once, into `codes` (same size): in
    // groups whose lookups go down the tree level by level together, each
    // level's lines asked for (prefetchLine) before any is read, so that a
    // group waits about once per level instead of once per address and level.
    void findEach(const Address* addresses, std::uint32_t* codes, std::size_t n) const noexcept {
        constexpr std::size_t kGroup = 32;
        // Where each lookup of a group stands: its node, and the inner levels
        // still above the leaves; answered lookups hold kAnswered.
        std::uint32_t node[kGroup];
        unsigned depth[kGroup];
        constexpr unsigned kAnswered = ~0u;
        // The buckets are asked for a group ahead: read right after being
        // asked for, they would still be on their way.
        const auto askBuckets = [&](std::size_t first) {
            for (std::size_t i = first; i < std::min(n, first + kGroup); ++i)
                prefetchLine(&m_buckets[Family::bucketOf(addresses[i])]);
        };
        askBuckets(0);
        for (std::size_t first = 0; first < n; first += kGroup) {
            const std::size_t count = std::min(kGroup, n - first);
            const Address* group = addresses + first;
            std::uint32_t* out = codes + first;
            askBuckets(first + kGroup);
            unsigned deepest = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t bucket = m_buckets[Family::bucketOf(group[i])];
                if (bucket & kNoKeys) {
                    out[i] = bucket & 0xFFFF;
                    depth[i] = kAnswered;
                } else if (Family::treeKey(group[i]) == kPad) {
                    out[i] = kUnsure;
                    depth[i] = kAnswered;
                } else {
                    node[i] = bucket & kNodeMask;
                    depth[i] = bucket >> kDepthShift;
                    deepest = std::max(deepest, depth[i]);
                    prefetchLine(depth[i] > 0 ? static_cast<const void*>(&innerAt(node[i]))
                                              : static_cast<const void*>(&leafAt(node[i])));
                }
            }
            for (; deepest > 0; --deepest) {
                for (std::size_t i = 0; i < count; ++i) {
                    if (depth[i] == kAnswered || depth[i] == 0) continue;
                    const Inner& inner = innerAt(node[i]);
                    node[i] =
                        inner.firstChild + countNotAbove(inner.keys, Family::treeKey(group[i]));
                    --depth[i];
                    prefetchLine(depth[i] > 0 ? static_cast<const void*>(&innerAt(node[i]))
                                              : static_cast<const void*>(&leafAt(node[i])));
                }
            }
            for (std::size_t i = 0; i < count; ++i)
                if (depth[i] != kAnswered) out[i] = inLeaf(leafAt(node[i]), group[i]);
        }
    }

private:
    // A node of the tables, or their last for an index beyond them: one
    // compare a level, where a check of a saved file would cost a pass.
    const Inner& innerAt(std::size_t node) const noexcept {
        return m_inner[std::min(node, m_inner.size() - 1)];
    }
    const Leaf& leafAt(std::size_t node) const noexcept {
        return m_leaves[std::min(node, m_leaves.size() - 1)];
    }
    // Tables without nodes get one of padding, so that innerAt and leafAt
    // always have one to give.
    void keepNodesInReach() {
        static const Inner kNoInner = [] {
            Inner inner{};
            std::fill(std::begin(inner.keys), std::end(inner.keys), kPad);
            return inner;
        }();
        static const Leaf kNoLeaf = [] {
            Leaf leaf{};
            std::fill(std::begin(leaf.keys), std::end(leaf.keys), kPad);
            return leaf;
        }();
        if (m_inner.empty()) m_inner = std::span<const Inner>(&kNoInner, 1);
        if (m_leaves.empty()) m_leaves = std::span<const Leaf>(&kNoLeaf, 1);
    }

    // The code after the last of the leaf's keys not above the address's.
    static std::uint32_t inLeaf(const Leaf& leaf, Address address) noexcept {
        const Key key = Family::treeKey(address);
        const std::size_t n = countNotAbove(leaf.keys, key);
        // A prefix equal to a start's may hide a start above the address.
        const bool unsure = !Family::kExactTreeKey && n > 0 && leaf.keys[n - 1] == key;
        // A leaf as built ends with padding, so n stays within its codes; one
        // read from a damaged file may not.
        return unsure ? kUnsure : leaf.codes[std::min(n, kLeafCapacity)];
    }

    // A bucket in four bytes, so that the table of all 65536 stays within
    // the second-level cache: the depth of its tree (the inner levels above
    // the leaves) and its root (an inner node, or a leaf at depth 0); or, for
    // a bucket where no range starts, kNoKeys and the code of the last line
    // before it. A tree's first leaf holds that code itself.
    static constexpr std::uint32_t kNoKeys = 0x80000000u;
    static constexpr unsigned kDepthShift = 26;
    static constexpr std::uint32_t kNodeMask = (1u << kDepthShift) - 1;

    // How many keys are at most `key`. The keys ascend and the padding is
    // above `key` whenever the answer is used, so those keys are a prefix:
    // for 16-bit keys, its length is found in the comparison masks of the
    // whole line without a branch.
    template <std::size_t N>
    static std::size_t countNotAbove(const Key (&keys)[N], Key key) noexcept {
#ifdef __SSE2__
        if constexpr (sizeof(Key) == 2) {
            static_assert(N <= 32);
            const __m128i wanted = _mm_set1_epi16(static_cast<short>(key));
            std::uint64_t notAbove = 0;
            // Whole 16-byte loads: the line is 64 bytes, whatever it holds after the keys.
            for (std::size_t i = 0; i < (N + 7) / 8; ++i) {
                const __m128i part = _mm_load_si128(reinterpret_cast<const __m128i*>(keys) + i);
                // key <= wanted exactly when key minus wanted saturates to 0.
                const __m128i zero =
                    _mm_cmpeq_epi16(_mm_subs_epu16(part, wanted), _mm_setzero_si128());
                notAbove |= static_cast<std::uint64_t>(_mm_movemask_epi8(zero)) << (16 * i);
            }
            // Two mask bits a key; whatever follows the keys counts as above.
            notAbove &= (std::uint64_t{1} << (2 * N)) - 1;
            return static_cast<std::size_t>(__builtin_ctzll(~notAbove)) / 2;
        }
#endif
        return countNotAboveEach(keys, key, std::make_index_sequence<N>{});
    }
    template <std::size_t N, std::size_t... I>
    static std::size_t countNotAboveEach(const Key (&keys)[N], Key key,
                                         std::index_sequence<I...>) noexcept {
        return ((keys[I] <= key ? std::size_t{1} : 0) + ...);
    }

    // The tables built here; the lookups read the spans, which point into
    // these or into an adopted file.
    std::vector<std::uint32_t> m_ownBuckets;
    std::vector<Inner> m_ownInner;
    std::vector<Leaf, HugePageAllocator<Leaf>> m_ownLeaves;
    std::span<const std::uint32_t> m_buckets;
    std::span<const Inner> m_inner;
    std::span<const Leaf> m_leaves;
};

template <class Family>
bool RangeTree<Family>::build(const std::vector<Address>& starts,
                              const std::vector<std::uint16_t>& codes) {
    constexpr std::size_t kBucketCount = std::size_t{1} << 16;
    m_ownBuckets.assign(kBucketCount, 0);
    m_ownInner.clear();
    m_ownLeaves.clear();
    // Room for every leaf at once, so that the leaves never move.
    std::size_t leaves = 0;
    for (std::size_t i = 0; i < starts.size();) {
        const std::size_t first = i;
        const std::uint32_t b = Family::bucketOf(starts[i]);
        while (i < starts.size() && Family::bucketOf(starts[i]) == b) ++i;
        leaves += (i - first + kLeafCapacity - 1) / kLeafCapacity;
    }
    m_ownLeaves.reserve(leaves);
    m_ownInner.reserve(m_ownLeaves.capacity() / kInnerKeys + 1);
    std::uint16_t before = 0;
    std::size_t line = 0;
    const auto codeOf = [&](std::size_t i) -> std::uint16_t {
        return i + 1 == starts.size() ? 0 : codes[i];
    };
    // First children of the level being built, and of the one below it.
    std::vector<std::uint32_t> level, below;
    std::vector<Key> levelMin, belowMin;
    for (std::size_t b = 0; b < kBucketCount; ++b) {
        const std::size_t first = line;
        while (line < starts.size() && Family::bucketOf(starts[line]) == b) ++line;
        if (line == first) {
            m_ownBuckets[b] = kNoKeys | before;
            continue;
        }
        // Leaves; the first with the code before the bucket.
        below.clear();
        belowMin.clear();
        for (std::size_t i = first; i < line; i += kLeafCapacity) {
            Leaf leaf;
            std::fill(std::begin(leaf.keys), std::end(leaf.keys), kPad);
            std::fill(std::begin(leaf.codes), std::end(leaf.codes), std::uint16_t{0});
            if (i == first) leaf.codes[0] = before;
            const std::size_t n = std::min(kLeafCapacity, line - i);
            for (std::size_t k = 0; k < n; ++k) {
                leaf.keys[k] = Family::treeKey(starts[i + k]);
                leaf.codes[k + 1] = codeOf(i + k);
            }
            below.push_back(static_cast<std::uint32_t>(m_ownLeaves.size()));
            belowMin.push_back(leaf.keys[0]);
            m_ownLeaves.push_back(leaf);
        }
        std::uint16_t depth = 0;
        // Inner levels until one node is left; a node's separators are the
        // smallest keys of its children after the first.
        while (below.size() > 1) {
            level.clear();
            levelMin.clear();
            for (std::size_t c = 0; c < below.size(); c += kInnerKeys + 1) {
                Inner inner;
                std::fill(std::begin(inner.keys), std::end(inner.keys), kPad);
                inner.firstChild = below[c];
                const std::size_t n = std::min(kInnerKeys + 1, below.size() - c);
                for (std::size_t k = 1; k < n; ++k) inner.keys[k - 1] = belowMin[c + k];
                level.push_back(static_cast<std::uint32_t>(m_ownInner.size()));
                levelMin.push_back(belowMin[c]);
                m_ownInner.push_back(inner);
            }
            std::swap(level, below);
            std::swap(levelMin, belowMin);
            ++depth;
        }
        if (m_ownLeaves.size() > kNodeMask || m_ownInner.size() > kNodeMask) {
            m_buckets = {}, m_inner = {}, m_leaves = {};
            return false;
        }
        m_ownBuckets[b] =
            static_cast<std::uint32_t>(depth) << kDepthShift | (below.front() & kNodeMask);
        before = codeOf(line - 1);
    }
    m_buckets = m_ownBuckets;
    m_inner = m_ownInner;
    m_leaves = m_ownLeaves;
    keepNodesInReach();
    return true;
}

template <class Family>
bool RangeTree<Family>::adopt(std::span<const std::uint32_t> buckets, std::span<const Inner> inner,
                              std::span<const Leaf> leaves) {
    if (buckets.size() != std::size_t{1} << 16) return false;
    m_ownBuckets.clear();
    m_ownInner.clear();
    m_ownLeaves.clear();
    m_buckets = buckets;
    m_inner = inner;
    m_leaves = leaves;
    keepNodesInReach();
    return true;
}

}  // namespace ipcountry::lookup
