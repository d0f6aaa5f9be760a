#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/address6.h"
#include "lookup/address_key.h"
#include "lookup/range_tree.h"

namespace ipcountry::lookup {

inline constexpr std::string_view kRangeFileName = "IP_db.dbf";
inline constexpr std::string_view kRange6FileName = "IP6_db.dbf";

// The largest range file the program reads, far beyond any real one: a larger
// one is refused rather than read into memory, and the converters refuse to
// write one.
inline constexpr std::uint64_t kMaxRangeFileBytes = 512ull << 20;

// A two-letter country code as the range file gives it (the last two
// characters of a line; a shorter line gives itself whole).
using CountryCode = std::string;

// A code as the converter writes it and every source must give it: two
// upper-case ASCII letters, whatever the locale (ZZ, no country, among them).
constexpr bool isTwoCapitals(std::string_view code) noexcept {
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    return code.size() == 2 && capital(code[0]) && capital(code[1]);
}

// The lines of a range file, split on CRLF, LF or CR. Kept for the reference
// scan and for files the index cannot answer.
std::vector<std::string> splitRangeLines(std::string_view content);

// The reference rule, answered by walking the lines in file order: the pair
// (line i, line i+1) holds the key when start(i) <= key < start(i+1), where a
// line's start is its first `keyLength` characters (8 in IP_db.dbf, 32 in
// IP6_db.dbf); the first pair that holds the key gives the code of line i. A
// key below the first start, at or above the last start, or any key of an
// empty file gets no code.
std::optional<CountryCode> findCountryCodeSequential(const std::vector<std::string>& lines,
                                                     std::string_view key,
                                                     std::size_t keyLength = kAddressKeyLength);

// The two range files differ only in the width of their addresses.
struct Ipv4Ranges {
    using Address = std::uint32_t;
    static constexpr std::size_t kKeyLength = kAddressKeyLength;
    static constexpr std::string_view kFileName = kRangeFileName;
    static std::uint32_t bucketOf(Address a) noexcept { return a >> 16; }
    // Below its bucket, an address is its lower 16 bits: a leaf line holds
    // 15 starts and their codes.
    using TreeKey = std::uint16_t;
    static constexpr bool kExactTreeKey = true;
    static constexpr std::size_t kLeafKeys = 16, kLeafCapacity = 15;
    static TreeKey treeKey(Address a) noexcept { return static_cast<TreeKey>(a); }
    static bool notAbove(Address start, Address a) noexcept { return start <= a; }
    static std::string toKey(Address a) { return addressToKey(a); }
    static std::optional<Address> fromKey(std::string_view key) noexcept {
        return keyToAddress(key);
    }
};

struct Ipv6Ranges {
    using Address = Address6;
    static constexpr std::size_t kKeyLength = kAddress6KeyLength;
    static constexpr std::string_view kFileName = kRange6FileName;
    static std::uint32_t bucketOf(Address a) noexcept {
        return static_cast<std::uint32_t>(a.high >> 48);
    }
    // The 64 bits after the bucket's: nearly every start ends within them
    // (blocks of /80 or shorter), so the prefix decides almost every lookup.
    using TreeKey = std::uint64_t;
    static constexpr bool kExactTreeKey = false;
    static constexpr std::size_t kLeafKeys = 6, kLeafCapacity = 6;
    static TreeKey treeKey(Address a) noexcept { return a.high << 16 | a.low >> 48; }
    // Written with & and | so that the compiler need not branch.
    static bool notAbove(Address start, Address a) noexcept {
        return (start.high < a.high) | ((start.high == a.high) & (start.low <= a.low));
    }
    static std::string toKey(Address a) { return address6ToKey(a); }
    static std::optional<Address> fromKey(std::string_view key) noexcept {
        return keyToAddress6(key);
    }
};

// What ties a saved index to the text it was built from: the text's size
// and modification time, and a hash of its first and last pages (which
// catches a rewrite that kept both). The time counts to the second: a
// package keeps no more of it, and an index shipped beside the packaged
// range files must still match them once installed.
struct RangeTextStamp {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::uint64_t fingerprint = 0;
    static constexpr std::int64_t seconds(std::int64_t ns) {
        return ns / 1'000'000'000 - (ns % 1'000'000'000 < 0 ? 1 : 0);
    }
    friend bool operator==(const RangeTextStamp& a, const RangeTextStamp& b) {
        return a.size == b.size && seconds(a.mtimeNs) == seconds(b.mtimeNs) &&
               a.fingerprint == b.fingerprint;
    }
};
inline constexpr std::size_t kFingerprintBytes = 4096;
std::uint64_t rangeTextFingerprint(std::string_view head, std::string_view tail) noexcept;

// Where the saved index of a range file lives: beside the file, or beside
// the file a link names, so that each generation the updater installs
// carries its own.
std::filesystem::path rangeIndexPath(const std::filesystem::path& rangeFile);

// What was found where the saved index should be, at the last reading.
enum class SavedIndex {
    Missing,  // none (or none readable)
    Used,     // it matched the text and answered
    Stale,    // it was built from another text
    Damaged,  // it is not an index this program wrote, or it was cut short
};

// The parsed range file: a sorted index when every line is well formed
// (the start in upper-case hex digits, then a code) and the starts never
// descend; otherwise the lines themselves, answered by the reference scan.
template <class Family>
class BasicRangeIndex {
public:
    using Address = typename Family::Address;

    static BasicRangeIndex fromContent(std::string_view content);
    // The index saved for the text `stamp` describes, mapped as it is:
    // nothing to parse. nullopt, with `found` saying why, when there is none,
    // it is stale or it is damaged.
    static std::optional<BasicRangeIndex> fromSavedIndex(const std::filesystem::path& path,
                                                         const RangeTextStamp& stamp,
                                                         SavedIndex& found);
    // Saves an indexed file's tables for fromSavedIndex, replacing the file
    // at `path` in one step. False when it cannot be written (a read-only
    // folder): the index is only a shortcut, the text stays the data.
    bool saveIndex(const std::filesystem::path& path, const RangeTextStamp& stamp) const;

    BasicRangeIndex() = default;
    // The tables are read through spans into the index's own vectors, or
    // into a mapped file it keeps: moved, never copied.
    BasicRangeIndex(const BasicRangeIndex&) = delete;
    BasicRangeIndex& operator=(const BasicRangeIndex&) = delete;
    BasicRangeIndex(BasicRangeIndex&&) noexcept = default;
    BasicRangeIndex& operator=(BasicRangeIndex&&) noexcept = default;

    // The reference rule's answer for an address (findCountryCodeSequential
    // on its key).
    std::optional<CountryCode> findCountryCode(Address address) const;
    // The same, as two packed characters; 0 when there is no code. Only for
    // indexed files (usesIndex()); falls back to the reference scan otherwise.
    std::uint16_t findPackedCode(Address address) const {
        if (m_treed) {
            const std::uint32_t code = m_tree.find(address);
            if (code != RangeTree<Family>::kUnsure) return static_cast<std::uint16_t>(code);
        }
        return findPackedCodeExactly(address);
    }

    bool usesIndex() const noexcept { return m_indexed; }
    // Whole as the converter writes a range file: lines of a start and two
    // capital letters, the starts rising from address 0, the last line a ZZ
    // line ended by a line end. Kept in the saved index.
    bool wholeFile() const noexcept { return m_whole; }
    // Indexed: each line's start and packed code, in file order.
    std::span<const Address> starts() const noexcept { return m_starts; }
    std::span<const std::uint16_t> codes() const noexcept { return m_codes; }

    // findPackedCode for each of `addresses`, into `codes` (same size), the
    // memory reads of the lookups overlapped (RangeTree::findEach).
    void findPackedCodes(const Address* addresses, std::uint16_t* codes, std::size_t n) const {
        constexpr std::size_t kBatch = 64;
        std::uint32_t found[kBatch];
        for (std::size_t first = 0; first < n; first += kBatch) {
            const std::size_t count = std::min(kBatch, n - first);
            if (m_treed)
                m_tree.findEach(addresses + first, found, count);
            else
                std::fill_n(found, count, RangeTree<Family>::kUnsure);
            for (std::size_t i = 0; i < count; ++i)
                codes[first + i] = found[i] != RangeTree<Family>::kUnsure
                                       ? static_cast<std::uint16_t>(found[i])
                                       : findPackedCodeExactly(addresses[first + i]);
        }
    }

private:
    std::uint16_t findPackedCodeExactly(Address address) const;

    bool m_indexed = false;
    bool m_whole = false;
    bool m_treed = false;                    // indexed, and m_tree answers
    std::span<const Address> m_starts;       // indexed: the start of each line
    std::span<const std::uint16_t> m_codes;  // indexed: the code of each line, packed
    // indexed, where built: for each value of an address's upper 16 bits, the
    // first line whose start has that value or more; narrows the exact
    // search to a bucket.
    std::span<const std::uint32_t> m_buckets;
    // What the spans point into: the tables parsed here, or a saved index.
    std::vector<Address> m_ownStarts;
    std::vector<std::uint16_t> m_ownCodes;
    std::vector<std::uint32_t> m_ownBuckets;
    std::shared_ptr<const void> m_mapping;
    // indexed: the same answers in about two cache lines, where it is sure.
    RangeTree<Family> m_tree;
    std::vector<std::string> m_lines;  // not indexed: the lines for the reference scan
};

using RangeIndex = BasicRangeIndex<Ipv4Ranges>;
using Range6Index = BasicRangeIndex<Ipv6Ranges>;
extern template class BasicRangeIndex<Ipv4Ranges>;
extern template class BasicRangeIndex<Ipv6Ranges>;

// Two characters as one number, the first in the high byte.
inline std::uint16_t packCode(std::string_view twoChars) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(twoChars[0]) << 8) |
                                      static_cast<unsigned char>(twoChars[1]));
}

inline CountryCode unpackCode(std::uint16_t packed) {
    return CountryCode{static_cast<char>(packed >> 8), static_cast<char>(packed & 0xFF)};
}

// IP_db.dbf (RangeFile) or IP6_db.dbf (Range6File) of a data directory.
// Every operation calls open() first: it opens the file (so a missing file is
// that operation's FileNotFound error), checks its identity (device, inode,
// size, modification time) and re-reads it only when that changed. Lookups in
// between cost a binary search. Reading maps the index saved beside the file
// when it matches the text; otherwise the text is parsed and the index saved
// anew where the folder allows.
template <class Family>
class BasicRangeFile {
public:
    using Address = typename Family::Address;

    explicit BasicRangeFile(std::filesystem::path dataDir);

    // Throws Error(FileNotFound / FileUnreadable) naming the file.
    void open();

    // Whether a reading that had to parse the text saves its index beside
    // it for the next run. Off unless the folder is the user's own
    // (DataFolders::rangeIndexSaved): a run never writes into a packaged or
    // system folder, whose index comes with the files.
    void saveIndexBeside(bool save) noexcept { m_saveIndex = save; }

    // From the first load on, open() answers from it whatever becomes of the
    // file: a run that must not mix data (the driver's, over many inputs).
    void keepFirstLoad() noexcept { m_keepFirst = true; }

    // The index of the last open(); call open() first.
    const BasicRangeIndex<Family>& index() const;

    const std::filesystem::path& path() const noexcept { return m_path; }
    // How often the file was read (parsed, or its saved index mapped); for
    // tests of the cache.
    int loadCount() const noexcept { return m_loads; }
    // At the last reading: what was found where the saved index lives, and
    // whether a new one was saved there.
    SavedIndex savedIndex() const noexcept { return m_savedIndex; }
    bool indexSaved() const noexcept { return m_indexSaved; }

private:
    struct Identity {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Identity&) const = default;
    };
    std::filesystem::path m_path;
    std::optional<Identity> m_identity;
    std::shared_ptr<const BasicRangeIndex<Family>> m_index;
    int m_loads = 0;
    SavedIndex m_savedIndex = SavedIndex::Missing;
    bool m_indexSaved = false;
    bool m_keepFirst = false;
    bool m_saveIndex = false;
};

// Reads the range file at `rangeFile` and saves its index beside it, for the
// tools that write range files; true when a matching index is there after.
// A file that cannot be read or indexed is left to its readers to report.
template <class Family>
bool saveRangeIndexOf(const std::filesystem::path& rangeFile);
extern template bool saveRangeIndexOf<Ipv4Ranges>(const std::filesystem::path&);
extern template bool saveRangeIndexOf<Ipv6Ranges>(const std::filesystem::path&);

// Whether the range file at `rangeFile` is whole (wholeFile()); false for one
// that cannot be read. Answered by its saved index where one matches, so
// that choosing a data folder costs no parse; writes nothing.
template <class Family>
bool rangeFileIsWhole(const std::filesystem::path& rangeFile);
extern template bool rangeFileIsWhole<Ipv4Ranges>(const std::filesystem::path&);
extern template bool rangeFileIsWhole<Ipv6Ranges>(const std::filesystem::path&);

using RangeFile = BasicRangeFile<Ipv4Ranges>;
using Range6File = BasicRangeFile<Ipv6Ranges>;
extern template class BasicRangeFile<Ipv4Ranges>;
extern template class BasicRangeFile<Ipv6Ranges>;

}  // namespace ipcountry::lookup
