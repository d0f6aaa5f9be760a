#include "lookup/as_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lookup/error.h"
#include "lookup/special_blocks.h"

namespace ipcountry::lookup {

namespace {

constexpr std::string_view kMagic = "IPCASN1\n";

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
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        const ErrorKind kind =
            error == ENOENT ? ErrorKind::FileNotFound : ErrorKind::FileUnreadable;
        const std::string reason = error != 0 ? std::strerror(error) : "cannot be opened";
        throw Error(kind, "The network file cannot be opened: " + path, path, reason);
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw Error(ErrorKind::FileUnreadable, "The network file cannot be read: " + path, path,
                    "cannot be read");
    const auto bad = [&path](const std::string& why) {
        return Error(ErrorKind::BadData, "The network file is damaged: " + path + ": " + why, path,
                     why);
    };
    if (!std::string_view(bytes).starts_with(kMagic)) throw bad("not a network file");
    Parts parts(std::string_view(bytes).substr(kMagic.size()));
    std::vector<std::uint32_t> counts;
    if (!parts.words(counts, 4)) throw bad("cut short");
    const std::size_t count4 = counts[0];
    const std::size_t count6 = counts[1];
    const std::size_t numbers = counts[2];
    const std::size_t nameBytes = counts[3];
    if (!parts.words(m_starts4, count4) || !parts.words(m_asns4, count4) ||
        !parts.addresses6(m_starts6, count6) || !parts.words(m_asns6, count6) ||
        !parts.words(m_numbers, numbers) || !parts.words(m_nameStarts, numbers) ||
        !parts.text(m_names, nameBytes))
        throw bad("cut short");
    if (!parts.atEnd()) throw bad("longer than its parts");
    // Each family's steps start at its first address and ascend; names lie in the text.
    if (count4 == 0 || m_starts4[0] != 0 || !ascending(m_starts4) || count6 == 0 ||
        m_starts6[0] != Address6{} || !ascending(m_starts6))
        throw bad("the ranges are not in order");
    if (!ascending(m_numbers) || !std::is_sorted(m_nameStarts.begin(), m_nameStarts.end()) ||
        (numbers > 0 && m_nameStarts.back() > nameBytes))
        throw bad("the names are not in order");
    m_nameStarts.push_back(static_cast<std::uint32_t>(nameBytes));
    m_bucket4.resize((std::size_t{1} << 16) + 1);
    std::size_t step = 0;
    for (std::size_t bucket = 0; bucket <= (std::size_t{1} << 16); ++bucket) {
        const std::uint64_t first = static_cast<std::uint64_t>(bucket) << 16;
        while (step < count4 && m_starts4[step] < first) ++step;
        m_bucket4[bucket] = static_cast<std::uint32_t>(step);
    }
}

std::string_view AsFile::nameOf(std::uint32_t number) const {
    const auto found = std::lower_bound(m_numbers.begin(), m_numbers.end(), number);
    if (found == m_numbers.end() || *found != number) return {};
    const auto i = static_cast<std::size_t>(found - m_numbers.begin());
    return std::string_view(m_names).substr(m_nameStarts[i], m_nameStarts[i + 1] - m_nameStarts[i]);
}

std::optional<AsNetwork> AsFile::network(std::uint32_t number) const {
    if (number == 0) return std::nullopt;
    return AsNetwork{number, nameOf(number)};
}

std::optional<AsNetwork> AsFile::find(std::uint32_t address) const {
    // The step that holds `address` is the last that starts at or before it:
    // it starts in the address's /16 or, if none does, is the last before it.
    const std::size_t bucket = address >> 16;
    const auto begin = m_starts4.begin() + m_bucket4[bucket];
    const auto end = m_starts4.begin() + m_bucket4[bucket + 1];
    const auto after = std::upper_bound(begin, end, address);
    const auto step = static_cast<std::size_t>(after - m_starts4.begin());
    if (step == 0) return std::nullopt;
    const std::uint32_t number = m_asns4[step - 1];
    if (number == 0 || findSpecialBlock(address) != nullptr) return std::nullopt;
    return network(number);
}

std::optional<AsNetwork> AsFile::find(Address6 address) const {
    const auto after = std::upper_bound(m_starts6.begin(), m_starts6.end(), address);
    const auto step = static_cast<std::size_t>(after - m_starts6.begin());
    if (step == 0) return std::nullopt;
    const std::uint32_t number = m_asns6[step - 1];
    if (number == 0 || findSpecialBlock(address) != nullptr) return std::nullopt;
    return network(number);
}

std::vector<Network> AsFile::rangesOf(std::uint32_t number) const {
    std::vector<Network> ranges;
    if (number == 0) return ranges;
    struct Range4 {
        std::uint32_t first;
        std::uint32_t last;
    };
    struct Range6 {
        Address6 first;
        Address6 last;
    };
    std::vector<Range4> ranges4;
    for (std::size_t i = 0; i < m_asns4.size(); ++i)
        if (m_asns4[i] == number)
            ranges4.push_back({m_starts4[i], i + 1 < m_starts4.size() ? m_starts4[i + 1] - 1
                                                                      : ~std::uint32_t{0}});
    std::vector<Range6> ranges6;
    for (std::size_t i = 0; i < m_asns6.size(); ++i) {
        if (m_asns6[i] != number) continue;
        Address6 last = Address6::max();
        if (i + 1 < m_starts6.size()) {
            last = m_starts6[i + 1];
            --last;
        }
        ranges6.push_back({m_starts6[i], last});
    }
    for (const Range4& range : cutSpecialRanges(ranges4, specialRanges4())) {
        Network network;
        network.first4 = range.first;
        network.last4 = range.last;
        ranges.push_back(network);
    }
    for (const Range6& range : cutSpecialRanges(ranges6, specialRanges6())) {
        Network network;
        network.ipv6 = true;
        network.first6 = range.first;
        network.last6 = range.last;
        ranges.push_back(network);
    }
    return ranges;
}

}  // namespace ipcountry::lookup
