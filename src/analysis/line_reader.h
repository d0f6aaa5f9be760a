#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/input_source.h"

namespace ipcountry::analysis {

// Reads a text line by line in large blocks, from a file, a compressed file or
// standard input (see InputSource). Memory is two blocks whatever the input:
// a line of at most one block comes whole, as one piece; a longer line comes
// in pieces of more than a block each (the last one may be shorter), so that a
// file without any line end is read like any other.
// Lines end with CRLF, LF alone or CR alone; the line end is not part of the
// line. A final line without a line end is still a line; an empty file has no
// lines, and a file that ends with a line end has no empty line after it.
class LineReader {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    enum class Next {
        Piece,  // `piece` holds more of the current line
        Idle,   // nothing arrived for a moment: report progress and ask again
        End,    // no more lines
    };

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens `path` as openInput() does.
    void open(const std::string& path, std::size_t blockSize = kBlockSize,
              bool dashIsStandardInput = false);
    void open(std::unique_ptr<InputSource> source, std::size_t blockSize = kBlockSize);

    // The next piece of the current line, valid until the next call;
    // `lineEnds` is true when the line ends right after it. Throws
    // lookup::Error(FileUnreadable) when reading fails midway.
    Next next(std::string_view& piece, bool& lineEnds);

    // True when the last call to next() read from the input: the moment to
    // report progress, once per block rather than once per line.
    bool blockWasRead() const noexcept { return m_blockWasRead; }
    // Bytes taken from the file (compressed bytes for an archive) and its size
    // when it was opened (0 for pipes, devices and standard input).
    std::uint64_t bytesRead() const noexcept { return m_source ? m_source->bytesRead() : 0; }
    std::uint64_t fileSize() const noexcept { return m_source ? m_source->fileSize() : 0; }

private:
    InputSource::Status fill();
    std::size_t locate(char c, std::size_t& from) const noexcept;
    Next hand(std::size_t end, std::size_t resume, bool lineEnds, std::string_view& piece,
              bool& ends) noexcept;

    std::unique_ptr<InputSource> m_source;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_blockSize = kBlockSize;
    std::size_t m_begin = 0;  // first unconsumed byte
    std::size_t m_end = 0;    // one past the last byte read
    std::size_t m_lf = 0;     // no LF in [m_begin, m_lf); see locate()
    std::size_t m_cr = 0;     // no CR in [m_begin, m_cr)
    bool m_eof = false;
    bool m_inLine = false;  // pieces of the current line were handed out
    bool m_blockWasRead = false;
};

}  // namespace ipcountry::analysis
