#include "analysis/ipv6_scanner.h"

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

}  // namespace ipcountry::analysis
