#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

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

// The lines of a text of whole lines, such as a block that
// LineReader::nextLines() hands out: each ended by CRLF, LF or CR, but the
// last, which may have no end. For texts of long lines: each kind of line end
// is looked for with memchr.
class WholeLines {
public:
    explicit WholeLines(std::string_view text) noexcept
        : m_text(text), m_lf(find('\n', 0)), m_cr(find('\r', 0)) {}

    bool next(std::string_view& line) noexcept {
        if (m_at >= m_text.size()) return false;
        // Each kind of line end is looked for again only once passed, so a
        // text with one kind is searched once for the other.
        if (m_lf < m_at) m_lf = find('\n', m_at);
        if (m_cr < m_at) m_cr = find('\r', m_at);
        const std::size_t end = std::min(m_lf, m_cr);
        line = m_text.substr(m_at, end - m_at);
        m_at =
            end < m_text.size() ? afterLineEnd(m_text.data(), end, m_text.size()) : m_text.size();
        return true;
    }

private:
    std::size_t find(char c, std::size_t from) const noexcept {
        if (from >= m_text.size()) return m_text.size();
        const void* hit = std::memchr(m_text.data() + from, c, m_text.size() - from);
        return hit != nullptr
                   ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_text.data())
                   : m_text.size();
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_lf;  // the first LF at or after m_at, or the end
    std::size_t m_cr;
};

}  // namespace ipcountry::lookup
