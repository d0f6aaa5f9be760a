// The reader on any bytes: plain text, or damaged and cut-short archives of
// every format it unpacks. It must end, with lines or with an error that
// names the file, and never hand out more than its buffer holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/ipv4_scanner.h"
#include "analysis/line_reader.h"
#include "lookup/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    constexpr std::size_t kBlock = 64;
    try {
        ipcountry::analysis::LineReader reader;
        reader.open(path, kBlock);
        ipcountry::analysis::Ipv4Scanner scanner;
        std::uint64_t unpacked = 0;
        std::string_view piece;
        bool lineEnds = false;
        // A tiny input may unpack to gigabytes; a few megabytes show as much.
        while (unpacked < (std::uint64_t{8} << 20) &&
               reader.next(piece, lineEnds) != ipcountry::analysis::LineReader::Next::End) {
            if (piece.size() > 2 * kBlock || reader.bytesRead() > size) std::abort();
            unpacked += piece.size();
            scanner.feed(piece, [](const ipcountry::analysis::FoundAddress&) {});
            if (lineEnds) scanner.endLine([](const ipcountry::analysis::FoundAddress&) {});
        }
    } catch (const ipcountry::lookup::Error& error) {
        if (std::string(error.what()).find(path) == std::string::npos) std::abort();
    }
    ::close(fd);
    return 0;
}
