#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/input_source.h"
#include "analysis/mapped_file.h"
#include "lookup/line_ends.h"

namespace ipcountry::analysis {

// Reads a text line by line in large blocks, from a file, a compressed file or
// standard input (see InputSource). Memory is two blocks whatever the input
// (a regular file is read in place, in windows of two blocks mapped in turn):
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

    // Opens `path` as openInput() does. A regular file is read in place
    // through a memory map unless `inPlace` is false; pipes, devices,
    // standard input, archives, and files that cannot be mapped are read
    // with read(). Both ways give the same pieces and lines, and a file that
    // shrinks or fails under the map gives FileUnreadable, never SIGBUS.
    void open(const std::string& path, std::size_t blockSize = kBlockSize,
              bool dashIsStandardInput = false, bool inPlace = true);
    void open(std::unique_ptr<InputSource> source, std::size_t blockSize = kBlockSize,
              bool inPlace = true);

    // The next piece of the current line, valid until the next call;
    // `lineEnds` is true when the line ends right after it. Throws
    // lookup::Error(FileUnreadable) when reading fails midway.
    Next next(std::string_view& piece, bool& lineEnds);

    // Like next(), but the whole lines the buffer holds go out at once, at
    // most `limit` bytes of them, with their line ends: `wholeLines` is then
    // true, and `text` is whole lines, each ended by CRLF, LF or CR but the
    // last line of the input, which may have none. Otherwise (a line longer
    // than `limit`, or the rest of one) `text` is a piece of a line as next()
    // hands it.
    // Calls to next() and nextLines() may alternate: the lines and pieces
    // are those that next() alone would give, joined.
    Next nextLines(std::string_view& text, bool& wholeLines, bool& lineEnds, std::size_t limit);

    // Text handed out is valid until the next call. A hold keeps the buffer
    // it lies in (and every text handed out of it) from being written again
    // until it is released, from any thread: the reader then reads on into
    // another buffer, so that other threads can work on the text uncopied.
    // A held text read in place is the file's own pages: whoever holds it
    // calls checkRead() once done with it, and throws away what it made of
    // the text when that throws.
    struct Buffer {
        std::unique_ptr<char[]> bytes;             // read(): the reader's copy
        MappedWindow window;                       // in place: the file's pages
        const lookup::OpenedFile* file = nullptr;  // whose pages they are
        std::atomic<unsigned> holds{0};
    };
    Buffer* hold() noexcept;
    static void release(Buffer* held) noexcept;
    // Throws lookup::Error(FileUnreadable) when a page of `text`, handed out
    // of `held`, could not be read: the file shrank while it was read, or
    // the disk failed. The text then holds zeros where the file's bytes were.
    static void checkRead(const Buffer* held, std::string_view text);

    // Throws as checkRead() does when the text last handed out no longer
    // reads as the file's (it was cut short since): for a caller that did
    // something else (reported progress) between taking and using it.
    void checkHandedOut() const;

    // True when the last call to next() read from the input: the moment to
    // report progress, once per block rather than once per line.
    bool blockWasRead() const noexcept { return m_blockWasRead; }
    // Bytes taken from the file (compressed bytes for an archive) and its size
    // when it was opened (0 for pipes, devices and standard input).
    std::uint64_t bytesRead() const noexcept {
        if (m_file != nullptr) return m_origin + m_end;
        return m_source ? m_source->bytesRead() + m_bytesBefore : 0;
    }
    std::uint64_t fileSize() const noexcept { return m_source ? m_source->fileSize() : 0; }

private:
    InputSource::Status fill();
    InputSource::Status fillInPlace();
    void startInPlace();
    bool moveWindow();
    std::size_t locate(char c, std::size_t& from) const noexcept;
    std::size_t resumeAfter(std::size_t at) const noexcept;
    Next takePiece(std::size_t end, std::size_t resume, bool lineEnds, std::string_view& piece,
                   bool& ends);
    void handOut(std::string_view text);
    void warm(std::string_view text) noexcept;

    std::unique_ptr<InputSource> m_source;
    Buffer* freeBuffer();
    Buffer* freeWindow();
    void unmapUnheld() noexcept;

    std::vector<std::unique_ptr<Buffer>> m_buffers;  // the current one and spares for holds
    Buffer* m_current = nullptr;
    const char* m_buffer = nullptr;  // m_current's bytes or window
    // Read in place: the file, and where in it m_buffer[0] lies. The window
    // is laid over the file as read() would have filled the buffer, so that
    // both ways cut the same pieces.
    const lookup::OpenedFile* m_file = nullptr;
    std::uint64_t m_origin = 0;
    std::uint64_t m_bytesBefore = 0;  // read in place before read() took over
    bool m_inPlace = true;            // asked for
    bool m_placeTried = false;
    std::string_view m_handedOut;  // checked once its reader is done with it
    unsigned char m_warmth = 0;    // what warm() read, kept so that it is read
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
