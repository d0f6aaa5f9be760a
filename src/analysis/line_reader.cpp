#include "analysis/line_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lookup/error.h"

namespace ipcountry::analysis {

LineReader::~LineReader() {
    close();
    std::free(m_buffer);
}

void LineReader::close() noexcept { m_file.reset(); }

void LineReader::open(const std::string& path, std::size_t blockSize) {
    close();
    m_file.emplace(path, lookup::OpenedFile::Accept::AnyButFolder);
    m_fileSize = m_file->size();
    m_blockSize = std::max<std::size_t>(blockSize, 16);
    // Room for one block and the unfinished line that came before it.
    if (m_capacity < 2 * m_blockSize) {
        char* grown = static_cast<char*>(std::realloc(m_buffer, 2 * m_blockSize));
        if (grown == nullptr)
            throw std::bad_alloc();
        m_buffer = grown;
        m_capacity = 2 * m_blockSize;
    }
    m_begin = m_end = 0;
    m_lf = m_cr = 0;
    m_eof = false;
    m_blockWasRead = false;
    m_bytesRead = 0;
}

std::size_t LineReader::locate(char c, std::size_t& from) const noexcept {
    // `from` remembers how far the buffer is known to hold no `c`, so a file
    // that uses only one kind of line end never searches its blocks twice.
    if (from < m_begin)
        from = m_begin;
    if (from < m_end && m_buffer[from] == c)
        return from;
    const void* hit = from < m_end ? std::memchr(m_buffer + from, c, m_end - from) : nullptr;
    from = hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer) : m_end;
    return from;
}

void LineReader::fill() {
    m_blockWasRead = true;
    if (m_capacity - m_end < m_blockSize) {
        if (m_begin > 0) {
            // Only the unfinished line moves to the front; finished lines are gone.
            std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_lf = m_lf > m_begin ? m_lf - m_begin : 0;
            m_cr = m_cr > m_begin ? m_cr - m_begin : 0;
            m_begin = 0;
        }
        if (m_capacity - m_end < m_blockSize) {
            // A line longer than a block: grow by half, so that a line of
            // hundreds of megabytes takes few reallocations (which large
            // allocations do by remapping, without copying).
            const std::size_t wanted = m_capacity + std::max(m_blockSize, m_capacity / 2);
            char* grown = static_cast<char*>(std::realloc(m_buffer, wanted));
            if (grown == nullptr)
                throw std::bad_alloc();
            m_buffer = grown;
            m_capacity = wanted;
        }
    }
    if (!m_file)
        throw lookup::Error(lookup::ErrorKind::FileUnreadable,
                            "The file was closed after a failed read");
    std::size_t got = 0;
    try {
        got = m_file->read(m_buffer + m_end, std::min(m_capacity - m_end, m_blockSize));
    } catch (...) {
        close();
        throw;
    }
    if (got == 0) {
        m_eof = true;
        close();
        return;
    }
    m_end += got;
    m_bytesRead += got;
}

bool LineReader::next(std::string_view& line) {
    m_blockWasRead = false;
    if (m_buffer == nullptr)
        return false;
    for (;;) {
        const std::size_t lf = locate('\n', m_lf);
        const std::size_t cr = locate('\r', m_cr);
        if (lf < m_end && lf < cr) {
            line = std::string_view(m_buffer + m_begin, lf - m_begin);
            m_begin = lf + 1;
            return true;
        }
        if (cr < m_end) {
            if (cr + 1 == m_end && !m_eof) {
                // Whether a LF follows this CR is in the next block.
                fill();
                continue;
            }
            line = std::string_view(m_buffer + m_begin, cr - m_begin);
            m_begin = cr + 1;
            if (m_begin < m_end && m_buffer[m_begin] == '\n')
                ++m_begin;
            return true;
        }
        if (m_eof) {
            if (m_begin == m_end)
                return false;
            line = std::string_view(m_buffer + m_begin, m_end - m_begin);
            m_begin = m_end;
            return true;
        }
        fill();
    }
}

}  // namespace ipcountry::analysis
