#include "analysis/byte_classes.h"

#include <atomic>
#include <bit>
#include <cstring>

#if IPCOUNTRY_CLASSIFY_SIMD && (defined(__x86_64__) || defined(__i386__))
#define IPCOUNTRY_CLASSIFY_X86 1
#include <immintrin.h>
#else
#define IPCOUNTRY_CLASSIFY_X86 0
#endif

namespace ipcountry::analysis {

namespace {

using Classify = void (*)(const char*, std::size_t, ByteMasks*) noexcept;

// The four classes of a few bytes, one bit per byte.
template <class Bits>
struct Lanes {
    Bits digits, dots, colons, runs;
    Lanes operator>>(unsigned n) const noexcept {
        return {static_cast<Bits>(digits >> n), static_cast<Bits>(dots >> n),
                static_cast<Bits>(colons >> n), static_cast<Bits>(runs >> n)};
    }
};

// Adds `l` to `m` as the bytes from bit `shift` on.
template <class Bits>
inline void put(ByteMasks& m, const Lanes<Bits>& l, unsigned shift) noexcept {
    m.digits |= std::uint64_t{l.digits} << shift;
    m.dots |= std::uint64_t{l.dots} << shift;
    m.colons |= std::uint64_t{l.colons} << shift;
    m.runs |= std::uint64_t{l.runs} << shift;
}

// Eight bytes a step in a 64-bit word (the bytes of a little-endian load in
// order): each class is a byte's high bit, then gathered into eight bits.
constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
constexpr std::uint64_t kHigh = 0x8080808080808080ull;
constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// The high bit of each byte that is zero. Exact: the low seven bits are
// added without a carry leaving the byte.
constexpr std::uint64_t zeroBytes(std::uint64_t x) noexcept {
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The high bit of each byte from `first` to `last` (both below 0x80).
constexpr std::uint64_t bytesBetween(std::uint64_t x, unsigned first, unsigned last) noexcept {
    const std::uint64_t low = x & kLow7;
    return (low + (0x80 - first) * kOnes) & ~(low + (0x80 - last - 1) * kOnes) & ~x & kHigh;
}

// The high bits of the bytes, one bit each, byte 0 to bit 0.
constexpr unsigned gather(std::uint64_t high) noexcept {
    return static_cast<unsigned>(((high >> 7) * 0x0102040810204080ull) >> 56);
}

inline Lanes<unsigned> lanes8(std::uint64_t x) noexcept {
    const std::uint64_t digits = bytesBetween(x, '0', '9');
    const std::uint64_t colons = zeroBytes(x ^ (':' * kOnes));
    // a-f in either case: 'A' to 'F' with the 0x20 bit set are 'a' to 'f'.
    const std::uint64_t hexLetters = bytesBetween(x | (0x20 * kOnes), 'a', 'f');
    return {gather(digits), gather(zeroBytes(x ^ ('.' * kOnes))), gather(colons),
            gather(digits | hexLetters | colons)};
}

void classifyPortable(const char* text, std::size_t size, ByteMasks* masks) noexcept {
    for (std::size_t w = 0, words = maskWords(size); w < words; ++w) {
        ByteMasks m;
        const std::size_t from = w * 64;
        const std::size_t to = size - from < 64 ? size : from + 64;
        std::size_t i = from;
        if constexpr (std::endian::native == std::endian::little) {
            for (; i + 8 <= to; i += 8) {
                std::uint64_t x;
                std::memcpy(&x, text + i, 8);
                put(m, lanes8(x), static_cast<unsigned>(i - from));
            }
        }
        for (; i < to; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const std::uint64_t bit = std::uint64_t{1} << (i - from);
            const bool digit = static_cast<unsigned char>(c - '0') < 10;
            const bool hexLetter = static_cast<unsigned char>((c | 0x20) - 'a') < 6;
            if (digit) m.digits |= bit;
            if (c == '.') m.dots |= bit;
            if (c == ':') m.colons |= bit;
            if (digit || hexLetter || c == ':') m.runs |= bit;
        }
        masks[w] = m;
    }
}

#if IPCOUNTRY_CLASSIFY_X86

inline Lanes<unsigned> lanes16(const char* at) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // A byte in a range is one whose distance from its start is at most the
    // range's width: the unsigned minimum with the width leaves only those.
    const auto within = [](__m128i bytes, char first, char width) {
        const __m128i from = _mm_sub_epi8(bytes, _mm_set1_epi8(first));
        return _mm_cmpeq_epi8(_mm_min_epu8(from, _mm_set1_epi8(width)), from);
    };
    const __m128i digit = within(v, '0', 9);
    const __m128i colon = _mm_cmpeq_epi8(v, _mm_set1_epi8(':'));
    const __m128i hexLetter = within(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 5);
    const auto bits = [](__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); };
    return {bits(digit), bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))), bits(colon),
            bits(_mm_or_si128(_mm_or_si128(digit, hexLetter), colon))};
}

// The sixteen bytes from `at`, or the fewer before `size`: the last sixteen
// of the line loaded and the bytes before `at` shifted out, so that nothing
// past the line is read. A line shorter than sixteen bytes goes through a copy.
inline Lanes<unsigned> lanesFrom(const char* text, std::size_t at, std::size_t size) noexcept {
    if (at + 16 <= size) return lanes16(text + at);
    if (size >= 16) return lanes16(text + size - 16) >> static_cast<unsigned>(at + 16 - size);
    char copy[16] = {};
    std::memcpy(copy, text + at, size - at);
    return lanes16(copy);
}

void classifySse2(const char* text, std::size_t size, ByteMasks* masks) noexcept {
    std::size_t w = 0;
    // Whole words without a test per step; the last, partial one below.
    for (; (w + 1) * 64 <= size; ++w) {
        ByteMasks m;
        for (unsigned part = 0; part < 4; ++part)
            put(m, lanes16(text + w * 64 + part * 16), part * 16);
        masks[w] = m;
    }
    if (w * 64 < size) {
        ByteMasks m;
        for (unsigned part = 0; part < 4 && w * 64 + part * 16 < size; ++part)
            put(m, lanesFrom(text, w * 64 + part * 16, size), part * 16);
        masks[w] = m;
    }
}

// The bytes from `first` to `first + width`, as in lanes16 (lambdas do not
// take the target of the function around them).
__attribute__((target("avx2"))) inline __m256i within32(__m256i bytes, char first,
                                                        char width) noexcept {
    const __m256i from = _mm256_sub_epi8(bytes, _mm256_set1_epi8(first));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(from, _mm256_set1_epi8(width)), from);
}

__attribute__((target("avx2"))) inline std::uint32_t bits32(__m256i lanes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
}

__attribute__((target("avx2"))) inline Lanes<std::uint32_t> lanes32(const char* at) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i digit = within32(v, '0', 9);
    const __m256i colon = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(':'));
    const __m256i hexLetter = within32(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), 'a', 5);
    return {bits32(digit), bits32(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('.'))), bits32(colon),
            bits32(_mm256_or_si256(_mm256_or_si256(digit, hexLetter), colon))};
}

__attribute__((target("avx2"))) void classifyAvx2(const char* text, std::size_t size,
                                                  ByteMasks* masks) noexcept {
    std::size_t w = 0;
    // Whole words without a test per step; the last, partial one below.
    for (; (w + 1) * 64 <= size; ++w) {
        ByteMasks m;
        put(m, lanes32(text + w * 64), 0);
        put(m, lanes32(text + w * 64 + 32), 32);
        masks[w] = m;
    }
    if (w * 64 < size) {
        ByteMasks m;
        for (unsigned part = 0; part < 2 && w * 64 + part * 32 < size; ++part) {
            const std::size_t at = w * 64 + part * 32;
            if (at + 32 <= size) {
                put(m, lanes32(text + at), part * 32);
            } else if (size >= 32) {
                // As lanesFrom: the line's last 32 bytes, those before `at` shifted out.
                put(m, lanes32(text + size - 32) >> static_cast<unsigned>(at + 32 - size),
                    part * 32);
            } else {
                put(m, lanesFrom(text, at, size), part * 32);
                if (at + 16 < size) put(m, lanesFrom(text, at + 16, size), part * 32 + 16);
            }
        }
        masks[w] = m;
    }
}

#endif

Classify classifierFor(ClassifyPath path) noexcept {
    switch (path) {
#if IPCOUNTRY_CLASSIFY_X86
        case ClassifyPath::Avx2:
            return classifyAvx2;
        case ClassifyPath::Sse2:
            return classifySse2;
#endif
        default:
            return classifyPortable;
    }
}

ClassifyPath widestPath() noexcept {
    if (classifyPathAvailable(ClassifyPath::Avx2)) return ClassifyPath::Avx2;
    if (classifyPathAvailable(ClassifyPath::Sse2)) return ClassifyPath::Sse2;
    return ClassifyPath::Portable;
}

// The path is chosen at the first classification; a chosen one replaces it.
std::atomic<ClassifyPath> g_path{ClassifyPath::Portable};
std::atomic<Classify> g_classify{nullptr};

}  // namespace

bool classifyPathAvailable(ClassifyPath path) noexcept {
    switch (path) {
        case ClassifyPath::Portable:
            return true;
#if IPCOUNTRY_CLASSIFY_X86
        case ClassifyPath::Sse2:
            return true;  // every x86-64 CPU has it
        case ClassifyPath::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") != 0;
#endif
        default:
            return false;
    }
}

ClassifyPath classifyPath() noexcept {
    if (g_classify.load(std::memory_order_acquire) == nullptr) useClassifyPath(widestPath());
    return g_path.load(std::memory_order_relaxed);
}

void useClassifyPath(ClassifyPath path) noexcept {
    if (!classifyPathAvailable(path)) path = ClassifyPath::Portable;
    g_path.store(path, std::memory_order_relaxed);
    g_classify.store(classifierFor(path), std::memory_order_release);
}

void classifyBytes(const char* text, std::size_t size, ByteMasks* masks) noexcept {
    Classify classify = g_classify.load(std::memory_order_acquire);
    if (classify == nullptr) {
        useClassifyPath(widestPath());
        classify = g_classify.load(std::memory_order_acquire);
    }
    classify(text, size, masks);
}

}  // namespace ipcountry::analysis
