#include "analysis/line_reader.h"

#include <algorithm>
#include <cstring>

#include "lookup/text_file.h"

namespace ipcountry::analysis {

void LineReader::open(const std::string& path, std::size_t blockSize, bool dashIsStandardInput) {
    open(openInput(path, dashIsStandardInput), blockSize);
}

void LineReader::open(std::unique_ptr<InputSource> source, std::size_t blockSize) {
    m_source = std::move(source);
    m_blockSize = std::max<std::size_t>(blockSize, 16);
    // Room for one block and the unfinished line that came before it.
    if (m_capacity != 2 * m_blockSize) {
        m_buffer.reset(new char[2 * m_blockSize]);
        m_capacity = 2 * m_blockSize;
    }
    m_begin = m_end = 0;
    m_lf = m_cr = 0;
    m_eof = false;
    m_inLine = false;
    m_blockWasRead = false;
}

std::size_t LineReader::locate(char c, std::size_t& from) const noexcept {
    // `from` remembers how far the buffer is known to hold no `c`, so a file
    // that uses only one kind of line end never searches its blocks twice.
    if (from < m_begin) from = m_begin;
    if (from < m_end && m_buffer[from] == c) return from;
    const void* hit = from < m_end ? std::memchr(m_buffer.get() + from, c, m_end - from) : nullptr;
    from = hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer.get())
                          : m_end;
    return from;
}

InputSource::Status LineReader::fill() {
    m_blockWasRead = true;
    if (m_capacity - m_end < m_blockSize && m_begin > 0) {
        // Only the unfinished line moves to the front; finished lines are gone.
        std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_lf = m_lf > m_begin ? m_lf - m_begin : 0;
        m_cr = m_cr > m_begin ? m_cr - m_begin : 0;
        m_begin = 0;
    }
    std::size_t got = 0;
    const InputSource::Status status =
        m_source->read(m_buffer.get() + m_end, std::min(m_capacity - m_end, m_blockSize), got);
    if (status == InputSource::Status::End) m_eof = true;
    m_end += got;
    return status;
}

LineReader::Next LineReader::hand(std::size_t end, std::size_t resume, bool lineEnds,
                                  std::string_view& piece, bool& ends) noexcept {
    piece = std::string_view(m_buffer.get() + m_begin, end - m_begin);
    ends = lineEnds;
    m_begin = resume;
    m_inLine = !lineEnds;
    return Next::Piece;
}

LineReader::Next LineReader::next(std::string_view& piece, bool& lineEnds) {
    m_blockWasRead = false;
    if (!m_source) return Next::End;
    for (;;) {
        const std::size_t lf = locate('\n', m_lf);
        const std::size_t cr = locate('\r', m_cr);
        if (lf < m_end && lf < cr) return hand(lf, lf + 1, true, piece, lineEnds);
        // Whether a LF follows a CR at the end of the buffer is in the next read.
        const bool crAtEnd = cr + 1 == m_end && !m_eof;
        if (cr < m_end && !crAtEnd) {
            return hand(cr, lookup::afterLineEnd(m_buffer.get(), cr, m_end), true, piece, lineEnds);
        }
        if (m_eof) {
            if (m_begin < m_end || m_inLine) return hand(m_end, m_end, true, piece, lineEnds);
            return Next::End;
        }
        if (m_end - m_begin > m_capacity - m_blockSize) {
            // The unfinished line leaves less than a block of room: it goes
            // out as it stands, all but a CR whose LF may still come.
            const std::size_t end = crAtEnd ? m_end - 1 : m_end;
            return hand(end, end, false, piece, lineEnds);
        }
        if (fill() == InputSource::Status::Idle) return Next::Idle;
    }
}

}  // namespace ipcountry::analysis
