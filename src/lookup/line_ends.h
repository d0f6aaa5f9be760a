#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ipcountry::lookup {

// The line-end rule of every text the program reads, data files and user
// input alike: CRLF, LF or CR ends a line, and the line end is no part of
// the line. A last line without an end is still a line; a text that ends
// with a line end has no empty line after it, and an empty text has none.
// Whole texts are split here (WholeLines, forEachLine); the streaming reader
// of user input (analysis::LineReader) follows the same rule across its
// blocks, where a CR at a block's end waits for the next read.

inline bool isLineEnd(char c) noexcept { return c == '\n' || c == '\r'; }

// Given a line end at text[end], where the next line begins.
inline std::size_t afterLineEnd(const char* text, std::size_t end, std::size_t size) noexcept {
    return end + (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n' ? 2 : 1);
}

// Calls `onLine` for each line of `content`, as WholeLines would give them.
// For the data files' many short lines.
template <typename OnLine>
void forEachLine(std::string_view content, OnLine&& onLine) {
    // A plain byte loop: the range file has hundreds of thousands of short
    // lines, and a search call per line cost more than the line itself.
    const char* const text = content.data();
    const std::size_t size = content.size();
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t end = pos;
        while (end < size && !isLineEnd(text[end])) ++end;
        onLine(content.substr(pos, end - pos));
        if (end == size) return;
        pos = afterLineEnd(text, end, size);
    }
}

// The first line end in text[from, size), or `size`: sixteen bytes a step
// for both kinds at once, inline, since most lines of a log are a hundred
// characters, where a library call per line and kind cost more than the search.
inline std::size_t findLineEnd(const char* text, std::size_t from, std::size_t size) noexcept {
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; from + 16 <= size; from += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
        const unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr))));
        if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; from < size; ++from)
        if (isLineEnd(text[from])) return from;
    return size;
}

// The lines of a text of whole lines, such as a block that
// LineReader::nextLines() hands out: each ended by CRLF, LF or CR, but the
// last, which may have no end.
class WholeLines {
public:
    explicit WholeLines(std::string_view text) noexcept : m_text(text) {}

    bool next(std::string_view& line) noexcept {
        if (m_at >= m_text.size()) return false;
        const std::size_t end = findLineEnd(m_text.data(), m_at, m_text.size());
        line = m_text.substr(m_at, end - m_at);
        m_at =
            end < m_text.size() ? afterLineEnd(m_text.data(), end, m_text.size()) : m_text.size();
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

}  // namespace ipcountry::lookup
