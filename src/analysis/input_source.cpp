#include "analysis/input_source.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "lookup/error.h"
#include "lookup/text_file.h"

namespace ipcountry::analysis {

using lookup::Error;
using lookup::ErrorCode;
using lookup::ErrorKind;
using Status = InputSource::Status;

namespace {

// Unpacking may not cost more than this, so that an analysis stays well under
// 64 MB whatever it reads: xz up to level -8 and zstd up to level 19 fit.
constexpr std::uint64_t kUnpackMemoryLimit = std::uint64_t{40} << 20;
constexpr int kZstdWindowLogMax = 25;  // a 32 MB window

// The file's own bytes, counted.
class RawFile {
public:
    explicit RawFile(std::unique_ptr<lookup::OpenedFile> file) : m_file(std::move(file)) {}

    Status read(char* buffer, std::size_t capacity, std::size_t& got) {
        got = 0;
        // A pipe or a device is asked first whether anything is there, so
        // that a pipe nobody writes to never holds up the caller.
        if (!m_file->waitReadable(kIdleWaitMs)) return Status::Idle;
        got = m_file->read(buffer, capacity);
        m_bytesRead += got;
        return got > 0 ? Status::Data : Status::End;
    }

    const std::string& name() const noexcept { return m_file->name(); }
    const std::string& file() const noexcept { return m_file->file(); }
    std::uint64_t bytesRead() const noexcept { return m_bytesRead; }
    std::uint64_t size() const noexcept { return m_file->size(); }
    const lookup::OpenedFile& opened() const noexcept { return *m_file; }

private:
    std::unique_ptr<lookup::OpenedFile> m_file;
    std::uint64_t m_bytesRead = 0;
};

// The first bytes of the file, read before anything is decided.
struct Head {
    static constexpr std::size_t kSize = 10;
    unsigned char bytes[kSize] = {};
    std::size_t size = 0;

    bool startsWith(std::initializer_list<unsigned char> magic) const {
        return size >= magic.size() && std::equal(magic.begin(), magic.end(), bytes);
    }
};

class PlainInput final : public InputSource {
public:
    PlainInput(RawFile file, const Head& head) : m_file(std::move(file)), m_head(head) {}

    Status read(char* buffer, std::size_t capacity, std::size_t& got) override {
        if (m_headUsed < m_head.size) {
            got = std::min(capacity, m_head.size - m_headUsed);
            std::memcpy(buffer, m_head.bytes + m_headUsed, got);
            m_headUsed += got;
            return Status::Data;
        }
        return m_file.read(buffer, capacity, got);
    }
    std::uint64_t bytesRead() const noexcept override { return m_file.bytesRead(); }
    std::uint64_t fileSize() const noexcept override { return m_file.size(); }
    const lookup::OpenedFile* regularFile() const noexcept override {
        const lookup::OpenedFile& file = m_file.opened();
        return file.isRegular() && file.size() > 0 ? &file : nullptr;
    }

private:
    RawFile m_file;
    Head m_head;
    std::size_t m_headUsed = 0;
};

// What every unpacker shares: the compressed bytes in a buffer of their own,
// and the rule that the file may only end where the format says it is complete.
class Unpacker : public InputSource {
public:
    Unpacker(RawFile file, const Head& head, const char* format)
        : m_file(std::move(file)), m_format(format), m_in(new unsigned char[kInputSize]) {
        std::memcpy(m_in.get(), head.bytes, head.size);
        m_inEnd = head.size;
    }

    Status read(char* buffer, std::size_t capacity, std::size_t& got) final {
        got = 0;
        if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
        if (m_done) return Status::End;
        for (int stalls = 0;;) {
            if (m_inPos == m_inEnd && !m_inputEnded) {
                std::size_t n = 0;
                const Status status =
                    m_file.read(reinterpret_cast<char*>(m_in.get()), kInputSize, n);
                if (status == Status::Idle) return Status::Idle;
                m_inputEnded = status == Status::End;
                m_inPos = 0;
                m_inEnd = n;
            }
            const std::size_t before = m_inPos;
            try {
                m_done = unpack(reinterpret_cast<unsigned char*>(buffer), capacity, got);
            } catch (const Error&) {
                // The text unpacked before the damage was found is still read.
                if (got == 0) throw;
                m_failure = std::current_exception();
                return Status::Data;
            }
            if (got > 0) return Status::Data;
            if (m_done) return Status::End;
            if (m_inPos == before) {
                if (m_inPos == m_inEnd && m_inputEnded) cutShort();
                // Input left but nothing taken or given: a library that no
                // longer moves is as good as damaged data.
                if (m_inPos < m_inEnd && ++stalls > 4) damaged();
            } else {
                stalls = 0;
            }
        }
    }
    std::uint64_t bytesRead() const noexcept final { return m_file.bytesRead(); }
    std::uint64_t fileSize() const noexcept final { return m_file.size(); }

protected:
    static constexpr std::size_t kInputSize = std::size_t{128} << 10;

    // Unpacks from the input buffer into `out`; `got` is what it wrote. True
    // once the text is complete: the input has ended at the end of a member,
    // stream or frame.
    virtual bool unpack(unsigned char* out, std::size_t capacity, std::size_t& got) = 0;

    [[noreturn]] void damaged() const { fail(ErrorCode::PackedDamaged); }
    [[noreturn]] void cutShort() const { fail(ErrorCode::PackedCutShort); }
    [[noreturn]] void needsTooMuchMemory() const {
        fail(ErrorCode::PackedTooLarge, kUnpackMemoryLimit >> 20);
    }
    [[noreturn]] void fail(ErrorCode code, std::uint64_t limit = 0) const {
        throw Error(
            ErrorKind::FileUnreadable, code,
            {.file = m_file.file(), .name = m_file.name(), .number = limit, .text = m_format});
    }

    const unsigned char* input() const noexcept { return m_in.get() + m_inPos; }
    std::size_t inputLeft() const noexcept { return m_inEnd - m_inPos; }
    void consume(std::size_t n) noexcept { m_inPos += n; }
    bool inputEnded() const noexcept { return m_inputEnded && m_inPos == m_inEnd; }

private:
    RawFile m_file;
    const char* m_format;
    std::unique_ptr<unsigned char[]> m_in;
    std::size_t m_inPos = 0;
    std::size_t m_inEnd = 0;
    bool m_inputEnded = false;
    bool m_done = false;
    std::exception_ptr m_failure;  // raised at the next read
};

// gzip through ISA-L, about three times as fast as zlib here. Members follow
// one another as `cat a.gz b.gz` leaves them; anything else after a member is
// damage, not a quiet end.
class GzipUnpacker final : public Unpacker {
public:
    GzipUnpacker(RawFile file, const Head& head) : Unpacker(std::move(file), head, "gzip") {
        startMember();
    }

private:
    // The header is read with a header record of our own: inflate's own
    // reading of it (ISAL_GZIP) took a name's flag from memory it had not
    // set (seen by valgrind in 2.30), so a member with a file name, as gzip
    // writes one, was now and then damaged. Inflate then checks the trailer.
    void startMember() {
        isal_inflate_init(&m_state);
        isal_gzip_header_init(&m_header);
        m_state.crc_flag = ISAL_GZIP_NO_HDR_VER;
        m_headerRead = false;
        m_memberDone = false;
    }

    bool unpack(unsigned char* out, std::size_t capacity, std::size_t& got) override {
        if (m_memberDone) {
            if (inputLeft() == 0) return inputEnded();
            startMember();
        }
        if (!m_headerRead) {
            m_state.next_in = const_cast<std::uint8_t*>(input());
            m_state.avail_in = static_cast<std::uint32_t>(inputLeft());
            const std::uint32_t availIn = m_state.avail_in;
            const int header = isal_read_gzip_header(&m_state, &m_header);
            consume(availIn - m_state.avail_in);
            if (header == ISAL_END_INPUT) return false;  // the rest of the header comes later
            if (header != ISAL_DECOMP_OK) damaged();
            m_headerRead = true;
        }
        m_state.next_in = const_cast<std::uint8_t*>(input());
        m_state.avail_in = static_cast<std::uint32_t>(inputLeft());
        m_state.next_out = out;
        m_state.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, UINT32_MAX));
        const std::uint32_t availIn = m_state.avail_in;
        const std::uint32_t availOut = m_state.avail_out;
        const int result = isal_inflate(&m_state);
        consume(availIn - m_state.avail_in);
        got = availOut - m_state.avail_out;
        if (result < 0) damaged();
        m_memberDone = m_state.block_state == ISAL_BLOCK_FINISH;
        return false;
    }

    inflate_state m_state{};
    isal_gzip_header m_header{};
    bool m_headerRead = false;
    bool m_memberDone = false;
};

class Bzip2Unpacker final : public Unpacker {
public:
    Bzip2Unpacker(RawFile file, const Head& head) : Unpacker(std::move(file), head, "bzip2") {
        startStream();
    }
    ~Bzip2Unpacker() override { BZ2_bzDecompressEnd(&m_stream); }

private:
    void startStream() {
        m_stream = bz_stream{};
        if (BZ2_bzDecompressInit(&m_stream, 0, 0) != BZ_OK) throw std::bad_alloc();
        m_streamDone = false;
    }

    bool unpack(unsigned char* out, std::size_t capacity, std::size_t& got) override {
        if (m_streamDone) {
            if (inputLeft() == 0) return inputEnded();
            BZ2_bzDecompressEnd(&m_stream);
            startStream();
        }
        m_stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input()));
        m_stream.avail_in = static_cast<unsigned>(inputLeft());
        m_stream.next_out = reinterpret_cast<char*>(out);
        m_stream.avail_out = static_cast<unsigned>(std::min<std::size_t>(capacity, UINT32_MAX));
        const unsigned availIn = m_stream.avail_in;
        const unsigned availOut = m_stream.avail_out;
        const int result = BZ2_bzDecompress(&m_stream);
        consume(availIn - m_stream.avail_in);
        got = availOut - m_stream.avail_out;
        if (result == BZ_STREAM_END)
            m_streamDone = true;
        else if (result != BZ_OK)
            damaged();
        return false;
    }

    bz_stream m_stream{};
    bool m_streamDone = false;
};

class XzUnpacker final : public Unpacker {
public:
    XzUnpacker(RawFile file, const Head& head) : Unpacker(std::move(file), head, "xz") {
        if (lzma_stream_decoder(&m_stream, kUnpackMemoryLimit, LZMA_CONCATENATED) != LZMA_OK)
            throw std::bad_alloc();
    }
    ~XzUnpacker() override { lzma_end(&m_stream); }

private:
    bool unpack(unsigned char* out, std::size_t capacity, std::size_t& got) override {
        if (m_streamEnd) return true;
        m_stream.next_in = input();
        m_stream.avail_in = inputLeft();
        m_stream.next_out = out;
        m_stream.avail_out = capacity;
        // Streams may follow one another; only the end of the input says there are no more.
        const lzma_ret result = lzma_code(&m_stream, inputEnded() ? LZMA_FINISH : LZMA_RUN);
        consume(inputLeft() - m_stream.avail_in);
        got = capacity - m_stream.avail_out;
        switch (result) {
            case LZMA_OK:
                break;
            case LZMA_STREAM_END:
                m_streamEnd = true;
                return got == 0;
            case LZMA_BUF_ERROR:
                if (inputEnded()) cutShort();
                break;
            case LZMA_MEMLIMIT_ERROR:
            case LZMA_MEM_ERROR:
                needsTooMuchMemory();
            default:
                damaged();
        }
        return false;
    }

    lzma_stream m_stream = LZMA_STREAM_INIT;
    bool m_streamEnd = false;
};

class ZstdUnpacker final : public Unpacker {
public:
    ZstdUnpacker(RawFile file, const Head& head)
        : Unpacker(std::move(file), head, "zstd"), m_stream(ZSTD_createDStream()) {
        if (m_stream == nullptr) throw std::bad_alloc();
        ZSTD_DCtx_setParameter(m_stream, ZSTD_d_windowLogMax, kZstdWindowLogMax);
    }
    ~ZstdUnpacker() override { ZSTD_freeDStream(m_stream); }

private:
    bool unpack(unsigned char* out, std::size_t capacity, std::size_t& got) override {
        // Frames follow one another; between two of them the text may end.
        if (inputLeft() == 0 && m_frameDone) return inputEnded();
        // A call that fails does not say what it wrote before it failed. So
        // a call either writes out the rest of the last block, or is offered
        // the next block alone (the size the last call asked for): the text
        // before a damaged block is never lost with it.
        ZSTD_inBuffer in{input(), m_outputFull ? 0 : std::min(inputLeft(), m_nextInput), 0};
        ZSTD_outBuffer output{out, capacity, 0};
        const std::size_t result = ZSTD_decompressStream(m_stream, &output, &in);
        consume(in.pos);
        got = output.pos;
        if (ZSTD_isError(result)) {
            if (ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge)
                needsTooMuchMemory();
            damaged();
        }
        m_frameDone = result == 0;
        m_nextInput = m_frameDone ? kFrameStart : result;
        m_outputFull = output.pos == output.size;
        return false;
    }

    static constexpr std::size_t kFrameStart = 5;  // enough to tell a frame header's size

    ZSTD_DStream* m_stream;
    bool m_frameDone = false;
    std::size_t m_nextInput = kFrameStart;
    bool m_outputFull = false;
};

// Unpacks on a thread of its own, a few chunks ahead of the reader, so that
// unpacking and scanning share two cores as two programs joined by a pipe
// would. A failure comes after the text unpacked before it, in order.
class ReadAhead final : public InputSource {
public:
    explicit ReadAhead(std::unique_ptr<InputSource> inner)
        : m_inner(std::move(inner)),
          m_fileSize(m_inner->fileSize()),
          m_thread([this] { produce(); }) {}
    ~ReadAhead() override {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    Status read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        if (m_current.used == m_current.size) {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(kIdleWaitMs),
                               [this] { return !m_full.empty() || m_ended || m_failure; });
            if (m_full.empty()) {
                if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
                return m_ended ? Status::End : Status::Idle;
            }
            if (m_current.data) m_free.push_back(std::move(m_current));
            m_current = std::move(m_full.front());
            m_full.pop_front();
            lock.unlock();
            m_changed.notify_all();
        }
        got = std::min(capacity, m_current.size - m_current.used);
        std::memcpy(buffer, m_current.data.get() + m_current.used, got);
        m_current.used += got;
        return Status::Data;
    }
    std::uint64_t bytesRead() const noexcept override {
        return m_bytesRead.load(std::memory_order_relaxed);
    }
    std::uint64_t fileSize() const noexcept override { return m_fileSize; }

private:
    static constexpr std::size_t kChunkSize = std::size_t{256} << 10;
    static constexpr std::size_t kChunksAhead = 8;

    struct Chunk {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
        std::size_t used = 0;
    };

    void produce() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || m_full.size() < kChunksAhead; });
                if (m_stop) return;
                if (!m_free.empty()) {
                    chunk = std::move(m_free.back());
                    m_free.pop_back();
                }
            }
            if (!chunk.data) chunk.data.reset(new char[kChunkSize]);
            chunk.size = chunk.used = 0;
            Status status = Status::Data;
            std::exception_ptr failure;
            try {
                while (chunk.size < kChunkSize) {
                    std::size_t got = 0;
                    status =
                        m_inner->read(chunk.data.get() + chunk.size, kChunkSize - chunk.size, got);
                    m_bytesRead.store(m_inner->bytesRead(), std::memory_order_relaxed);
                    chunk.size += got;
                    if (status == Status::End) break;
                    // Whatever a slow pipe gave so far goes out; the stop is looked at.
                    if (status == Status::Idle && (chunk.size > 0 || stopping())) break;
                }
            } catch (...) {
                failure = std::current_exception();
            }
            // Handed on only once this thread's catch is over: from then on
            // the reader holds the exception's last reference, so the thread
            // that reads its message also frees it.
            if (failure) {
                const std::lock_guard lock(m_mutex);
                if (chunk.size > 0) m_full.push_back(std::move(chunk));
                m_failure = std::move(failure);
                m_changed.notify_all();
                return;
            }
            const std::lock_guard lock(m_mutex);
            if (chunk.size > 0) m_full.push_back(std::move(chunk));
            m_ended = status == Status::End;
            m_changed.notify_all();
            if (m_ended) return;
        }
    }

    bool stopping() {
        const std::lock_guard lock(m_mutex);
        return m_stop;
    }

    std::unique_ptr<InputSource> m_inner;  // used by the thread alone once it runs
    const std::uint64_t m_fileSize;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_full;
    std::vector<Chunk> m_free;
    bool m_ended = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::atomic<std::uint64_t> m_bytesRead{0};
    Chunk m_current;  // the reader's side
    std::thread m_thread;
};

// Reads the first bytes and then hands every read to the plain reader or to
// the unpacker that those bytes call for.
class DetectingInput final : public InputSource {
public:
    DetectingInput(RawFile file, bool byName)
        : m_size(file.size()), m_byName(byName), m_file(std::move(file)) {}

    Status read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        if (!m_chosen) {
            // The file went to an unpacker that could not start (no thread,
            // no memory): there is nothing left to read it with.
            if (!m_file) std::rethrow_exception(m_failure);
            // Text that can no longer be a packed format goes on at once: a
            // terminal hands over a short first line and waits.
            while (m_head.size < Head::kSize && mayBePacked(m_head)) {
                std::size_t n = 0;
                const Status status =
                    m_file->read(reinterpret_cast<char*>(m_head.bytes) + m_head.size,
                                 Head::kSize - m_head.size, n);
                m_headRead = m_file->bytesRead();
                if (status == Status::Idle) return Status::Idle;
                if (status == Status::End) break;
                m_head.size += n;
            }
            std::optional<RawFile> file = std::exchange(m_file, std::nullopt);
            try {
                m_chosen = choose(std::move(*file), m_head);
            } catch (...) {
                m_failure = std::current_exception();
                throw;
            }
        }
        return m_chosen->read(buffer, capacity, got);
    }
    std::uint64_t bytesRead() const noexcept override {
        return m_chosen ? m_chosen->bytesRead() : m_headRead;
    }
    std::uint64_t fileSize() const noexcept override {
        return m_chosen ? m_chosen->fileSize() : m_size;
    }
    // Standard input may have been read from before it came to us: only
    // read() knows where it stands.
    const lookup::OpenedFile* regularFile() const noexcept override {
        return m_chosen && m_byName ? m_chosen->regularFile() : nullptr;
    }

private:
    // Whether the bytes so far begin any magic that choose() looks for.
    static bool mayBePacked(const Head& head) {
        if (head.size == 0) return true;
        const auto begins = [&](std::initializer_list<unsigned char> magic) {
            const std::size_t n = std::min(head.size, magic.size());
            return std::equal(magic.begin(), magic.begin() + n, head.bytes);
        };
        // A skippable zstd frame: 0x184D2A5? written little-endian, any low nibble first.
        static constexpr unsigned char kSkippable[] = {0x2A, 0x4D, 0x18};
        const std::size_t n = std::min<std::size_t>(head.size - 1, 3);
        const bool skippable = (head.bytes[0] & 0xF0) == 0x50 &&
                               std::equal(kSkippable, kSkippable + n, head.bytes + 1);
        return skippable || begins({0x1F, 0x8B}) || begins({0xFD, '7', 'z', 'X', 'Z', 0x00}) ||
               begins({0x28, 0xB5, 0x2F, 0xFD}) || begins({'B', 'Z', 'h'});
    }

    static std::unique_ptr<InputSource> choose(RawFile file, const Head& head) {
        if (head.startsWith({0x1F, 0x8B}))
            return std::make_unique<ReadAhead>(
                std::make_unique<GzipUnpacker>(std::move(file), head));
        if (head.startsWith({0xFD, '7', 'z', 'X', 'Z', 0x00}))
            return std::make_unique<ReadAhead>(std::make_unique<XzUnpacker>(std::move(file), head));
        // A zstd frame, or a skippable frame (pzstd writes one first).
        if (head.startsWith({0x28, 0xB5, 0x2F, 0xFD}) ||
            (head.size >= 4 && (head.bytes[0] & 0xF0) == 0x50 &&
             std::equal(head.bytes + 1, head.bytes + 4, "\x2A\x4D\x18")))
            return std::make_unique<ReadAhead>(
                std::make_unique<ZstdUnpacker>(std::move(file), head));
        // "BZh" is also how a text may begin: only a digit and the magic of a
        // first block (or of the end of an empty stream) make it bzip2.
        if (head.startsWith({'B', 'Z', 'h'}) && head.size == Head::kSize && head.bytes[3] >= '1' &&
            head.bytes[3] <= '9') {
            static constexpr unsigned char block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
            static constexpr unsigned char end[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
            if (std::equal(block, block + 6, head.bytes + 4) ||
                std::equal(end, end + 6, head.bytes + 4))
                return std::make_unique<ReadAhead>(
                    std::make_unique<Bzip2Unpacker>(std::move(file), head));
        }
        return std::make_unique<PlainInput>(std::move(file), head);
    }

    std::uint64_t m_size;
    bool m_byName;
    std::uint64_t m_headRead = 0;
    std::optional<RawFile> m_file;  // until it goes to the reader chosen for it
    Head m_head;
    std::unique_ptr<InputSource> m_chosen;
    std::exception_ptr m_failure;  // why there is neither
};

}  // namespace

std::unique_ptr<InputSource> openInput(const std::string& path, bool dashIsStandardInput) {
    const bool standardInput = dashIsStandardInput && path == "-";
    auto file =
        standardInput
            ? std::make_unique<lookup::OpenedFile>(lookup::OpenedFile::StandardInput{})
            : std::make_unique<lookup::OpenedFile>(path, lookup::OpenedFile::Accept::AnyButFolder);
    return std::make_unique<DetectingInput>(RawFile(std::move(file)), !standardInput);
}

}  // namespace ipcountry::analysis
