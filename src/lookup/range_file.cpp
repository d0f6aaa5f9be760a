#include "lookup/range_file.h"

#include <unistd.h>

#include <algorithm>

#include "lookup/error.h"
#include "lookup/line_ends.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {
namespace {

constexpr std::uint32_t kBuckets = 1u << 16;

// The last two characters; a shorter line is its own code.
std::string_view codeOf(std::string_view line) {
    return line.size() < 2 ? line : line.substr(line.size() - 2);
}

// The first start above the address. Branch-free, so that random addresses
// cost no mispredicted jumps: the loop runs the same steps whatever the answer.
template <class Family, class Iterator>
Iterator firstStartAbove(Iterator first, Iterator last, const typename Family::Address& address) {
    std::size_t n = static_cast<std::size_t>(last - first);
    if (n == 0) return first;
    while (n > 1) {
        const std::size_t half = n / 2;
        first += Family::notAbove(first[half], address) ? static_cast<std::ptrdiff_t>(half) : 0;
        n -= half;
    }
    return first + (Family::notAbove(*first, address) ? 1 : 0);
}

// The stamp of the text as it is on disk: its first and last pages read, not
// the whole. nullopt when they cannot be read (the text is then parsed,
// which says why).
std::optional<RangeTextStamp> stampOf(OpenedFile& file) {
    const std::size_t edge =
        static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), kFingerprintBytes));
    char head[kFingerprintBytes], tail[kFingerprintBytes];
    const auto readAt = [&](char* buffer, std::uint64_t offset) {
        return ::pread(file.descriptor(), buffer, edge, static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(edge);
    };
    if (!readAt(head, 0) || !readAt(tail, file.size() - edge)) return std::nullopt;
    return RangeTextStamp{file.size(), file.mtimeNs(),
                          rangeTextFingerprint({head, edge}, {tail, edge})};
}

}  // namespace

std::vector<std::string> splitRangeLines(std::string_view content) {
    std::vector<std::string> lines;
    forEachLine(content, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::optional<CountryCode> findCountryCodeSequential(const std::vector<std::string>& lines,
                                                     std::string_view key, std::size_t keyLength) {
    auto startOf = [keyLength](std::string_view line) { return line.substr(0, keyLength); };
    if (lines.empty() || key < startOf(lines.front())) return std::nullopt;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        // A range's first address belongs to it: the lower bound is inclusive.
        if (startOf(lines[i]) <= key && key < startOf(lines[i + 1])) {
            return CountryCode(codeOf(lines[i]));
        }
    }
    return std::nullopt;
}

template <class Family>
BasicRangeIndex<Family> BasicRangeIndex<Family>::fromContent(std::string_view content) {
    BasicRangeIndex index;
    // A line is at least a key, a code and a line end: room for every line
    // at once, so that the vectors never move while they fill.
    const std::size_t mostLines = content.size() / (Family::kKeyLength + 3) + 1;
    index.m_ownStarts.reserve(mostLines);
    index.m_ownCodes.reserve(mostLines);
    bool wellFormed = true;
    // Whole as the converter writes a file: every line a start and two
    // capital letters, the starts rising from 0, a ZZ line last, ended.
    bool whole = !content.empty() && content.back() == '\n';
    std::string_view lastCode;
    forEachLine(content, [&](std::string_view line) {
        if (!wellFormed) return;
        const auto parsed = line.size() < Family::kKeyLength + 2
                                ? std::nullopt
                                : Family::fromKey(line.substr(0, Family::kKeyLength));
        if (!parsed) {
            wellFormed = false;
            return;
        }
        const Address start = *parsed;
        const auto code = codeOf(line);
        if (code[0] == '\0' && code[1] == '\0') {
            wellFormed = false;
            return;
        }
        // Repeated starts are fine for the binary search; descending ones are not.
        if (!index.m_ownStarts.empty() && start < index.m_ownStarts.back()) {
            wellFormed = false;
            return;
        }
        if (whole) {
            whole =
                line.size() == Family::kKeyLength + 2 && isTwoCapitals(code) &&
                (index.m_ownStarts.empty() ? start == Address{} : index.m_ownStarts.back() < start);
        }
        lastCode = code;
        index.m_ownStarts.push_back(start);
        index.m_ownCodes.push_back(packCode(code));
    });
    index.m_whole = wellFormed && whole && lastCode == "ZZ";
    if (wellFormed) {
        index.m_indexed = true;
        // The room reserved beyond the last line is never touched, so it
        // costs no memory; shrinking would copy every start at start-up.
        index.m_treed = index.m_tree.build(index.m_ownStarts, index.m_ownCodes);
        // The tree sends IPv4 addresses here only for the last address of a
        // bucket, and only when it could not be built: those can search
        // every start. IPv6 prefixes that cannot tell are common enough to
        // narrow their search to the bucket.
        if (!index.m_treed || !Family::kExactTreeKey) {
            index.m_ownBuckets.resize(kBuckets + 1);
            std::size_t line = 0;
            for (std::uint32_t b = 0; b < kBuckets; ++b) {
                while (line < index.m_ownStarts.size() &&
                       Family::bucketOf(index.m_ownStarts[line]) < b)
                    ++line;
                index.m_ownBuckets[b] = static_cast<std::uint32_t>(line);
            }
            index.m_ownBuckets[kBuckets] = static_cast<std::uint32_t>(index.m_ownStarts.size());
        }
    } else {
        index.m_ownStarts.clear();
        index.m_ownCodes.clear();
        index.m_ownStarts.shrink_to_fit();
        index.m_ownCodes.shrink_to_fit();
        index.m_lines = splitRangeLines(content);
    }
    index.m_starts = index.m_ownStarts;
    index.m_codes = index.m_ownCodes;
    index.m_buckets = index.m_ownBuckets;
    return index;
}

template <class Family>
std::uint16_t BasicRangeIndex<Family>::findPackedCodeExactly(Address address) const {
    if (!m_indexed) {
        const auto code =
            findCountryCodeSequential(m_lines, Family::toKey(address), Family::kKeyLength);
        if (!code) return 0;
        return packCode(code->size() == 2 ? *code : (*code + std::string(2, '\0')).substr(0, 2));
    }
    // The last start at or below the address opens its range; the last line
    // only closes the one before it.
    // Lines outside the address's bucket start either below it or above it,
    // so searching the bucket alone finds the same first start above it.
    auto first = m_starts.begin();
    auto last = m_starts.end();
    if (!m_buckets.empty()) {
        // Within the starts whatever a saved index holds.
        const std::uint32_t bucket = Family::bucketOf(address);
        const std::size_t from = std::min<std::size_t>(m_buckets[bucket], m_starts.size());
        first = m_starts.begin() + static_cast<std::ptrdiff_t>(from);
        last = m_starts.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(
                                      m_buckets[bucket + 1], from, m_starts.size()));
    }
    const auto it = firstStartAbove<Family>(first, last, address);
    if (it == m_starts.begin() || it == m_starts.end()) return 0;
    return m_codes[static_cast<std::size_t>(it - m_starts.begin()) - 1];
}

template <class Family>
std::optional<CountryCode> BasicRangeIndex<Family>::findCountryCode(Address address) const {
    if (!m_indexed)
        return findCountryCodeSequential(m_lines, Family::toKey(address), Family::kKeyLength);
    const std::uint16_t packed = findPackedCode(address);
    if (packed == 0) return std::nullopt;
    return unpackCode(packed);
}

template <class Family>
BasicRangeFile<Family>::BasicRangeFile(std::filesystem::path dataDir)
    : m_path(std::move(dataDir) / std::string(Family::kFileName)) {}

namespace {

// The index of an open range file: its saved index where that matches the
// text, else the text parsed, and with `save` its index saved anew where it can be.
template <class Family>
BasicRangeIndex<Family> readRanges(OpenedFile& file, const std::filesystem::path& indexPath,
                                   bool save, SavedIndex& found, bool& saved) {
    found = SavedIndex::Missing;
    saved = false;
    if (const auto stamp = stampOf(file))
        if (auto index = BasicRangeIndex<Family>::fromSavedIndex(indexPath, *stamp, found))
            return std::move(*index);
    const std::string content = file.readAll(kMaxRangeFileBytes);
    auto index = BasicRangeIndex<Family>::fromContent(content);
    // Stamped from the bytes parsed, so that a file rewritten meanwhile gets
    // an index that does not match it rather than a wrong one.
    const std::string_view text(content);
    const std::size_t edge = std::min(text.size(), kFingerprintBytes);
    const RangeTextStamp stamp{
        text.size(), file.mtimeNs(),
        rangeTextFingerprint(text.substr(0, edge), text.substr(text.size() - edge))};
    if (save && index.usesIndex() && text.size() == file.size())
        saved = index.saveIndex(indexPath, stamp);
    return index;
}

}  // namespace

template <class Family>
void BasicRangeFile<Family>::open() {
    if (m_keepFirst && m_index) return;
    OpenedFile file(m_path);
    const Identity identity{file.device(), file.inode(), file.size(), file.mtimeNs()};
    if (m_index && m_identity == identity) return;
    m_index = std::make_shared<const BasicRangeIndex<Family>>(
        readRanges<Family>(file, rangeIndexPath(m_path), m_saveIndex, m_savedIndex, m_indexSaved));
    m_identity = identity;
    ++m_loads;
}

template <class Family>
bool saveRangeIndexOf(const std::filesystem::path& rangeFile) {
    try {
        OpenedFile file(rangeFile);
        SavedIndex found{};
        bool saved = false;
        readRanges<Family>(file, rangeIndexPath(rangeFile), true, found, saved);
        return saved || found == SavedIndex::Used;
    } catch (const Error&) {
        return false;
    }
}

template bool saveRangeIndexOf<Ipv4Ranges>(const std::filesystem::path&);
template bool saveRangeIndexOf<Ipv6Ranges>(const std::filesystem::path&);

template <class Family>
const BasicRangeIndex<Family>& BasicRangeFile<Family>::index() const {
    static const BasicRangeIndex<Family> empty;
    return m_index ? *m_index : empty;
}

template <class Family>
bool rangeFileIsWhole(const std::filesystem::path& rangeFile) {
    // The usual answer for a place that holds no data, without an exception.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(rangeFile, ec)) return false;
    try {
        OpenedFile file(rangeFile);
        SavedIndex found{};
        bool saved = false;
        return readRanges<Family>(file, rangeIndexPath(rangeFile), false, found, saved).wholeFile();
    } catch (const Error&) {
        return false;  // missing, unreadable, a folder, too large
    }
}

template bool rangeFileIsWhole<Ipv4Ranges>(const std::filesystem::path&);
template bool rangeFileIsWhole<Ipv6Ranges>(const std::filesystem::path&);

template class BasicRangeIndex<Ipv4Ranges>;
template class BasicRangeIndex<Ipv6Ranges>;
template class BasicRangeFile<Ipv4Ranges>;
template class BasicRangeFile<Ipv6Ranges>;

}  // namespace ipcountry::lookup
