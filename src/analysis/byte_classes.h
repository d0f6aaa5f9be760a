#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ipcountry::analysis {

// The bytes of a line that an address can be made of, one bit per byte:
// bit i of word w stands for text[64 * w + i]. Bytes past the line's end
// are none of these.
struct ByteMasks {
    std::uint64_t digits = 0;  // '0' to '9'
    std::uint64_t dots = 0;    // '.'
    std::uint64_t colons = 0;  // ':'
    std::uint64_t runs = 0;    // what an IPv6 run is made of: hex digits (either case) and ':'
};

// How the bytes are classified: the same masks on every path, only the
// width of a step differs.
enum class ClassifyPath : std::uint8_t {
    Portable,  // a byte at a time, any CPU
    Sse2,      // sixteen bytes a step
    Avx2       // thirty-two bytes a step, where the CPU has it
};

// Whether this build and this CPU have `path`.
bool classifyPathAvailable(ClassifyPath path) noexcept;
// The path in use: the widest available unless one was chosen.
ClassifyPath classifyPath() noexcept;
// Every later classification takes `path` (which must be available); for
// tests and benchmarks that compare the paths.
void useClassifyPath(ClassifyPath path) noexcept;

// The masks of text[0, size) into masks[0, maskWords(size)).
void classifyBytes(const char* text, std::size_t size, ByteMasks* masks) noexcept;

inline constexpr std::size_t maskWords(std::size_t size) noexcept { return (size + 63) / 64; }

// A line's masks, kept for their capacity from line to line.
class LineClasses {
public:
    const ByteMasks* classify(const char* text, std::size_t size) {
        const std::size_t words = maskWords(size);
        if (m_masks.size() < words) m_masks.resize(words);
        classifyBytes(text, size, m_masks.data());
        return m_masks.data();
    }

private:
    std::vector<ByteMasks> m_masks;
};

// The lines that may hold an IPv6 address are those with "::" or at least
// seven colons (see Ipv6Scanner); the same question answered from the masks.
inline bool mayHoldIpv6(const ByteMasks* masks, std::size_t size) noexcept {
    unsigned colons = 0;
    std::uint64_t carry = 0;  // the colon, if any, that ended the word before
    for (std::size_t w = 0, words = maskWords(size); w < words; ++w) {
        std::uint64_t c = masks[w].colons;
        if ((c & ((c << 1) | carry)) != 0) return true;
        carry = c >> 63;
        // Counted a colon at a time up to seven: most lines have two or
        // three, and a popcount call (no POPCNT in the baseline) costs more.
        for (; c != 0 && colons < 7; c &= c - 1) ++colons;
    }
    return colons >= 7;
}

}  // namespace ipcountry::analysis
