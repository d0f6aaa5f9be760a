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

// The high bits of the bytes, one bit each, byte 0 to bit 0.
constexpr unsigned gather(std::uint64_t high) noexcept {
    return static_cast<unsigned>(((high >> 7) * 0x0102040810204080ull) >> 56);
}

struct Lanes8 {
    unsigned digits, dots, colons;
};

inline Lanes8 lanes8(std::uint64_t x) noexcept {
    const std::uint64_t low = x & kLow7;
    // At least '0' and at most '9', of the bytes below 0x80.
    const std::uint64_t atLeast0 = low + (0x80 - '0') * kOnes;
    const std::uint64_t above9 = low + (0x80 - '9' - 1) * kOnes;
    const std::uint64_t digits = atLeast0 & ~above9 & ~x & kHigh;
    return {gather(digits), gather(zeroBytes(x ^ ('.' * kOnes))),
            gather(zeroBytes(x ^ (':' * kOnes)))};
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
                const Lanes8 l = lanes8(x);
                const unsigned shift = static_cast<unsigned>(i - from);
                m.digits |= std::uint64_t{l.digits} << shift;
                m.dots |= std::uint64_t{l.dots} << shift;
                m.colons |= std::uint64_t{l.colons} << shift;
            }
        }
        for (; i < to; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const std::uint64_t bit = std::uint64_t{1} << (i - from);
            if (static_cast<unsigned char>(c - '0') < 10) m.digits |= bit;
            if (c == '.') m.dots |= bit;
            if (c == ':') m.colons |= bit;
        }
        masks[w] = m;
    }
}

#if IPCOUNTRY_CLASSIFY_X86

// The three classes of sixteen bytes, one bit per byte.
struct Lanes16 {
    unsigned digits, dots, colons;
};

inline Lanes16 lanes16(const char* at) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // A digit is a byte whose distance from '0' is at most 9: the unsigned
    // minimum with 9 leaves only those unchanged.
    const __m128i fromZero = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(fromZero, _mm_set1_epi8(9)), fromZero);
    return {static_cast<unsigned>(_mm_movemask_epi8(digit)),
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')))),
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(':'))))};
}

// The sixteen bytes from `at`, or the fewer before `size`: the last sixteen
// of the line loaded and the bytes before `at` shifted out, so that nothing
// past the line is read. A line shorter than sixteen bytes goes through a copy.
inline Lanes16 lanesFrom(const char* text, std::size_t at, std::size_t size) noexcept {
    if (at + 16 <= size) return lanes16(text + at);
    if (size >= 16) {
        const unsigned shift = static_cast<unsigned>(at + 16 - size);
        const Lanes16 l = lanes16(text + size - 16);
        return {l.digits >> shift, l.dots >> shift, l.colons >> shift};
    }
    char copy[16] = {};
    std::memcpy(copy, text + at, size - at);
    return lanes16(copy);
}

void classifySse2(const char* text, std::size_t size, ByteMasks* masks) noexcept {
    std::size_t w = 0;
    // Whole words without a test per step; the last, partial one below.
    for (; (w + 1) * 64 <= size; ++w) {
        const char* at = text + w * 64;
        const Lanes16 a = lanes16(at), b = lanes16(at + 16), c = lanes16(at + 32),
                      d = lanes16(at + 48);
        const auto join = [](unsigned p0, unsigned p1, unsigned p2, unsigned p3) {
            return std::uint64_t{p0} | std::uint64_t{p1} << 16 | std::uint64_t{p2} << 32 |
                   std::uint64_t{p3} << 48;
        };
        masks[w] = {join(a.digits, b.digits, c.digits, d.digits),
                    join(a.dots, b.dots, c.dots, d.dots),
                    join(a.colons, b.colons, c.colons, d.colons)};
    }
    if (w * 64 < size) {
        ByteMasks m;
        for (unsigned part = 0; part < 4; ++part) {
            const std::size_t at = w * 64 + part * 16;
            if (at >= size) break;
            const Lanes16 l = lanesFrom(text, at, size);
            m.digits |= std::uint64_t{l.digits} << (part * 16);
            m.dots |= std::uint64_t{l.dots} << (part * 16);
            m.colons |= std::uint64_t{l.colons} << (part * 16);
        }
        masks[w] = m;
    }
}

struct Lanes32 {
    std::uint32_t digits, dots, colons;
};

__attribute__((target("avx2"))) inline Lanes32 lanes32(const char* at) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i fromZero = _mm256_sub_epi8(v, _mm256_set1_epi8('0'));
    const __m256i digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(fromZero, _mm256_set1_epi8(9)), fromZero);
    return {static_cast<std::uint32_t>(_mm256_movemask_epi8(digit)),
            static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('.')))),
            static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(':'))))};
}

__attribute__((target("avx2"))) void classifyAvx2(const char* text, std::size_t size,
                                                  ByteMasks* masks) noexcept {
    std::size_t w = 0;
    // Whole words without a test per step; the last, partial one below.
    for (; (w + 1) * 64 <= size; ++w) {
        const Lanes32 a = lanes32(text + w * 64), b = lanes32(text + w * 64 + 32);
        masks[w] = {std::uint64_t{a.digits} | std::uint64_t{b.digits} << 32,
                    std::uint64_t{a.dots} | std::uint64_t{b.dots} << 32,
                    std::uint64_t{a.colons} | std::uint64_t{b.colons} << 32};
    }
    if (w * 64 < size) {
        ByteMasks m;
        for (unsigned part = 0; part < 2; ++part) {
            const std::size_t at = w * 64 + part * 32;
            if (at >= size) break;
            Lanes32 l;
            if (at + 32 <= size) {
                l = lanes32(text + at);
            } else if (size >= 32) {
                // As lanesFrom: the line's last 32 bytes, those before `at` shifted out.
                const unsigned shift = static_cast<unsigned>(at + 32 - size);
                l = lanes32(text + size - 32);
                l = {l.digits >> shift, l.dots >> shift, l.colons >> shift};
            } else {
                const Lanes16 low = lanesFrom(text, at, size);
                const Lanes16 high =
                    at + 16 < size ? lanesFrom(text, at + 16, size) : Lanes16{0, 0, 0};
                l = {low.digits | high.digits << 16, low.dots | high.dots << 16,
                     low.colons | high.colons << 16};
            }
            m.digits |= std::uint64_t{l.digits} << (part * 32);
            m.dots |= std::uint64_t{l.dots} << (part * 32);
            m.colons |= std::uint64_t{l.colons} << (part * 32);
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
