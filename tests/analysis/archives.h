#pragma once

// Archives written in the tests themselves, with the libraries the reader
// unpacks them with, so that no compressed file needs to be committed for a
// case: one member, stream or frame at a time, joined and cut as a case asks.
#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ipcountry::analysis::testing {

enum class Format { Gzip, Bzip2, Xz, Zstd };

// One gzip member, bzip2 stream, xz stream or zstd frame (with its
// checksum) holding `text`; bzip2 in blocks of 100 kB, so a long text has several.
inline std::string pack(Format format, std::string_view text) {
    std::string out(text.size() + text.size() / 2 + 1024, '\0');
    auto* in = reinterpret_cast<const unsigned char*>(text.data());
    auto* dest = reinterpret_cast<unsigned char*>(out.data());
    std::size_t size = 0;
    bool ok = false;
    switch (format) {
        case Format::Gzip: {
            // Zeroed first: the init leaves fields that the header is written
            // from, and a member's flags byte then held whatever the stack
            // held (a name added to it read as damage, now and then).
            isal_zstream stream{};
            isal_deflate_stateless_init(&stream);
            stream.gzip_flag = IGZIP_GZIP;
            stream.end_of_stream = 1;
            stream.next_in = const_cast<unsigned char*>(in);
            stream.avail_in = static_cast<std::uint32_t>(text.size());
            stream.next_out = dest;
            stream.avail_out = static_cast<std::uint32_t>(out.size());
            ok = isal_deflate_stateless(&stream) == COMP_OK;
            size = stream.total_out;
            break;
        }
        case Format::Bzip2: {
            unsigned length = static_cast<unsigned>(out.size());
            ok = BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(text.data()),
                                          static_cast<unsigned>(text.size()), 1, 0, 0) == BZ_OK;
            size = length;
            break;
        }
        case Format::Xz:
            ok = lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, in, text.size(), dest, &size,
                                         out.size()) == LZMA_OK;
            break;
        case Format::Zstd: {
            ZSTD_CCtx* context = ZSTD_createCCtx();
            ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
            size = ZSTD_compress2(context, dest, out.size(), in, text.size());
            ok = !ZSTD_isError(size);
            ZSTD_freeCCtx(context);
            break;
        }
    }
    if (!ok) throw std::runtime_error("packing failed");
    out.resize(size);
    return out;
}

// What the library itself makes of `bytes`, given all at once: the text of
// the members, streams or frames one after another, up to the first damage
// or the end of the bytes, whichever comes first.
inline std::string unpackAsFarAsPossible(Format format, std::string_view bytes) {
    std::string text;
    char out[64 << 10];
    auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t pos = 0;
    switch (format) {
        case Format::Gzip:
            while (pos < bytes.size()) {
                inflate_state state;
                isal_inflate_init(&state);
                state.crc_flag = ISAL_GZIP;
                state.next_in = const_cast<unsigned char*>(in + pos);
                state.avail_in = static_cast<std::uint32_t>(bytes.size() - pos);
                int result = ISAL_DECOMP_OK;
                do {
                    state.next_out = reinterpret_cast<unsigned char*>(out);
                    state.avail_out = sizeof out;
                    result = isal_inflate(&state);
                    text.append(out, sizeof out - state.avail_out);
                } while (result == ISAL_DECOMP_OK && state.block_state != ISAL_BLOCK_FINISH &&
                         state.avail_out == 0);
                if (result != ISAL_DECOMP_OK || state.block_state != ISAL_BLOCK_FINISH) break;
                pos = bytes.size() - state.avail_in;
            }
            break;
        case Format::Bzip2:
            while (pos < bytes.size()) {
                bz_stream stream{};
                BZ2_bzDecompressInit(&stream, 0, 0);
                stream.next_in = const_cast<char*>(bytes.data() + pos);
                stream.avail_in = static_cast<unsigned>(bytes.size() - pos);
                int result = BZ_OK;
                do {
                    stream.next_out = out;
                    stream.avail_out = sizeof out;
                    result = BZ2_bzDecompress(&stream);
                    text.append(out, sizeof out - stream.avail_out);
                } while (result == BZ_OK && (stream.avail_in > 0 || stream.avail_out == 0));
                pos = bytes.size() - stream.avail_in;
                BZ2_bzDecompressEnd(&stream);
                if (result != BZ_STREAM_END) break;
            }
            break;
        case Format::Xz: {
            lzma_stream stream = LZMA_STREAM_INIT;
            if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
                throw std::bad_alloc();
            stream.next_in = in;
            stream.avail_in = bytes.size();
            lzma_ret result = LZMA_OK;
            do {
                stream.next_out = reinterpret_cast<unsigned char*>(out);
                stream.avail_out = sizeof out;
                result = lzma_code(&stream, LZMA_FINISH);
                text.append(out, sizeof out - stream.avail_out);
            } while (result == LZMA_OK);
            lzma_end(&stream);
            break;
        }
        case Format::Zstd: {
            // A call that fails forgets what it wrote before it failed: a
            // byte at a time, and input only once nothing is left to write,
            // so that only a call that writes nothing can fail.
            ZSTD_DStream* stream = ZSTD_createDStream();
            bool wrote = false;
            for (;;) {
                ZSTD_inBuffer input{bytes.data(), std::min(bytes.size(), pos + (wrote ? 0 : 1)),
                                    pos};
                ZSTD_outBuffer output{out, 1, 0};
                const std::size_t result = ZSTD_decompressStream(stream, &output, &input);
                if (ZSTD_isError(result)) break;
                pos = input.pos;
                wrote = output.pos > 0;
                text.append(out, output.pos);
                if (!wrote && pos == bytes.size()) break;
            }
            ZSTD_freeDStream(stream);
            break;
        }
    }
    return text;
}

}  // namespace ipcountry::analysis::testing
