#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/byte_classes.h"
#include "analysis/port_text.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ipcountry::analysis {

// One address found in a line of free text. The texts are valid only while
// the callback runs: views into the piece fed, or into the scanner's own small
// buffer when the address spans two pieces.
struct FoundAddress {
    std::string_view dottedText;  // the address as written, leading zeros kept
    std::string_view portText;    // empty, ":" alone, or ":" and one to five digits
    std::uint32_t address = 0;    // the four octets, most significant first
    std::uint64_t start = 0;      // offset of the address's first character in its line
};

namespace detail {

inline bool isDigit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

// The octet test: one to three digits whose value is at most 255 (leading
// zeros allowed). Returns the value, or -1 when the candidate fails.
inline int octetValue(const char* text, std::size_t length) noexcept {
    int value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (!isDigit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return length != 0 && value <= 255 ? value : -1;
}

// The octet that ends right before text[dot]: of the digits standing there
// (at most three), the widest run that reads as an octet, as octetValue tried
// on widths 3, 2 and 1 would find it; its width in `width`. -1 when no digit
// stands before the dot. Every dot of a line comes here: the digits are read
// once each, without a loop.
inline int octetBefore(const char* text, std::size_t dot, std::size_t& width) noexcept {
    const auto digitAt = [&](std::size_t back) -> unsigned {
        return dot >= back ? static_cast<unsigned char>(text[dot - back] - '0') : 10u;
    };
    const unsigned ones = digitAt(1);
    if (ones > 9) return -1;
    const unsigned tens = digitAt(2);
    if (tens > 9) {
        width = 1;
        return static_cast<int>(ones);
    }
    const unsigned hundreds = digitAt(3);
    const unsigned two = tens * 10 + ones;
    if (hundreds <= 9 && hundreds * 100 + two <= 255) {
        width = 3;
        return static_cast<int>(hundreds * 100 + two);
    }
    width = 2;
    return static_cast<int>(two);
}

// The first `c` in text[from, size), or `size`. Dots stand a few characters
// apart in most lines: looked for inline, sixteen bytes a step, they cost less
// than a library call each.
inline std::size_t findByte(const char* text, std::size_t from, std::size_t size, char c) noexcept {
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi8(c);  // `c` in all sixteen lanes
    for (; from + 16 <= size; from += 16) {
        // Unaligned: the search starts wherever the last dot left it.
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
        // One bit per byte that equals `c`; the lowest set bit is the first hit.
        const unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle)));
        if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; from < size; ++from)
        if (text[from] == c) return from;
    return size;
}

}  // namespace detail

// Finds the addresses of a line, fed in pieces, and hands each to
// `onAddress(const FoundAddress&)`, in the order of their third dots.
//
// The scan walks from dot to dot. Before each of the first three dots it takes
// the widest run of 3, 2 or 1 characters ending at the dot that reads as an
// octet: of a longer run of digits that means the digits nearest the dot
// (999.1.1.1 gives 99.1.1.1). The octets of one address must stand next to
// each other, each beginning right after the previous dot: otherwise an
// earlier dot on the line ("HTTP/1.1 ... 10.1.2.3", a timestamp's fraction)
// would lend its digits to the address. An octet that does not continue the
// address starts a new one. After the third dot the fourth octet is the widest
// of 3, 2, 1 characters that passes; a port follows when a colon stands
// directly after it or one character later, and is the run of up to five
// digits behind that colon (ports reach 65535). After an address the search
// goes on right after its third dot, so its fourth octet may begin the next.
//
// Since the scan only ever looks three characters before a dot and ten after
// a third dot, a line of any length streams through: the scanner keeps the
// few last characters of a piece that a later dot may still need, never more
// than kHeld, and answers exactly as for the whole line at once. An address
// is reported at the latest once the first 64 characters after its start have
// been fed.
class Ipv4Scanner {
public:
    // More of the current line.
    template <class OnAddress>
    void feed(std::string_view piece, OnAddress&& onAddress) {
        if (piece.empty()) return;
        if (m_fed == 0) {
            // The first piece of a line: scanned where it lies.
            scanPiece(piece.data(), piece.size(), 0, onAddress);
            m_fed = piece.size();
            return;
        }
        // The held characters and the beginning of the piece, joined: every
        // dot whose octets or address started before the piece is decided
        // here, and beyond kJoin the piece holds all that its dots look at.
        const std::size_t joined = piece.size() < kJoin ? piece.size() : kJoin;
        std::memcpy(m_join, m_held, m_heldSize);
        std::memcpy(m_join + m_heldSize, piece.data(), joined);
        const std::uint64_t joinBase = m_fed - m_heldSize;
        const std::size_t resume =
            scan(m_join, m_heldSize + joined, joinBase,
                 static_cast<std::size_t>(m_resume - joinBase), false, onAddress);
        if (joined == piece.size()) {
            m_fed += piece.size();
            hold(m_join, m_heldSize + joined, joinBase, resume);
            return;
        }
        m_resume = joinBase + resume;
        scanPiece(piece.data(), piece.size(), m_fed, onAddress);
        m_fed += piece.size();
    }

    // The line ended after the pieces fed so far.
    template <class OnAddress>
    void endLine(OnAddress&& onAddress) {
        if (m_heldSize > 0) {
            const std::uint64_t base = m_fed - m_heldSize;
            scan(m_held, m_heldSize, base, static_cast<std::size_t>(m_resume - base), true,
                 onAddress);
        }
        m_gathered = 0;
        m_resume = m_fed = 0;
        m_heldSize = 0;
    }

    // A whole line: feed() and endLine() in one, without holding anything.
    template <class OnAddress>
    void scanLine(std::string_view line, OnAddress&& onAddress) {
        if (m_fed == 0) {
            scanClassified(line.data(), line.size(), m_classes.classify(line.data(), line.size()),
                           onAddress);
            return;
        }
        feed(line, onAddress);
        endLine(onAddress);
    }

    // A whole line, none of it fed before, whose bytes are classified
    // already (`masks` as classifyBytes gives them): scanLine without
    // classifying again.
    template <class OnAddress>
    void scanLine(std::string_view line, const ByteMasks* masks, OnAddress&& onAddress) {
        scanClassified(line.data(), line.size(), masks, onAddress);
    }

    // The most characters held between two pieces.
    static constexpr std::size_t kHeld = 32;

private:
    static constexpr std::size_t kJoin = 64;
    // What a third dot needs after it: a fourth octet of three, a colon at
    // most two further and five digits of port.
    static constexpr std::size_t kLookahead = 10;

    template <class OnAddress>
    void scanPiece(const char* text, std::size_t size, std::uint64_t base, OnAddress& onAddress) {
        const std::size_t from = m_resume > base ? static_cast<std::size_t>(m_resume - base) : 0;
        const std::size_t resume = scan(text, size, base, from, false, onAddress);
        hold(text, size, base, resume);
    }

    // Keeps what the dots from `resume` on may still look at: the three
    // characters before the next dot and the address gathered so far.
    void hold(const char* text, std::size_t size, std::uint64_t base, std::size_t resume);

    // The address being built between two dots.
    struct Gathering {
        int gathered = 0;  // octets of the address being built (0 to 2)
        std::uint64_t start = 0;
        std::uint64_t previousDot = 0;  // the dot after its last octet
        std::uint32_t address = 0;
    };

    // Scans the dots of text[from, size), where text[0] stands at `base` in
    // the line. Returns where the next search begins: `size`, or, when the
    // line goes on beyond `size`, a third dot whose fourth octet and port are
    // not all there yet.
    template <class OnAddress>
    std::size_t scan(const char* text, std::size_t size, std::uint64_t base, std::size_t from,
                     bool lineEnds, OnAddress& onAddress) {
        Gathering g{m_gathered, m_start, m_previousDot, m_address};
        std::size_t scanPos = from;
        while (scanPos < size) {
            const std::size_t dot = detail::findByte(text, scanPos, size, '.');
            if (dot == size) {
                scanPos = size;
                break;
            }
            if (!takeDot(text, size, base, dot, lineEnds, g, onAddress)) {
                scanPos = dot;  // decided once more of the line is there
                break;
            }
            scanPos = dot + 1;
        }
        m_gathered = g.gathered;
        m_start = g.start;
        m_previousDot = g.previousDot;
        m_address = g.address;
        return scanPos;
    }

    // A whole line, with its bytes classified, visiting only the dots that
    // can take part in an address. An address needs three dots, each with a
    // digit on both sides, the second two to four bytes after the first and
    // the third two to four after the second. Only the first dots of such
    // chains, and the dots up to eight bytes after each (where the second
    // and third stand), are given to takeDot, in order; the dots skipped
    // give no address, and an address's octets touch each other, so a
    // skipped dot could only have ended an address that a visited dot
    // restarts anyway: the addresses are exactly those of scan().
    template <class OnAddress>
    void scanClassified(const char* text, std::size_t size, const ByteMasks* masks,
                        OnAddress& onAddress) {
        Gathering g;
        const std::size_t words = maskWords(size);
        std::uint64_t digitsBefore = 0;  // the word before's digits
        std::uint64_t firstsBefore = 0;  // the word before's first dots
        for (std::size_t w = 0; w < words; ++w) {
            const ByteMasks& here = masks[w];
            const ByteMasks next = w + 1 < words ? masks[w + 1] : ByteMasks{};
            // A word without a dot between digits, after a word without a
            // first dot near its end, has nothing to visit: most words.
            if ((firstsBefore >> 56) == 0 &&
                (here.dots & ((here.digits << 1) | (digitsBefore >> 63)) &
                 ((here.digits >> 1) | (next.digits << 63))) == 0) {
                digitsBefore = here.digits;
                firstsBefore = 0;
                continue;
            }
            // Dots with a digit right before and right after them, in this
            // word and the next (whose last bit, which would need the word
            // after, is never looked at).
            const std::uint64_t linked0 = here.dots & ((here.digits << 1) | (digitsBefore >> 63)) &
                                          ((here.digits >> 1) | (next.digits << 63));
            const std::uint64_t linked1 =
                next.dots & ((next.digits << 1) | (here.digits >> 63)) & (next.digits >> 1);
            // Of those, the ones with another two to four bytes later, twice.
            const Bits128 linked{linked0, linked1};
            const Bits128 seconds = linked & (linked.down(2) | linked.down(3) | linked.down(4));
            const std::uint64_t firsts =
                (seconds & (seconds.down(2) | seconds.down(3) | seconds.down(4))).low;
            // Every dot from a first dot to eight bytes after it, the first
            // dots of the word before included.
            const Bits128 from{firstsBefore, firsts};
            Bits128 reach = from | from.up(1);
            reach = reach | reach.up(2);
            reach = reach | reach.up(4) | from.up(8);
            std::uint64_t visit = here.dots & reach.high;
            while (visit != 0) {
                const std::size_t dot = w * 64 + static_cast<std::size_t>(__builtin_ctzll(visit));
                visit &= visit - 1;
                takeDot(text, size, 0, dot, true, g, onAddress);
            }
            digitsBefore = here.digits;
            firstsBefore = firsts;
        }
    }

    // 128 bits as two words, low first; enough of shifting for scanClassified.
    struct Bits128 {
        std::uint64_t low, high;
        // Shifted towards bit 0 by 0 < n < 64.
        Bits128 down(unsigned n) const noexcept {
            return {(low >> n) | (high << (64 - n)), high >> n};
        }
        // Shifted away from bit 0 by 0 < n < 64.
        Bits128 up(unsigned n) const noexcept {
            return {low << n, (high << n) | (low >> (64 - n))};
        }
        Bits128 operator|(Bits128 o) const noexcept { return {low | o.low, high | o.high}; }
        Bits128 operator&(Bits128 o) const noexcept { return {low & o.low, high & o.high}; }
    };

    // The dot at text[dot] given to the address being built `g`. False when
    // it is a third dot whose fourth octet and port are not all there yet.
    template <class OnAddress>
    bool takeDot(const char* text, std::size_t size, std::uint64_t base, std::size_t dot,
                 bool lineEnds, Gathering& g, OnAddress& onAddress) {
        // The octet before the dot: widest candidate first; where fewer
        // characters stand before the dot than the width, that width fails.
        std::size_t width = 0;
        const int value = detail::octetBefore(text, dot, width);
        if (value < 0) {
            g.gathered = 0;
            return true;
        }
        const std::uint64_t octetStart = base + dot - width;
        if (g.gathered > 0 && octetStart != g.previousDot + 1) g.gathered = 0;
        if (g.gathered == 2 && !lineEnds && size - dot - 1 < kLookahead) return false;
        if (g.gathered == 0) {
            g.start = octetStart;
            g.address = 0;
        }
        g.address = (g.address << 8) | static_cast<std::uint32_t>(value);
        g.previousDot = base + dot;
        if (++g.gathered < 3) return true;

        // Three octets: the fourth begins right after this (third) dot. Near
        // the line's end the candidates are shorter; an empty one (the dot
        // ends the line) fails like any other.
        g.gathered = 0;
        const std::size_t rest = size - dot - 1;
        int fourth = -1;
        std::size_t fourthWidth = 3;
        for (; fourthWidth >= 1; --fourthWidth) {
            const std::size_t length = fourthWidth < rest ? fourthWidth : rest;
            if ((fourth = detail::octetValue(text + dot + 1, length)) >= 0) break;
        }
        if (fourth < 0) return true;
        const std::size_t octetEnd = dot + 1 + (fourthWidth < rest ? fourthWidth : rest);

        // The port: a colon right after the fourth octet or one character
        // later. The colon is searched from the fourth octet's last position
        // of its accepted width; that octet holds digits, so the colon can
        // only be one or two places beyond it.
        std::string_view port;
        const std::size_t portFrom = dot + fourthWidth;  // last position of the accepted width
        for (std::size_t offset = 1; offset <= 2; ++offset) {
            const std::size_t colon = portFrom + offset;
            if (colon >= size) break;
            if (text[colon] != ':') continue;
            port = portAt(std::string_view(text + colon, size - colon));
            break;
        }

        FoundAddress found;
        const std::size_t first = static_cast<std::size_t>(g.start - base);
        found.dottedText = std::string_view(text + first, octetEnd - first);
        found.portText = port;
        found.address = (g.address << 8) | static_cast<std::uint32_t>(fourth);
        found.start = g.start;
        onAddress(std::as_const(found));
        return true;
    }

    int m_gathered = 0;
    std::uint64_t m_start = 0;        // where the address being built begins
    std::uint64_t m_previousDot = 0;  // the dot after its last octet
    std::uint32_t m_address = 0;
    std::uint64_t m_resume = 0;  // where the search for the next dot begins
    std::uint64_t m_fed = 0;     // characters of the line fed so far
    std::size_t m_heldSize = 0;  // m_held is the line's [m_fed - m_heldSize, m_fed)
    char m_held[kHeld];
    char m_join[kHeld + kJoin];
    LineClasses m_classes;
};

// A whole line at once.
template <class OnAddress>
void scanLine(std::string_view line, OnAddress&& onAddress) {
    Ipv4Scanner scanner;
    scanner.scanLine(line, onAddress);
}

// The same, collected; for tests and tools. The texts are views into `line`.
std::vector<FoundAddress> scanLine(std::string_view line);

}  // namespace ipcountry::analysis
