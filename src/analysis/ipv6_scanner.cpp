#include "analysis/ipv6_scanner.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>

#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

namespace detail6 {

// A run read as an address. Times and MAC addresses, the runs logs are full
// of, are turned away before the text is read by their colons: an address
// has seven, or at most eight with one "::".
bool parse(const char* text, std::size_t length, std::uint64_t& high, std::uint64_t& low) noexcept {
    if (length > kMaxAddressText) return false;
    std::size_t colons = 0;
    bool compressed = false;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == ':') {
            ++colons;
            compressed = compressed || (i > 0 && text[i - 1] == ':');
        }
    }
    if (compressed ? colons > 8 : colons != 7) return false;
    const std::optional<lookup::Address6> value =
        lookup::readIpv6Value(std::string_view(text, length));
    if (!value) return false;
    high = value->high;
    low = value->low;
    return true;
}

// Whether a line may hold an address at all. Every address the scan reports
// is a run with "::" or seven colons, so a line without "::" and with fewer
// than seven colons holds none: most lines of most logs (a timestamp has two
// colons, "sshd[811]: " one), which are passed over in one quick look.
bool mayHoldAddress(std::string_view line) noexcept {
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

}  // namespace detail6

// The character `back` places before offset `at` of the piece, from the
// piece or the carried end of the earlier pieces; kEnd before the line.
int Ipv6Scanner::before(const char* text, std::size_t at, std::size_t back) const noexcept {
    if (at >= back) return static_cast<unsigned char>(text[at - back]);
    const std::size_t intoTail = back - at;
    return intoTail <= m_tailLength ? static_cast<unsigned char>(m_tail[m_tailLength - intoTail])
                                    : kEnd;
}

// A colon outside any run: the run holds it and the hex digits right before it.
void Ipv6Scanner::beginRun(const char* text, std::size_t colon) {
    m_state = State::InRun;
    m_runLength = 0;
    // The characters before the colon: in this piece when there are
    // enough of them (the common case), else partly carried over.
    char window[kLookBehind];
    const char* p = text + colon;
    std::size_t known = kLookBehind;
    if (colon < kLookBehind) {
        known = std::min(kLookBehind, m_tailLength + colon);
        for (std::size_t back = 1; back <= known; ++back)
            window[kLookBehind - back] = static_cast<char>(before(text, colon, back));
        p = window + kLookBehind;
    }
    std::size_t digits = 0;
    while (digits < known && digits <= 4 &&
           (detail6::classOf(p[-1 - static_cast<std::ptrdiff_t>(digits)]) & detail6::kHex) != 0)
        ++digits;
    m_start = m_fed + colon - digits;
    // A group of five digits is never an address; the run is only followed to its end.
    m_dead = digits > 4;
    if (m_dead) return;
    std::memcpy(m_run, p - digits, digits);
    m_runLength = digits;
    m_run[m_runLength++] = ':';
    const char c1 = digits < known ? p[-1 - static_cast<std::ptrdiff_t>(digits)] : '\0';
    const char c2 = digits + 1 < known ? p[-2 - static_cast<std::ptrdiff_t>(digits)] : '\0';
    m_bracketed = c1 == '[';
    m_dead = (detail6::classOf(c1) & detail6::kLetter) != 0 || c1 == '%' || c1 == ']' ||
             (c1 == '.' && detail6::isWord(c2));
}

// Keeps the last characters of the line for a run that begins in one piece
// and reaches its first colon in a later one.
void Ipv6Scanner::remember(std::string_view piece) {
    if (piece.empty()) return;  // its data() may be null, which memcpy must not see
    if (piece.size() >= kLookBehind) {
        std::memcpy(m_tail, piece.data() + piece.size() - kLookBehind, kLookBehind);
        m_tailLength = kLookBehind;
    } else {
        const std::size_t keep =
            m_tailLength + piece.size() > kLookBehind ? kLookBehind - piece.size() : m_tailLength;
        std::memmove(m_tail, m_tail + m_tailLength - keep, keep);
        std::memcpy(m_tail + keep, piece.data(), piece.size());
        m_tailLength = keep + piece.size();
    }
    m_fed += piece.size();
}

}  // namespace ipcountry::analysis
