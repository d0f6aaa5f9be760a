#include "analysis/line_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "lookup/error.h"
#include "lookup/line_ends.h"
#include "lookup/text_file.h"

namespace ipcountry::analysis {

namespace {

[[noreturn]] void throwSystemError(const lookup::OpenedFile& file, int error) {
    throw lookup::Error(lookup::ErrorKind::FileUnreadable, lookup::ErrorCode::ReadFailed,
                        {.file = file.file(), .name = file.name(), .system = error});
}

std::uint64_t sizeNow(const lookup::OpenedFile& file) {
    struct stat status {};
    if (::fstat(file.descriptor(), &status) != 0) throwSystemError(file, errno);
    return static_cast<std::uint64_t>(status.st_size);
}

[[noreturn]] void throwUnreadable(const lookup::OpenedFile& file, bool shrank) {
    throw lookup::Error(lookup::ErrorKind::FileUnreadable,
                        shrank ? lookup::ErrorCode::Shrank : lookup::ErrorCode::PageUnreadable,
                        {.file = file.file(), .name = file.name(), .system = shrank ? 0 : EIO});
}

// A page cut off reads as zeros and is recorded; a file cut inside a page
// reads as zeros from its new end on without a fault, so its size tells.
void checkFaults(const LineReader::Buffer& held, std::string_view text) {
    const std::optional<std::uint64_t> fault = held.window.faultBefore(text.data() + text.size());
    if (fault) throwUnreadable(*held.file, sizeNow(*held.file) <= *fault);
}

}  // namespace

void LineReader::open(const std::string& path, std::size_t blockSize, bool dashIsStandardInput,
                      bool inPlace) {
    open(openInput(path, dashIsStandardInput), blockSize, inPlace);
}

void LineReader::open(std::unique_ptr<InputSource> source, std::size_t blockSize, bool inPlace) {
    for (const auto& buffer : m_buffers) buffer->window.unmap();
    m_source = std::move(source);
    m_blockSize = std::max<std::size_t>(blockSize, 16);
    // Room for one block and the unfinished line that came before it.
    if (m_capacity != 2 * m_blockSize) {
        m_buffers.clear();
        m_capacity = 2 * m_blockSize;
    }
    m_current = nullptr;
    m_current = freeBuffer();
    m_buffer = m_current->bytes.get();
    m_file = nullptr;
    m_origin = m_bytesBefore = 0;
    m_inPlace = inPlace;
    m_placeTried = false;
    m_handedOut = {};
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
    const void* hit = from < m_end ? std::memchr(m_buffer + from, c, m_end - from) : nullptr;
    from =
        hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer) : m_end;
    return from;
}

InputSource::Status LineReader::fill() {
    m_blockWasRead = true;
    if (m_file != nullptr) return fillInPlace();
    if (m_capacity - m_end < m_blockSize && m_begin > 0) {
        // Only the unfinished line moves to the front; finished lines are
        // gone, unless they are held: then it moves to another buffer.
        if (m_current->bytes && m_current->holds.load(std::memory_order_acquire) == 0) {
            std::memmove(m_current->bytes.get(), m_buffer + m_begin, m_end - m_begin);
        } else {
            Buffer* next = freeBuffer();
            std::memcpy(next->bytes.get(), m_buffer + m_begin, m_end - m_begin);
            m_current = next;
            m_buffer = next->bytes.get();
        }
        m_end -= m_begin;
        m_lf = m_lf > m_begin ? m_lf - m_begin : 0;
        m_cr = m_cr > m_begin ? m_cr - m_begin : 0;
        m_begin = 0;
    }
    std::size_t got = 0;
    const InputSource::Status status = m_source->read(
        m_current->bytes.get() + m_end, std::min(m_capacity - m_end, m_blockSize), got);
    if (status == InputSource::Status::End) m_eof = true;
    m_end += got;
    // The first read tells what the input is: the bytes it gave are the
    // file's first, so a regular file goes on in place from there.
    if (!m_placeTried && status == InputSource::Status::Data) {
        m_placeTried = true;
        if (m_inPlace) startInPlace();
    }
    return status;
}

void LineReader::startInPlace() {
    const lookup::OpenedFile* file = m_source->regularFile();
    if (file == nullptr) return;
    Buffer* window = freeWindow();
    if (!window->window.map(file->descriptor(), 0, m_capacity)) return;  // read() goes on
    window->file = file;
    m_file = file;
    m_origin = 0;
    m_current = window;
    m_buffer = window->window.data();
}

bool LineReader::moveWindow() {
    // The unfinished line stays where it is in the file: the next window
    // begins with it, as read() would have moved it to the buffer's front.
    Buffer* window = freeWindow();
    const std::uint64_t origin = m_origin + m_begin;
    if (!window->window.map(m_file->descriptor(), origin, m_capacity)) return false;
    window->file = m_file;
    Buffer* old = std::exchange(m_current, window);
    m_buffer = window->window.data();
    m_origin = origin;
    if (old->holds.load(std::memory_order_acquire) == 0) old->window.unmap();
    return true;
}

InputSource::Status LineReader::fillInPlace() {
    if (m_capacity - m_end < m_blockSize && m_begin > 0) {
        if (!moveWindow()) {
            // No more windows (no memory, no address space): read() takes
            // over where the map stopped, with the unfinished line copied.
            Buffer* next = freeBuffer();
            std::memcpy(next->bytes.get(), m_buffer + m_begin, m_end - m_begin);
            const std::uint64_t at = m_origin + m_end;
            if (::lseek(m_file->descriptor(), static_cast<off_t>(at), SEEK_SET) < 0)
                throwSystemError(*m_file, errno);
            m_bytesBefore = at - m_source->bytesRead();
            m_file = nullptr;
            Buffer* old = std::exchange(m_current, next);
            if (old->holds.load(std::memory_order_acquire) == 0) old->window.unmap();
            m_buffer = next->bytes.get();
            m_origin = 0;
        }
        m_end -= m_begin;
        m_lf = m_lf > m_begin ? m_lf - m_begin : 0;
        m_cr = m_cr > m_begin ? m_cr - m_begin : 0;
        m_begin = 0;
        if (m_file == nullptr) return fill();
    }
    // As read() finds it now: a file that grows goes on, and one that shrank
    // ends where it ends now, unless it shrank below what the window took
    // as read: that text may be zeros now, where read() had a copy.
    const std::uint64_t size = sizeNow(*m_file);
    const std::uint64_t at = m_origin + m_end;
    if (size < at) throwUnreadable(*m_file, true);
    const std::size_t got = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::min(m_capacity - m_end, m_blockSize), size - at));
    m_end += got;
    if (got > 0) return InputSource::Status::Data;
    m_eof = true;
    return InputSource::Status::End;
}

// Reads a byte of every cache line of `text` on the reader's thread, a
// moment before a worker scans it: the pages are mapped and the text comes
// into the shared cache here, as read()'s copy brought it there, instead of
// stalling the scan line by line on main memory.
void LineReader::warm(std::string_view text) noexcept {
    unsigned char sum = 0;
    for (std::size_t at = 0; at < text.size(); at += 64)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(text[at]));
    m_warmth = sum;
}

void LineReader::handOut(std::string_view text) {
    // Zeros in place of the file's bytes never go out when the reader's own
    // search for line ends came upon them: zeros end no line, so the search
    // runs on into a page cut off, or to the end of what was read, where
    // fillInPlace() finds the file shorter.
    if (!text.empty()) checkFaults(*m_current, text);
    m_handedOut = text;
}

void LineReader::checkHandedOut() const {
    if (m_file != nullptr) checkRead(m_current, m_handedOut);
}

void LineReader::checkRead(const Buffer* held, std::string_view text) {
    if (held == nullptr || held->file == nullptr || text.empty()) return;
    checkFaults(*held, text);
    const char* end = text.data() + text.size();
    if (sizeNow(*held->file) <
        held->window.offset() + static_cast<std::uint64_t>(end - held->window.data()))
        throwUnreadable(*held->file, true);
}

LineReader::Next LineReader::takePiece(std::size_t end, std::size_t resume, bool lineEnds,
                                       std::string_view& piece, bool& ends) {
    piece = std::string_view(m_buffer + m_begin, end - m_begin);
    if (m_file != nullptr) handOut(piece);
    ends = lineEnds;
    m_begin = resume;
    m_inLine = !lineEnds;
    return Next::Piece;
}

LineReader::Next LineReader::next(std::string_view& piece, bool& lineEnds) {
    m_blockWasRead = false;
    if (!m_source) return Next::End;
    if (m_file != nullptr && !m_handedOut.empty())
        checkFaults(*m_current, std::exchange(m_handedOut, {}));
    for (;;) {
        const std::size_t lf = locate('\n', m_lf);
        const std::size_t cr = locate('\r', m_cr);
        if (lf < m_end && lf < cr) return takePiece(lf, lf + 1, true, piece, lineEnds);
        // Whether a LF follows a CR at the end of the buffer is in the next read.
        const bool crAtEnd = cr + 1 == m_end && !m_eof;
        if (cr < m_end && !crAtEnd) {
            return takePiece(cr, lookup::afterLineEnd(m_buffer, cr, m_end), true, piece, lineEnds);
        }
        if (m_eof) {
            if (m_begin < m_end || m_inLine) return takePiece(m_end, m_end, true, piece, lineEnds);
            return Next::End;
        }
        if (m_end - m_begin > m_capacity - m_blockSize) {
            // The unfinished line leaves less than a block of room: it goes
            // out as it stands, all but a CR whose LF may still come.
            const std::size_t end = crAtEnd ? m_end - 1 : m_end;
            return takePiece(end, end, false, piece, lineEnds);
        }
        if (fill() == InputSource::Status::Idle) return Next::Idle;
    }
}

void LineReader::unmapUnheld() noexcept {
    for (const auto& buffer : m_buffers)
        if (buffer.get() != m_current && buffer->window.isMapped() &&
            buffer->holds.load(std::memory_order_acquire) == 0)
            buffer->window.unmap();
}

LineReader::Buffer* LineReader::freeBuffer() {
    unmapUnheld();
    for (const auto& buffer : m_buffers)
        if (buffer->bytes && buffer.get() != m_current &&
            buffer->holds.load(std::memory_order_acquire) == 0)
            return buffer.get();
    auto buffer = std::make_unique<Buffer>();
    buffer->bytes.reset(new char[m_capacity]);
    m_buffers.push_back(std::move(buffer));
    return m_buffers.back().get();
}

// A window is mapped afresh for every move, and unmapped as soon as nobody
// holds it: the pages it has read count in the process's memory until then.
LineReader::Buffer* LineReader::freeWindow() {
    unmapUnheld();
    for (const auto& buffer : m_buffers)
        if (!buffer->bytes && buffer.get() != m_current && !buffer->window.isMapped())
            return buffer.get();
    m_buffers.push_back(std::make_unique<Buffer>());
    return m_buffers.back().get();
}

LineReader::Buffer* LineReader::hold() noexcept {
    m_current->holds.fetch_add(1, std::memory_order_relaxed);
    return m_current;
}

void LineReader::release(Buffer* held) noexcept {
    // Pairs with the acquire before the buffer is written again: whatever the
    // holder read comes first.
    held->holds.fetch_sub(1, std::memory_order_release);
}

std::size_t LineReader::resumeAfter(std::size_t at) const noexcept {
    // 0 when no line ends at `at`: a CR at the end of the buffer ends a line
    // only at the end of the input, since a LF may still follow it.
    if (!lookup::isLineEnd(m_buffer[at])) return 0;
    if (m_buffer[at] == '\r' && at + 1 == m_end && !m_eof) return 0;
    return lookup::afterLineEnd(m_buffer, at, m_end);
}

LineReader::Next LineReader::nextLines(std::string_view& text, bool& wholeLines, bool& lineEnds,
                                       std::size_t limit) {
    wholeLines = false;
    // The rest of a line already begun comes in pieces, as next() hands it.
    if (!m_source || m_inLine) return next(text, lineEnds);
    m_blockWasRead = false;
    if (m_file != nullptr && !m_handedOut.empty())
        checkFaults(*m_current, std::exchange(m_handedOut, {}));
    for (;;) {
        // The last line end within the limit, looked for from the back: the
        // lines before it are whole whatever comes later.
        std::size_t cut = 0;
        const std::size_t window = std::min(m_end, m_begin + std::max<std::size_t>(limit, 1));
        for (std::size_t below = window; cut == 0 && below > m_begin;) {
            const char* from = m_buffer + m_begin;
            const void* lf = ::memrchr(from, '\n', below - m_begin);
            const void* cr = ::memrchr(from, '\r', below - m_begin);
            if (lf == nullptr && cr == nullptr) break;
            const char* last = static_cast<const char*>(std::max(lf, cr, std::less<>()));
            below = static_cast<std::size_t>(last - m_buffer);
            cut = resumeAfter(below);  // none only for a CR whose LF may still come
            // A CR LF across the limit: the lines before it, or none.
            if (cut > window) cut = 0;
        }
        if (cut == 0 && m_eof && m_begin < m_end && m_end - m_begin <= limit)
            cut = m_end;  // the last line, without an end
        if (cut != 0) {
            text = std::string_view(m_buffer + m_begin, cut - m_begin);
            if (m_file != nullptr) {
                warm(text);
                handOut(text);
            }
            m_begin = cut;
            wholeLines = lineEnds = true;
            return Next::Piece;
        }
        // A first line longer than the limit goes as next() hands it, so that
        // whoever takes whole lines never gets more than the limit at once.
        if (window < m_end || m_eof || m_end - m_begin > m_capacity - m_blockSize) {
            const bool read = m_blockWasRead;
            const Next piece = next(text, lineEnds);
            m_blockWasRead = m_blockWasRead || read;
            return piece;
        }
        if (fill() == InputSource::Status::Idle) return Next::Idle;
    }
}

}  // namespace ipcountry::analysis
