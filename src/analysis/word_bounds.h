#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "analysis/both_families_scanner.h"
#include "analysis/ipv4_scanner.h"
#include "analysis/ipv6_scanner.h"

namespace ipcountry::analysis {

// The driver's rule that an address found in free text stands as a word of
// its own (RowRules::wholeWords). The scanners find every address the window
// finds, cut out of longer names too; this rule then looks at the two bytes
// on each side of what was found and drops it when it is a piece of
// something longer:
//  - IPv4: a letter, digit or "_" right before or after it (999.1.1.1,
//    GSA/3.2.1.25875, v1.2.3.4), or a "." with a letter, digit or "_" beyond
//    it on either side: a longer dotted number (q=0.96405.30.17.0.1) or a
//    dotted name (112.31.87.10.in-addr.arpa, dsl-059.45.101.203.example).
//  - IPv6 likewise, and also a ":" right before it, or a ":" right after it
//    followed by a hex digit or another ":": the address would be part of a
//    longer run of hex digits and colons.
// A "." after an address that ends the line or stands before a blank or
// punctuation ends a sentence; a ":" after an IPv4 address starts its port.
// Bytes of 0x80 and above (UTF-8) are neither letters nor digits here.
namespace word_bounds {

// A byte of the line, or kLineEnd beyond either end of it.
inline constexpr int kLineEnd = -1;

inline bool isWordByte(int c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool isHexOrColon(int c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':';
}

// Whether an IPv4 address with these bytes around it stands alone.
inline bool ipv4StandsAlone(int twoBefore, int before, int after, int twoAfter) noexcept {
    if (isWordByte(before) || isWordByte(after)) return false;
    if (before == '.' && isWordByte(twoBefore)) return false;
    return !(after == '.' && isWordByte(twoAfter));
}

// The same for an IPv6 address (its text without brackets and zone).
inline bool ipv6StandsAlone(int twoBefore, int before, int after, int twoAfter) noexcept {
    if (!ipv4StandsAlone(twoBefore, before, after, twoAfter)) return false;
    return before != ':' && !(after == ':' && isHexOrColon(twoAfter));
}

}  // namespace word_bounds

// The bytes around the addresses of the line being scanned, which comes in
// one piece or in several. Of the pieces before the current one it keeps the
// last kKept bytes: an address is handed on at most BothFamiliesScanner::kLag
// bytes after the end of the piece its first character stands in, so the two
// bytes before it are always among them, and the two after it are fed by then.
class LineNeighbours {
public:
    static constexpr std::size_t kKept = 2 * BothFamiliesScanner::kLag;

    // The next piece of the line (the first when `starts`), before it is scanned.
    void see(std::string_view piece, bool starts) noexcept {
        if (starts) {
            m_keptSize = 0;
            m_pieceBase = 0;
        } else {
            m_pieceBase += m_piece.size();
        }
        m_piece = piece;
    }

    // Keeps the end of the current piece for the addresses handed on while
    // the next ones are scanned; only needed when the line goes on.
    void keep() noexcept {
        const std::size_t size = m_piece.size();
        if (size >= kKept) {
            std::memcpy(m_kept, m_piece.data() + (size - kKept), kKept);
            m_keptSize = kKept;
            return;
        }
        const std::size_t stay = std::min(m_keptSize, kKept - size);
        std::memmove(m_kept, m_kept + (m_keptSize - stay), stay);
        if (size != 0) std::memcpy(m_kept + stay, m_piece.data(), size);
        m_keptSize = stay + size;
    }

    // The byte at `offset` of the line (counted from its first byte), or
    // word_bounds::kLineEnd. Offsets before the kept bytes, which no address
    // asks for, and after the fed bytes of an unfinished line read as line ends.
    int at(std::int64_t offset) const noexcept {
        const auto base = static_cast<std::int64_t>(m_pieceBase);
        if (offset >= base) {
            const auto in = static_cast<std::uint64_t>(offset - base);
            return in < m_piece.size() ? static_cast<unsigned char>(m_piece[in])
                                       : word_bounds::kLineEnd;
        }
        const std::int64_t back = base - offset;  // 1 for the last kept byte
        if (offset < 0 || back > static_cast<std::int64_t>(m_keptSize))
            return word_bounds::kLineEnd;
        return static_cast<unsigned char>(m_kept[m_keptSize - static_cast<std::size_t>(back)]);
    }

    bool standsAlone(const FoundAddress& found) const noexcept {
        const auto start = static_cast<std::int64_t>(found.start);
        const auto end = start + static_cast<std::int64_t>(found.dottedText.size());
        return word_bounds::ipv4StandsAlone(at(start - 2), at(start - 1), at(end), at(end + 1));
    }
    bool standsAlone(const FoundAddress6& found) const noexcept {
        const auto start = static_cast<std::int64_t>(found.start);
        const auto end = start + static_cast<std::int64_t>(found.text.size());
        return word_bounds::ipv6StandsAlone(at(start - 2), at(start - 1), at(end), at(end + 1));
    }

private:
    std::string_view m_piece;
    std::uint64_t m_pieceBase = 0;  // offset of the piece's first byte in the line
    char m_kept[kKept] = {};
    std::size_t m_keptSize = 0;
};

}  // namespace ipcountry::analysis
