#include "lookup/as_file.h"

#include <algorithm>

#include "lookup/error.h"
#include "lookup/range_tree.h"
#include "lookup/special_blocks.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {

namespace {

// Reads the file's parts in order, little-endian numbers; false once it runs out.
class Parts {
public:
    explicit Parts(std::string_view bytes) : m_rest(bytes) {}
    bool words(std::vector<std::uint32_t>& out, std::size_t count) {
        if (count > m_rest.size() / 4) return false;
        out.resize(count);
        const auto* p = reinterpret_cast<const unsigned char*>(m_rest.data());
        for (std::size_t i = 0; i < count; ++i, p += 4)
            out[i] = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                     std::uint32_t{p[3]} << 24;
        m_rest.remove_prefix(count * 4);
        return true;
    }
    bool addresses6(std::vector<Address6>& out, std::size_t count) {
        if (count > m_rest.size() / 16) return false;
        out.resize(count);
        const auto* p = reinterpret_cast<const unsigned char*>(m_rest.data());
        for (std::size_t i = 0; i < count; ++i, p += 16) out[i] = Address6::fromBytes(p);
        m_rest.remove_prefix(count * 16);
        return true;
    }
    bool text(std::string& out, std::size_t size) {
        if (size > m_rest.size()) return false;
        out.assign(m_rest.substr(0, size));
        m_rest.remove_prefix(size);
        return true;
    }
    bool atEnd() const { return m_rest.empty(); }

private:
    std::string_view m_rest;
};

template <class T>
bool ascending(const std::vector<T>& values) {
    return std::adjacent_find(values.begin(), values.end(),
                              [](const T& a, const T& b) { return !(a < b); }) == values.end();
}

}  // namespace

AsFile::AsFile(const std::string& path) {
    OpenedFile file(path);
    // Far above any real file: a larger one is not one of ours.
    const std::string bytes = file.readAll(std::uint64_t{1} << 30);
    const auto bad = [&path](const std::string& why) {
        return Error(ErrorKind::BadData, ErrorCode::NetworkFileDamaged,
                     {.file = path, .text = why});
    };
    if (!std::string_view(bytes).starts_with(kAsFileMagic)) throw bad("not a network file");
    Parts parts(std::string_view(bytes).substr(kAsFileMagic.size()));
    std::vector<std::uint32_t> counts;
    if (!parts.words(counts, 4)) throw bad("cut short");
    const std::size_t count4 = counts[0];
    const std::size_t count6 = counts[1];
    const std::size_t count = counts[2];
    const std::size_t nameBytes = counts[3];
    std::vector<std::uint32_t> starts4;
    std::vector<std::uint32_t> networks4;
    std::vector<std::uint32_t> numbers;
    std::vector<std::uint32_t> nameStarts;
    if (!parts.words(starts4, count4) || !parts.words(networks4, count4) ||
        !parts.addresses6(m_starts6, count6) || !parts.words(m_networks6, count6) ||
        !parts.words(numbers, count) || !parts.words(nameStarts, count) ||
        !parts.text(m_names, nameBytes))
        throw bad("cut short");
    if (!parts.atEnd()) throw bad("longer than its parts");
    // Each family's steps start at its first address and ascend; names lie in the text.
    if (count4 == 0 || starts4[0] != 0 || !ascending(starts4) || count6 == 0 ||
        m_starts6[0] != Address6{} || !ascending(m_starts6))
        throw bad("the ranges are not in order");
    if (!ascending(numbers) || !std::is_sorted(nameStarts.begin(), nameStarts.end()) ||
        (count > 0 && nameStarts.back() > nameBytes))
        throw bad("the names are not in order");
    const auto known = [count](std::uint32_t place) { return place <= count; };
    if (!std::all_of(networks4.begin(), networks4.end(), known) ||
        !std::all_of(m_networks6.begin(), m_networks6.end(), known))
        throw bad("a range names a network the file does not hold");
    m_networks.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        m_networks[i] = {numbers[i], nameStarts[i],
                         i + 1 < count ? nameStarts[i + 1] : static_cast<std::uint32_t>(nameBytes)};
    m_steps4.resize(count4);
    for (std::size_t i = 0; i < count4; ++i) m_steps4[i] = {starts4[i], networks4[i]};
    m_bucket4.resize((std::size_t{1} << 16) + 1);
    std::size_t step = 0;
    for (std::size_t bucket = 0; bucket <= (std::size_t{1} << 16); ++bucket) {
        const std::uint64_t first = static_cast<std::uint64_t>(bucket) << 16;
        while (step < count4 && starts4[step] < first) ++step;
        m_bucket4[bucket] = static_cast<std::uint32_t>(step);
    }
}

std::optional<AsNetwork> AsFile::network(std::uint32_t place) const {
    if (place == 0 || place > m_networks.size()) return std::nullopt;
    const Entry& entry = m_networks[place - 1];
    return AsNetwork{entry.number, std::string_view(m_names).substr(
                                       entry.nameStart, entry.nameEnd - entry.nameStart)};
}

std::optional<AsNetwork> AsFile::find(std::uint32_t address) const {
    return network(placeOf(address));
}

std::optional<AsNetwork> AsFile::find(Address6 address) const { return network(placeOf(address)); }

std::size_t AsFile::stepAfter(std::uint32_t address, std::size_t first) const {
    // The step that holds `address` is the last that starts at or before it:
    // it starts in the address's /16 (from `first`, the bucket's first) or,
    // if none does, is the last before it. A busy /16 holds thousands of
    // steps: halved, not walked.
    std::size_t low = first;
    std::size_t count = m_bucket4[(address >> 16) + 1] - first;
    while (count > 0) {
        const std::size_t half = count / 2;
        if (m_steps4[low + half].start <= address) {
            low += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return low;
}

std::uint32_t AsFile::placeOf(std::uint32_t address) const {
    const std::size_t after = stepAfter(address, m_bucket4[address >> 16]);
    if (after == 0) return 0;
    const std::uint32_t place = m_steps4[after - 1].network;
    if (place == 0 || findSpecialBlock(address) != nullptr) return 0;
    return place;
}

std::uint32_t AsFile::placeOf(Address6 address) const {
    const auto after = std::upper_bound(m_starts6.begin(), m_starts6.end(), address);
    const auto step = static_cast<std::size_t>(after - m_starts6.begin());
    if (step == 0) return 0;
    const std::uint32_t place = m_networks6[step - 1];
    if (place == 0 || findSpecialBlock(address) != nullptr) return 0;
    return place;
}

void AsFile::placesOf(std::span<const std::uint32_t> addresses,
                      std::span<std::uint32_t> places) const {
    // In groups: first every bucket of the group asked for, then every first
    // step, then the answers, so that a group waits on memory twice, not
    // twice per address.
    constexpr std::size_t kGroup = 16;
    std::array<std::uint32_t, kGroup> firsts{};
    for (std::size_t from = 0; from < addresses.size(); from += kGroup) {
        const std::size_t count = std::min(kGroup, addresses.size() - from);
        const auto group = addresses.subspan(from, count);
        for (const std::uint32_t address : group) prefetchLine(&m_bucket4[address >> 16]);
        for (std::size_t i = 0; i < count; ++i) {
            firsts[i] = m_bucket4[group[i] >> 16];
            if (firsts[i] < m_steps4.size()) prefetchLine(&m_steps4[firsts[i]]);
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t address = group[i];
            const std::size_t after = stepAfter(address, firsts[i]);
            std::uint32_t place = after == 0 ? 0 : m_steps4[after - 1].network;
            if (place != 0 && findSpecialBlock(address) != nullptr) place = 0;
            places[from + i] = place;
        }
    }
}

void AsFile::placesOf(std::span<const Address6> addresses, std::span<std::uint32_t> places) const {
    for (std::size_t i = 0; i < addresses.size(); ++i) places[i] = placeOf(addresses[i]);
}

std::vector<Network> AsFile::rangesOf(std::uint32_t number) const {
    std::vector<Network> ranges;
    const auto found =
        std::lower_bound(m_networks.begin(), m_networks.end(), number,
                         [](const Entry& entry, std::uint32_t n) { return entry.number < n; });
    if (number == 0 || found == m_networks.end() || found->number != number) return ranges;
    const auto place = static_cast<std::uint32_t>(found - m_networks.begin() + 1);
    struct Range4 {
        std::uint32_t first;
        std::uint32_t last;
    };
    struct Range6 {
        Address6 first;
        Address6 last;
    };
    std::vector<Range4> ranges4;
    for (std::size_t i = 0; i < m_steps4.size(); ++i)
        if (m_steps4[i].network == place)
            ranges4.push_back({m_steps4[i].start, i + 1 < m_steps4.size()
                                                      ? m_steps4[i + 1].start - 1
                                                      : ~std::uint32_t{0}});
    std::vector<Range6> ranges6;
    for (std::size_t i = 0; i < m_networks6.size(); ++i) {
        if (m_networks6[i] != place) continue;
        Address6 last = Address6::max();
        if (i + 1 < m_starts6.size()) {
            last = m_starts6[i + 1];
            --last;
        }
        ranges6.push_back({m_starts6[i], last});
    }
    for (const Range4& range : cutSpecialRanges(ranges4)) {
        Network network;
        network.first4 = range.first;
        network.last4 = range.last;
        ranges.push_back(network);
    }
    for (const Range6& range : cutSpecialRanges(ranges6)) {
        Network network;
        network.ipv6 = true;
        network.first6 = range.first;
        network.last6 = range.last;
        ranges.push_back(network);
    }
    return ranges;
}

}  // namespace ipcountry::lookup
