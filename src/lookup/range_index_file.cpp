// The index of a range file saved beside it, so that opening the data costs
// a mapping instead of a parse. The file is the tables as they sit in memory,
// each at a 64-byte boundary after a header:
//
//   header | starts | codes | exact-search buckets | tree buckets | inner | leaves
//
// in the byte order of the machine that wrote it (a file from another is
// refused as damaged and rebuilt). Nothing in it is trusted: the header says
// whose text it was built from and is checked by a hash, every count must
// fit the file's size, and every lookup keeps the indexes it reads from the
// tables within them, so that damage the header cannot show gives at worst
// wrong codes. The tables are not read through at opening: that would cost
// what the file is there to save.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "lookup/range_file.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[8] = {'I', 'P', 'C', 'R', 'I', 'D', 'X', '1'};
constexpr std::uint32_t kByteOrder = 0x01020304;
constexpr std::size_t kAlign = 64;

struct Header {
    char magic[8];
    std::uint32_t byteOrder;
    std::uint32_t keyLength;  // which family: 8 or 32
    RangeTextStamp text;
    std::uint64_t starts;       // codes: as many
    std::uint64_t buckets;      // 0, or 65537
    std::uint64_t treeBuckets;  // 0 when the tree was not built
    std::uint64_t inner;
    std::uint64_t leaves;
    std::uint64_t whole;  // 1 when the text is whole (wholeFile())
    std::uint64_t check;  // the hash of everything above
};

std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash = 0xcbf29ce484222325u) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
    return hash;
}

std::uint64_t headerCheck(const Header& header) { return fnv1a(&header, offsetof(Header, check)); }

std::uint64_t aligned(std::uint64_t offset) { return (offset + kAlign - 1) / kAlign * kAlign; }

// Where each table starts, and where the file ends, for the header's counts.
// Counts beyond any file are kept from overflowing by the caller's check.
template <class Family, class Tree>
struct Layout {
    std::uint64_t starts, codes, buckets, treeBuckets, inner, leaves, end;
    explicit Layout(const Header& h) {
        starts = aligned(sizeof(Header));
        codes = aligned(starts + h.starts * sizeof(typename Family::Address));
        buckets = aligned(codes + h.starts * sizeof(std::uint16_t));
        treeBuckets = aligned(buckets + h.buckets * sizeof(std::uint32_t));
        inner = aligned(treeBuckets + h.treeBuckets * sizeof(std::uint32_t));
        leaves = aligned(inner + h.inner * sizeof(typename Tree::Inner));
        end = leaves + h.leaves * sizeof(typename Tree::Leaf);
    }
};

}  // namespace

namespace {

// Eight bytes a step: a start-up reads two pages for it.
std::uint64_t mixWords(std::string_view text, std::uint64_t hash) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        hash = (hash ^ word) * 0x9E3779B97F4A7C15u;
        hash ^= hash >> 29;
    }
    return fnv1a(text.data() + i, text.size() - i, hash);
}

}  // namespace

std::uint64_t rangeTextFingerprint(std::string_view head, std::string_view tail) noexcept {
    return mixWords(tail, mixWords(head, 0xcbf29ce484222325u ^ head.size() ^ tail.size() << 32));
}

fs::path rangeIndexPath(const fs::path& rangeFile) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(rangeFile, ec);
    fs::path text = ec                     ? rangeFile
                    : target.is_absolute() ? target
                                           : rangeFile.parent_path() / target;
    text += ".index";
    return text;
}

template <class Family>
std::optional<BasicRangeIndex<Family>> BasicRangeIndex<Family>::fromSavedIndex(
    const fs::path& path, const RangeTextStamp& stamp, SavedIndex& found) {
    using Tree = RangeTree<Family>;
    found = SavedIndex::Missing;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    Header header{};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      ::pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    if (!read) {
        ::close(fd);
        found = SavedIndex::Damaged;
        return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    const bool sound = std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 &&
                       header.byteOrder == kByteOrder && header.keyLength == Family::kKeyLength &&
                       header.check == headerCheck(header) && header.starts <= fileSize &&
                       header.buckets <= fileSize && header.treeBuckets <= fileSize &&
                       header.inner <= fileSize && header.leaves <= fileSize &&
                       Layout<Family, Tree>(header).end == fileSize;
    if (!sound) {
        ::close(fd);
        found = SavedIndex::Damaged;
        return std::nullopt;
    }
    if (!(header.text == stamp)) {
        ::close(fd);
        found = SavedIndex::Stale;
        return std::nullopt;
    }
    void* address = ::mmap(nullptr, fileSize, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (address == MAP_FAILED) return std::nullopt;
    auto mapping = std::shared_ptr<const void>(
        address, [fileSize](const void* p) { ::munmap(const_cast<void*>(p), fileSize); });
    const auto* base = static_cast<const char*>(address);
    const Layout<Family, Tree> at(header);
    const auto table = [base](std::uint64_t offset, std::uint64_t count, auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        return std::span<const T>(reinterpret_cast<const T*>(base + offset),
                                  static_cast<std::size_t>(count));
    };
    BasicRangeIndex index;
    index.m_indexed = true;
    index.m_whole = header.whole == 1;
    index.m_starts = table(at.starts, header.starts, static_cast<Address*>(nullptr));
    index.m_codes = table(at.codes, header.starts, static_cast<std::uint16_t*>(nullptr));
    index.m_buckets = table(at.buckets, header.buckets, static_cast<std::uint32_t*>(nullptr));
    // The exact search keeps its buckets within the starts (findPackedCodeExactly).
    bool tablesSound = header.buckets == 0 || header.buckets == (std::size_t{1} << 16) + 1;
    if (tablesSound && header.treeBuckets != 0) {
        index.m_treed = index.m_tree.adopt(
            table(at.treeBuckets, header.treeBuckets, static_cast<std::uint32_t*>(nullptr)),
            table(at.inner, header.inner, static_cast<typename Tree::Inner*>(nullptr)),
            table(at.leaves, header.leaves, static_cast<typename Tree::Leaf*>(nullptr)));
        tablesSound = index.m_treed;
    }
    if (!tablesSound) {
        found = SavedIndex::Damaged;
        return std::nullopt;
    }
    index.m_mapping = std::move(mapping);
    found = SavedIndex::Used;
    return index;
}

template <class Family>
bool BasicRangeIndex<Family>::saveIndex(const fs::path& path, const RangeTextStamp& stamp) const {
    using Tree = RangeTree<Family>;
    if (!m_indexed) return false;
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.byteOrder = kByteOrder;
    header.keyLength = static_cast<std::uint32_t>(Family::kKeyLength);
    header.text = stamp;
    header.starts = m_starts.size();
    header.buckets = m_buckets.size();
    header.whole = m_whole ? 1 : 0;
    if (m_treed) {
        header.treeBuckets = m_tree.buckets().size();
        header.inner = m_tree.inner().size();
        header.leaves = m_tree.leaves().size();
    }
    header.check = headerCheck(header);
    const Layout<Family, Tree> at(header);
    std::string bytes(at.end, '\0');
    const auto put = [&bytes](std::uint64_t offset, auto span) {
        if (!span.empty()) std::memcpy(bytes.data() + offset, span.data(), span.size_bytes());
    };
    put(0, std::span<const Header>(&header, 1));
    put(at.starts, m_starts);
    put(at.codes, m_codes);
    put(at.buckets, m_buckets);
    if (m_treed) {
        put(at.treeBuckets, m_tree.buckets());
        put(at.inner, m_tree.inner());
        put(at.leaves, m_tree.leaves());
    }
    // Written under a name of its own and renamed over the old: a reader
    // sees the old index or the new, whole, and two writers cannot mix.
    std::string scratch = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(scratch.data());
    if (fd < 0) return false;
    bool written = ::fchmod(fd, 0644) == 0;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(scratch.c_str(), path.c_str()) != 0) {
        ::unlink(scratch.c_str());
        return false;
    }
    return true;
}

template std::optional<BasicRangeIndex<Ipv4Ranges>> BasicRangeIndex<Ipv4Ranges>::fromSavedIndex(
    const fs::path&, const RangeTextStamp&, SavedIndex&);
template std::optional<BasicRangeIndex<Ipv6Ranges>> BasicRangeIndex<Ipv6Ranges>::fromSavedIndex(
    const fs::path&, const RangeTextStamp&, SavedIndex&);
template bool BasicRangeIndex<Ipv4Ranges>::saveIndex(const fs::path&, const RangeTextStamp&) const;
template bool BasicRangeIndex<Ipv6Ranges>::saveIndex(const fs::path&, const RangeTextStamp&) const;

}  // namespace ipcountry::lookup
