#include "lookup/range_file.h"

#include <algorithm>

#include "lookup/address_key.h"
#include "lookup/error.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {
namespace {

// A range file far beyond any real one is refused rather than read into memory.
constexpr std::uint64_t kMaxRangeFileBytes = 512ull << 20;
constexpr std::uint32_t kBuckets = 1u << 16;

std::string_view startOf(std::string_view line) { return line.substr(0, kAddressKeyLength); }

// The last two characters; a shorter line is its own code.
std::string_view codeOf(std::string_view line) {
    return line.size() < 2 ? line : line.substr(line.size() - 2);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::vector<std::string> splitRangeLines(std::string_view content) {
    std::vector<std::string> lines;
    forEachLine(content, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::optional<CountryCode> findCountryCodeSequential(const std::vector<std::string>& lines,
                                                     std::string_view key) {
    if (lines.empty() || key < startOf(lines.front())) return std::nullopt;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        // A range's first address belongs to it: the lower bound is inclusive.
        if (startOf(lines[i]) <= key && key < startOf(lines[i + 1])) {
            return CountryCode(codeOf(lines[i]));
        }
    }
    return std::nullopt;
}

RangeIndex RangeIndex::fromContent(std::string_view content) {
    RangeIndex index;
    bool wellFormed = true;
    forEachLine(content, [&](std::string_view line) {
        if (!wellFormed) return;
        std::uint32_t start = 0;
        if (line.size() < kAddressKeyLength + 2) {
            wellFormed = false;
            return;
        }
        for (std::size_t i = 0; i < kAddressKeyLength; ++i) {
            const int v = hexValue(line[i]);
            if (v < 0) {
                wellFormed = false;
                return;
            }
            start = (start << 4) | static_cast<std::uint32_t>(v);
        }
        const auto code = codeOf(line);
        if (code[0] == '\0' && code[1] == '\0') {
            wellFormed = false;
            return;
        }
        // Repeated starts are fine for the binary search; descending ones are not.
        if (!index.m_starts.empty() && start < index.m_starts.back()) {
            wellFormed = false;
            return;
        }
        index.m_starts.push_back(start);
        index.m_codes.push_back(packCode(code));
    });
    if (wellFormed) {
        index.m_indexed = true;
        index.m_starts.shrink_to_fit();
        index.m_codes.shrink_to_fit();
        index.m_buckets.resize(kBuckets + 1);
        std::size_t line = 0;
        for (std::uint32_t b = 0; b < kBuckets; ++b) {
            while (line < index.m_starts.size() && (index.m_starts[line] >> 16) < b) ++line;
            index.m_buckets[b] = static_cast<std::uint32_t>(line);
        }
        index.m_buckets[kBuckets] = static_cast<std::uint32_t>(index.m_starts.size());
    } else {
        index.m_starts.clear();
        index.m_codes.clear();
        index.m_starts.shrink_to_fit();
        index.m_codes.shrink_to_fit();
        index.m_lines = splitRangeLines(content);
    }
    return index;
}

std::size_t RangeIndex::lineCount() const noexcept {
    return m_indexed ? m_starts.size() : m_lines.size();
}

std::uint16_t RangeIndex::findPackedCode(std::uint32_t address) const {
    if (!m_indexed) {
        const auto code = findCountryCodeSequential(m_lines, addressToKey(address));
        if (!code) return 0;
        return packCode(code->size() == 2 ? *code : (*code + std::string(2, '\0')).substr(0, 2));
    }
    // The last start at or below the address opens its range; the last line
    // only closes the one before it.
    // Lines outside the address's bucket start either below it or above it,
    // so searching the bucket alone finds the same first start above it.
    const std::uint32_t bucket = address >> 16;
    const auto first = m_starts.begin() + m_buckets[bucket];
    const auto last = m_starts.begin() + m_buckets[bucket + 1];
    const auto it = std::upper_bound(first, last, address);
    if (it == m_starts.begin() || it == m_starts.end()) return 0;
    return m_codes[static_cast<std::size_t>(it - m_starts.begin()) - 1];
}

std::optional<CountryCode> RangeIndex::findCountryCode(std::uint32_t address) const {
    if (!m_indexed) return findCountryCodeSequential(m_lines, addressToKey(address));
    const std::uint16_t packed = findPackedCode(address);
    if (packed == 0) return std::nullopt;
    return unpackCode(packed);
}

std::optional<CountryCode> RangeIndex::findCountryCode(std::string_view key) const {
    if (!m_indexed) return findCountryCodeSequential(m_lines, key);
    if (const auto address = keyToAddress(key)) return findCountryCode(*address);
    // Not a well-formed key: compare it as text with each start, which in an
    // indexed file is 8 upper-case hex digits, so text order is numeric order.
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), key,
                                     [](std::string_view k, std::uint32_t start) {
                                         return k < std::string_view(addressToKey(start));
                                     });
    if (it == m_starts.begin() || it == m_starts.end()) return std::nullopt;
    return unpackCode(m_codes[static_cast<std::size_t>(it - m_starts.begin()) - 1]);
}

RangeFile::RangeFile(std::filesystem::path dataDir)
    : m_path(std::move(dataDir) / std::string(kRangeFileName)) {}

void RangeFile::open() {
    OpenedFile file(m_path);
    const Identity identity{file.device(), file.inode(), file.size(), file.mtimeNs()};
    if (m_index && m_identity == identity) return;
    auto index = std::make_shared<const RangeIndex>(RangeIndex::fromContent(file.readAll(kMaxRangeFileBytes)));
    m_index = std::move(index);
    m_identity = identity;
    ++m_loads;
}

std::optional<CountryCode> RangeFile::findCountryCode(std::string_view key) const {
    return m_index ? m_index->findCountryCode(key) : std::nullopt;
}

std::optional<CountryCode> RangeFile::findCountryCode(std::uint32_t address) const {
    return m_index ? m_index->findCountryCode(address) : std::nullopt;
}

const RangeIndex& RangeFile::index() const {
    static const RangeIndex empty;
    return m_index ? *m_index : empty;
}

}  // namespace ipcountry::lookup
