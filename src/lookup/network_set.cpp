#include "lookup/network_set.h"

#include <algorithm>
#include <charconv>

#include "lookup/address_text.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"
#include "lookup/line_ends.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {

namespace {

// The one reading of IPv4 text, as find and the scanners read an address.
std::optional<std::uint32_t> readIpv4(std::string_view text) { return readPlainAddress(text); }

std::optional<Address6> readIpv6(std::string_view text) {
    // The one reading of IPv6 text; a dotted tail is still IPv6 here.
    if (text.find(':') == std::string_view::npos) return std::nullopt;
    return readIpv6Value(text);
}

std::optional<int> readBits(std::string_view text, int most) {
    int bits = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), bits);
    if (text.empty() || text.size() > 3 || ec != std::errc() || end != text.data() + text.size() ||
        bits < 0 || bits > most)
        return std::nullopt;
    return bits;
}

// The lowest and highest address under a prefix of `bits`.
void spanOf(std::uint32_t address, int bits, Network& network) {
    // A shift by the whole width is undefined: /32 has no host bits at all.
    const std::uint32_t host = bits >= 32 ? 0 : ~std::uint32_t{0} >> bits;
    network.first4 = address & ~host;
    network.last4 = address | host;
}

void spanOf(Address6 address, int bits, Network& network) {
    const auto hostBits = [](int prefix) -> std::uint64_t {
        if (prefix <= 0) return ~std::uint64_t{0};
        if (prefix >= 64) return 0;
        return ~std::uint64_t{0} >> prefix;
    };
    const std::uint64_t highHost = hostBits(bits);
    const std::uint64_t lowHost = hostBits(bits - 64);
    network.first6 = {address.high & ~highHost, address.low & ~lowHost};
    network.last6 = {address.high | highHost, address.low | lowHost};
}

}  // namespace

std::optional<Network> parseNetwork(std::string_view text, std::string& why) {
    Network network;
    if (const std::size_t dash = text.find('-'); dash != std::string_view::npos) {
        const std::string_view from = text.substr(0, dash);
        const std::string_view to = text.substr(dash + 1);
        if (const auto first = readIpv4(from)) {
            const auto last = readIpv4(to);
            if (!last || *last < *first) {
                why = "the range's end is not an IPv4 address after its start";
                return std::nullopt;
            }
            network.first4 = *first;
            network.last4 = *last;
            return network;
        }
        const auto first = readIpv6(from);
        const auto last = first ? readIpv6(to) : std::nullopt;
        if (!first || !last || *last < *first) {
            why = "not a range FIRST-LAST of two addresses of one family, the smaller first";
            return std::nullopt;
        }
        network.ipv6 = true;
        network.first6 = *first;
        network.last6 = *last;
        return network;
    }
    const std::size_t slash = text.find('/');
    const std::string_view address = text.substr(0, slash);
    const std::optional<std::string_view> bits =
        slash == std::string_view::npos ? std::nullopt : std::optional(text.substr(slash + 1));
    if (const auto ipv4 = readIpv4(address)) {
        const auto prefix = bits ? readBits(*bits, 32) : std::optional(32);
        if (!prefix) {
            why = "the prefix length of an IPv4 network is 0 to 32";
            return std::nullopt;
        }
        spanOf(*ipv4, *prefix, network);
        return network;
    }
    if (const auto ipv6 = readIpv6(address)) {
        const auto prefix = bits ? readBits(*bits, 128) : std::optional(128);
        if (!prefix) {
            why = "the prefix length of an IPv6 network is 0 to 128";
            return std::nullopt;
        }
        network.ipv6 = true;
        spanOf(*ipv6, *prefix, network);
        return network;
    }
    why = "not an IPv4 or IPv6 address";
    return std::nullopt;
}

void NetworkSet::add(const Network& network) {
    if (!network.ipv6) {
        m_added4.push_back({network.first4, network.last4});
        return;
    }
    m_added6.push_back({network.first6, network.last6});
    // An address written ::ffff:a.b.c.d is read as the IPv4 address it holds:
    // the part of the network in ::ffff:0:0/96 holds those IPv4 addresses.
    constexpr Address6 kMappedFirst{0, 0x0000FFFF00000000ULL};
    constexpr Address6 kMappedLast{0, 0x0000FFFFFFFFFFFFULL};
    const Address6 first = std::max(network.first6, kMappedFirst);
    const Address6 last = std::min(network.last6, kMappedLast);
    if (!(last < first))
        m_added4.push_back(
            {static_cast<std::uint32_t>(first.low), static_cast<std::uint32_t>(last.low)});
}

void NetworkSet::seal() {
    // What was sealed before stays in: seal() may follow more add()s.
    m_added4.insert(m_added4.end(), m_set4.ranges().begin(), m_set4.ranges().end());
    m_added6.insert(m_added6.end(), m_set6.ranges().begin(), m_set6.ranges().end());
    m_set4 = RangeSet4(std::move(m_added4));
    m_set6 = RangeSet6(std::move(m_added6));
    m_added4.clear();
    m_added6.clear();
}

void readNetworkList(std::string_view content, const std::string& fileName, NetworkSet& set) {
    std::int64_t lineNumber = 0;
    std::string why;
    // A byte order mark, as an editor may put first, as the CSV reader skips it.
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    forEachLine(content, [&](std::string_view line) {
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        constexpr std::string_view kBetween = " \t,";
        for (std::size_t at = line.find_first_not_of(kBetween); at != std::string_view::npos;) {
            const std::size_t end = std::min(line.find_first_of(kBetween, at), line.size());
            const std::string_view text = line.substr(at, end - at);
            const std::optional<Network> network = parseNetwork(text, why);
            if (!network) {
                // A NUL would end the message where a terminal or a C caller reads it.
                std::string shown;
                for (const char c : text)
                    shown += c == '\0' ? std::string("\\0") : std::string(1, c);
                throw Error(
                    ErrorKind::BadData, ErrorCode::NetworkEntryBad,
                    {.file = fileName, .line = lineNumber, .text = shown, .causeText = why});
            }
            set.add(*network);
            at = line.find_first_not_of(kBetween, end);
        }
    });
}

void readNetworkFile(const std::string& path, NetworkSet& set) {
    OpenedFile file(path, OpenedFile::Accept::AnyButFolder);
    // A list of every network there is would still be far below this.
    constexpr std::uint64_t kLargestList = std::uint64_t{1} << 30;
    readNetworkList(file.readAll(kLargestList), path, set);
}

}  // namespace ipcountry::lookup
