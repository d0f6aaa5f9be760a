#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/byte_classes.h"
#include "analysis/port_text.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

// One IPv6 address found in a line of free text. The texts are valid only
// during the callback that receives them.
struct FoundAddress6 {
    std::string_view text;      // the address as written, without brackets or zone
    std::string_view portText;  // empty, ":" alone, or ":" and one to five digits
    std::uint64_t high = 0;     // the first 64 bits as written
    std::uint64_t low = 0;      // the last 64 bits
    std::uint64_t start = 0;    // offset of the address's first character in its line
    bool zoned = false;         // written with a zone ("fe80::1%eth0"): link-local, no country
};

namespace detail6 {

enum CharClass : std::uint8_t {
    kHex = 1,     // 0-9, a-f, A-F: may belong to an address
    kColon = 2,   // may belong to an address
    kLetter = 4,  // g-z, G-Z and "_": glued to a run, they make it a word
    kDigit = 8    // also kHex
};

constexpr std::array<std::uint8_t, 256> makeClasses() {
    std::array<std::uint8_t, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = kHex | kDigit;
    for (int c = 'a'; c <= 'z'; ++c) {
        const std::uint8_t cls = c <= 'f' ? kHex : kLetter;
        table[static_cast<std::size_t>(c)] = cls;
        table[static_cast<std::size_t>(c - 'a' + 'A')] = cls;
    }
    table['_'] = kLetter;
    table[':'] = kColon;
    return table;
}
inline constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

inline std::uint8_t classOf(char c) noexcept { return kClasses[static_cast<unsigned char>(c)]; }
inline bool inRun(char c) noexcept { return (classOf(c) & (kHex | kColon)) != 0; }
// Letters, digits and "_": what continues a word.
inline bool isWord(char c) noexcept { return (classOf(c) & (kHex | kLetter)) != 0; }

// The longest address a run can hold, which has no dotted tail: eight groups
// of four digits and seven colons. One more for a sentence's final colon.
inline constexpr std::size_t kMaxAddressText = 39;
inline constexpr std::size_t kMaxRun = kMaxAddressText + 1;

// The value of a run of at most kMaxAddressText characters that is an
// address; false for any other run.
bool parse(const char* text, std::size_t length, std::uint64_t& high, std::uint64_t& low) noexcept;

// Whether a line may hold an address at all. Every address the scan reports
// is a run with "::" or seven colons, so a line without "::" and with fewer
// than seven colons holds none: most lines of most logs (a timestamp has two
// colons, "sshd[811]: " one), which are passed over in one quick look.
// Called for every line: inline, as the scan around it is.
inline bool mayHoldAddress(std::string_view line) noexcept {
    const char* const text = line.data();
    const std::size_t size = line.size();
#ifdef __SSE2__
    if (size > 16) {
        // Sixteen bytes a step without a branch: each byte compared, and
        // with the byte before it for "::"; colons counted per lane.
        const __m128i colon = _mm_set1_epi8(':');
        const __m128i zero = _mm_setzero_si128();
        // 0xFF in each lane whose byte is a colon, 0 elsewhere.
        const auto colonsAt = [&](std::size_t at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)),
                                  colon);
        };
        __m128i pairs = zero, counts = zero, sums = zero;
        const auto step = [&](std::size_t at, __m128i lanes) {
            const __m128i here = _mm_and_si128(colonsAt(at), lanes);
            // The same bytes loaded one place earlier: a lane set in both is "::".
            pairs = _mm_or_si128(pairs, _mm_and_si128(here, colonsAt(at - 1)));
            // A colon's lane is -1 (0xFF): subtracting it adds one to that lane's count.
            counts = _mm_sub_epi8(counts, here);
        };
        const __m128i all = _mm_set1_epi8(-1);
        std::size_t i = 1;  // the first byte has no byte before it: counted below
        for (int run = 0; i + 16 <= size; i += 16) {
            step(i, all);
            // A lane's count must not pass 255.
            if (++run == 255) {
                // The absolute differences from zero are the counts themselves,
                // summed eight bytes to a 64-bit lane: the counts made wide.
                sums = _mm_add_epi64(sums, _mm_sad_epu8(counts, zero));
                counts = zero;
                run = 0;
            }
        }
        // The rest as the end of the last full block, less the lanes looked at:
        // loaded from kLastLanes + n, the mask keeps the last n lanes.
        if (i < size) {
            alignas(16) static constexpr unsigned char kLastLanes[32] = {
                0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            step(size - 16,
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLastLanes + (size - i))));
        }
        if (_mm_movemask_epi8(pairs) != 0) return true;          // any lane with "::"
        sums = _mm_add_epi64(sums, _mm_sad_epu8(counts, zero));  // as in the loop
        alignas(16) std::uint64_t halves[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(halves), sums);
        return halves[0] + halves[1] + (text[0] == ':' ? 1 : 0) >= 7;
    }
#endif
    std::size_t colons = 0;
    bool previousColon = false;
    for (std::size_t i = 0; i < size; ++i) {
        const bool isColon = text[i] == ':';
        if (isColon && previousColon) return true;
        colons += isColon ? 1 : 0;
        previousColon = isColon;
    }
    return colons >= 7;
}

// Where the run through the colon at `colon` ends, when all of it lies in
// text[0, size) and it cannot hold an address: fewer than seven colons and no
// "::" (times, "host:port", "key:value") or more than nine (MAC addresses,
// which have thirteen with their EtherType). 0 when the run may hold one.
// The digits before the colon hold none, so the colons from it on are all.
inline std::size_t endOfHopelessRun(const char* text, std::size_t colon,
                                    std::size_t size) noexcept {
    std::size_t colons = 1;
    bool compressed = false;
    std::size_t pos = colon + 1;
    for (; pos < size && inRun(text[pos]); ++pos) {
        if (text[pos] == ':') {
            ++colons;
            compressed = compressed || text[pos - 1] == ':';
        }
    }
    if (pos == size) return 0;  // the run may go on in the next piece
    return (!compressed && colons < 7) || colons > 9 ? pos : 0;
}

}  // namespace detail6

// Finds the IPv6 addresses of a line of free text, fed in pieces.
//
// An address is looked for in each run: a longest stretch of hexadecimal
// digits (either case) and colons. A run is never split or searched inside,
// so the characters around it bound the address:
//  - The run is the address when inet_pton reads it (every RFC 4291 form:
//    "::" compression, one to four digits per group, leading zeros, any
//    case). A run that fails but ends in a colon is read once more without
//    that colon, which then ended a sentence ("from 2001:db8::1: refused").
//    An address needs at least one digit: "::" and ":::" alone are none.
//  - Before the run, a letter g-z, "_", "%" or "]" makes it no address, and
//    so does a "." that has a letter, digit or "_" before it: `std::`,
//    `foo::bar`, `key:2001:db8::1` and `v1.2::3` are words, not addresses.
//  - After the run, a letter g-z or "_" makes it no address, and so does a
//    "." with a letter, digit or "_" after it: "::ffff:192.0.2.1" is written
//    with a dotted IPv4 tail and is that IPv4 address, which the IPv4 scan
//    finds, so it is counted once. A "." that ends the line or stands before
//    a blank or punctuation ends a sentence and leaves the address whole.
//  - "%" and a letter, digit or "_" after the run is a zone ("fe80::1%eth0"):
//    the address is link-local, has no country, and is reported `zoned`.
//  - "[" before the run and "]" right after it is the bracketed form; a ":"
//    directly after the "]" starts the port: up to five digits behind it
//    (ports reach 65535; a longer number gives its first five), ":" alone
//    when the colon ends the line, no port when another character follows
//    it, as after an IPv4 address. Only the bracketed form takes a port:
//    any other colon after an address would belong to its run.
//  - Times ("13:06:56"), MAC addresses ("00:1a:2b:3c:4d:5e") and other runs
//    that inet_pton refuses give nothing; nor do runs longer than any
//    address (40 characters with a final colon), which are not held.
//
// Addresses are reported in the order of their first characters, each as
// soon as the characters after it decide it, so memory stays bounded: the
// scanner holds one run of at most 40 characters and the few characters
// before it.
class Ipv6Scanner {
public:
    // More of the current line; the pieces of one line are contiguous.
    template <class OnAddress>
    void feed(std::string_view piece, OnAddress&& onAddress) {
        const char* const text = piece.data();
        const std::size_t size = piece.size();
        std::size_t pos = 0;
        while (pos < size) {
            if (m_state == State::Idle) {
                const std::size_t colon = nextColon(text, pos, size);
                if (colon == size) break;
                pos = colon + 1;
                // Most colons in logs end a run with the only colon it has
                // ("sshd[811]: ", "AH01114: "): no address, nothing to hold.
                if (pos < size && !detail6::inRun(text[pos])) continue;
                // Most of the rest are times and MAC addresses: walked past
                // without holding anything.
                if (const std::size_t end = m_masks != nullptr
                                                ? hopelessRunEnd(colon, size)
                                                : detail6::endOfHopelessRun(text, colon, size)) {
                    pos = end;
                    continue;
                }
                beginRun(text, colon);
            }
            if (m_state == State::InRun) {
                // The rest of the run in this piece at once.
                std::size_t end = pos;
                while (end < size && detail6::inRun(text[end])) ++end;
                const std::size_t length = end - pos;
                if (m_runLength + length > detail6::kMaxRun) m_dead = true;
                if (!m_dead) {
                    std::memcpy(m_run + m_runLength, text + pos, length);
                    m_runLength += length;
                }
                pos = end;
                if (pos == size) break;
            }
            if (step(text[pos], onAddress)) ++pos;
        }
        remember(piece);
    }

    // The line ended after the pieces fed so far.
    template <class OnAddress>
    void endLine(OnAddress&& onAddress) {
        switch (m_state) {
            case State::Idle:
            case State::SkipRun:
                break;
            case State::InRun:
                if (!m_dead && m_runLength > 0) decide(kEnd, onAddress);
                break;
            case State::AfterDot:
            case State::AfterPercent:
            case State::AfterBracket:
                report(std::string_view(), onAddress);
                break;
            case State::InPort:
                // A colon that ends the line is a port of its own, as after IPv4.
                report(std::string_view(m_port, m_portLength), onAddress);
                break;
        }
        m_state = State::Idle;
        m_fed = 0;
        m_tailLength = 0;
    }

    // A whole line, none of it fed before.
    template <class OnAddress>
    void scanLine(std::string_view line, OnAddress&& onAddress) {
        if (m_fed == 0 && !detail6::mayHoldAddress(line)) return;
        feed(line, onAddress);
        endLine(onAddress);
    }

    // A whole line, none of it fed before, whose bytes are classified
    // already (`masks` as classifyBytes gives them).
    template <class OnAddress>
    void scanLine(std::string_view line, const ByteMasks* masks, OnAddress&& onAddress) {
        if (!mayHoldIpv6(masks, line.size())) return;
        // The line is fed as one piece: its colons and runs are read from the masks.
        m_masks = masks;
        feed(line, onAddress);
        m_masks = nullptr;
        endLine(onAddress);
    }

private:
    enum class State : std::uint8_t {
        Idle,
        InRun,
        AfterDot,
        AfterPercent,
        AfterBracket,
        InPort,
        SkipRun
    };
    static constexpr int kEnd = -1;  // "the line ended" where a character is expected

    // The first colon of text[from, size), or `size`: from the line's masks
    // when it is scanned whole, else searched.
    std::size_t nextColon(const char* text, std::size_t from, std::size_t size) const noexcept {
        if (m_masks == nullptr) {
            const void* hit = std::memchr(text + from, ':', size - from);
            return hit == nullptr ? size
                                  : static_cast<std::size_t>(static_cast<const char*>(hit) - text);
        }
        std::size_t word = from / 64;
        std::uint64_t bits = m_masks[word].colons & (~std::uint64_t{0} << (from % 64));
        const std::size_t words = maskWords(size);
        while (bits == 0) {
            if (++word >= words) return size;
            bits = m_masks[word].colons;
        }
        return word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
    }

    // detail6::endOfHopelessRun from the line's masks: the run's end found
    // and its colons counted a word at a time.
    std::size_t hopelessRunEnd(std::size_t colon, std::size_t size) const noexcept {
        if (colon + 1 >= size) return 0;
        const std::size_t words = maskWords(size);
        const std::uint64_t all = ~std::uint64_t{0};
        std::size_t word = (colon + 1) / 64;
        std::uint64_t outside = ~m_masks[word].runs & (all << ((colon + 1) % 64));
        while (outside == 0) {
            if (++word >= words) return 0;
            outside = ~m_masks[word].runs;
        }
        // Bytes past the line are outside every run: a run to the line's end may go on.
        const std::size_t end = word * 64 + static_cast<std::size_t>(__builtin_ctzll(outside));
        if (end >= size) return 0;
        unsigned colons = 0;  // of [colon, end), counted up to ten
        bool compressed = false;
        for (std::size_t w = colon / 64; w * 64 < end; ++w) {
            std::uint64_t here = m_masks[w].colons;
            if (w == colon / 64) here &= all << (colon % 64);
            if (w == end / 64) here &= (std::uint64_t{1} << (end % 64)) - 1;
            // A colon with a colon right before it, the run's first colon aside.
            std::uint64_t second =
                here & ((m_masks[w].colons << 1) | (w > 0 ? m_masks[w - 1].colons >> 63 : 0));
            if (w == colon / 64) second &= ~(std::uint64_t{1} << (colon % 64));
            compressed = compressed || second != 0;
            for (; here != 0 && colons < 10; here &= here - 1) ++colons;
        }
        return (!compressed && colons < 7) || colons > 9 ? end : 0;
    }

    // The character `back` places before offset `at` of the piece, from the
    // piece or the carried end of the earlier pieces; kEnd before the line.
    int before(const char* text, std::size_t at, std::size_t back) const noexcept;

    // A colon outside any run: the run holds it and the hex digits right before it.
    void beginRun(const char* text, std::size_t colon);

    // One character after the start of a run; false when the character is a
    // colon that may begin the next run and must be looked at again, idle.
    template <class OnAddress>
    bool step(char c, OnAddress& onAddress) {
        switch (m_state) {
            case State::Idle:
                break;
            case State::InRun:  // `feed` holds the run's own characters; `c` ends it
                m_state = State::Idle;
                if (!m_dead) decide(static_cast<unsigned char>(c), onAddress);
                break;
            case State::AfterDot:
                m_state = State::Idle;
                if (!detail6::isWord(c)) report(std::string_view(), onAddress);
                return c != ':';
            case State::AfterPercent:
                m_state = State::Idle;
                m_zoned = detail6::isWord(c);
                report(std::string_view(), onAddress);
                return c != ':';
            case State::AfterBracket:
                if (c == ':') {
                    m_state = State::InPort;
                    m_port[0] = ':';
                    m_portLength = 1;
                    return true;
                }
                m_state = State::Idle;
                report(std::string_view(), onAddress);
                break;
            case State::InPort:
                if ((detail6::classOf(c) & detail6::kDigit) != 0 && m_portLength < kPortText) {
                    m_port[m_portLength++] = c;
                    if (m_portLength < kPortText) return true;
                    report(std::string_view(m_port, m_portLength), onAddress);
                    m_state = State::SkipRun;  // the rest of the port's run is no address
                    return true;
                }
                report(
                    m_portLength > 1 ? std::string_view(m_port, m_portLength) : std::string_view(),
                    onAddress);
                m_state = detail6::inRun(c) ? State::SkipRun : State::Idle;
                break;
            case State::SkipRun:
                if (!detail6::inRun(c)) m_state = State::Idle;
                break;
        }
        return true;
    }

    // The run has ended; `after` is the character that ended it (or kEnd).
    template <class OnAddress>
    void decide(int after, OnAddress& onAddress) {
        m_zoned = false;
        if (!detail6::parse(m_run, m_runLength, m_high, m_low)) {
            if (m_run[m_runLength - 1] != ':' ||
                !detail6::parse(m_run, m_runLength - 1, m_high, m_low))
                return;
            --m_runLength;
            m_bracketed = false;  // the bracket must close the run itself
        }
        bool hasDigit = false;
        for (std::size_t i = 0; i < m_runLength && !hasDigit; ++i) hasDigit = m_run[i] != ':';
        if (!hasDigit) return;
        if (after == kEnd) {
            report(std::string_view(), onAddress);
            return;
        }
        const char c = static_cast<char>(after);
        if ((detail6::classOf(c) & detail6::kLetter) != 0) return;
        if (c == '.')
            m_state = State::AfterDot;
        else if (c == '%')
            m_state = State::AfterPercent;
        else if (c == ']' && m_bracketed)
            m_state = State::AfterBracket;
        else
            report(std::string_view(), onAddress);
    }

    template <class OnAddress>
    void report(std::string_view port, OnAddress& onAddress) {
        FoundAddress6 found;
        found.text = std::string_view(m_run, m_runLength);
        found.portText = port;
        found.high = m_high;
        found.low = m_low;
        found.start = m_start;
        found.zoned = m_zoned;
        m_zoned = false;
        onAddress(std::as_const(found));
    }

    // Keeps the last characters of the line for a run that begins in one piece
    // and reaches its first colon in a later one.
    void remember(std::string_view piece) {
        if (piece.empty()) return;  // its data() may be null, which memcpy must not see
        if (piece.size() >= kLookBehind) {
            std::memcpy(m_tail, piece.data() + piece.size() - kLookBehind, kLookBehind);
            m_tailLength = kLookBehind;
        } else {
            const std::size_t keep = m_tailLength + piece.size() > kLookBehind
                                         ? kLookBehind - piece.size()
                                         : m_tailLength;
            std::memmove(m_tail, m_tail + m_tailLength - keep, keep);
            std::memcpy(m_tail + keep, piece.data(), piece.size());
            m_tailLength = keep + piece.size();
        }
        m_fed += piece.size();
    }

    // What a run's start looks back at: four digits before a colon, a "."
    // and the character before that.
    static constexpr std::size_t kLookBehind = 6;

    State m_state = State::Idle;
    bool m_dead = false;       // the current run can no longer be an address
    bool m_bracketed = false;  // "[" stands right before the current run
    bool m_zoned = false;
    char m_run[detail6::kMaxRun];
    std::size_t m_runLength = 0;
    static constexpr std::size_t kPortText = 1 + kMaxPortDigits;  // the colon and the digits
    char m_port[kPortText];
    std::size_t m_portLength = 0;
    std::uint64_t m_start = 0;
    std::uint64_t m_high = 0;
    std::uint64_t m_low = 0;
    char m_tail[kLookBehind];
    std::size_t m_tailLength = 0;
    std::uint64_t m_fed = 0;             // characters of the line fed before the current piece
    const ByteMasks* m_masks = nullptr;  // the masks of a line scanned whole, while it is fed
};

// A whole line at once; for tests and tools.
template <class OnAddress>
void scanLine6(std::string_view line, OnAddress&& onAddress) {
    Ipv6Scanner scanner;
    scanner.scanLine(line, onAddress);
}

}  // namespace ipcountry::analysis
