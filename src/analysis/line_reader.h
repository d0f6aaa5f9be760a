#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lookup/text_file.h"

namespace ipcountry::analysis {

// Reads a text file line by line in large blocks. Only the current line (and
// the unread rest of the current block) is held, so a log of gigabytes costs
// one block of memory and a single line of 300 MB costs about that line.
// Lines end with CRLF, LF alone or CR alone; the line end is not part of the
// line. A final line without a line end is still a line; an empty file has no
// lines, and a file that ends with a line end has no empty line after it.
class LineReader {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens `path` exactly as given; throws lookup::Error as OpenedFile does.
    void open(const std::string& path, std::size_t blockSize = kBlockSize);

    // The next line, valid until the next call. False at the end of the file.
    // Throws lookup::Error(FileUnreadable) when reading fails midway.
    bool next(std::string_view& line);

    // True when the last call to next() had to read a new block: the moment
    // to report progress, once per block rather than once per line.
    bool blockWasRead() const noexcept { return m_blockWasRead; }
    std::uint64_t bytesRead() const noexcept { return m_bytesRead; }
    // The file's size when it was opened (0 for pipes and other streams).
    std::uint64_t fileSize() const noexcept { return m_fileSize; }

private:
    void fill();
    void close() noexcept;
    std::size_t locate(char c, std::size_t& from) const noexcept;

    std::optional<lookup::OpenedFile> m_file;
    char* m_buffer = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_blockSize = kBlockSize;
    std::size_t m_begin = 0;  // first unconsumed byte
    std::size_t m_end = 0;    // one past the last byte read
    std::size_t m_lf = 0;     // no LF in [m_begin, m_lf); see locate()
    std::size_t m_cr = 0;     // no CR in [m_begin, m_cr)
    bool m_eof = false;
    bool m_blockWasRead = false;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_fileSize = 0;
};

}  // namespace ipcountry::analysis
