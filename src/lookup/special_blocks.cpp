#include "lookup/special_blocks.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string>

#include "lookup/network_set.h"

namespace ipcountry::lookup {

namespace {

using enum Reachable;

// IANA IPv4 Special-Purpose Address Registry, and the multicast space of the
// IPv4 Multicast Address Space Registry. The reason words are the few that a
// person reading a log tells apart; every other row is "reserved".
constexpr std::array kBlocks4{
    SpecialBlock{"0.0.0.0/8", "This network", "RFC 791", "reserved", No},
    SpecialBlock{"0.0.0.0/32", "This host on this network", "RFC 1122", "reserved", No},
    SpecialBlock{"10.0.0.0/8", "Private-Use", "RFC 1918", "private", No},
    SpecialBlock{"100.64.0.0/10", "Shared Address Space", "RFC 6598", "shared", No},
    SpecialBlock{"127.0.0.0/8", "Loopback", "RFC 1122", "loopback", No},
    SpecialBlock{"169.254.0.0/16", "Link Local", "RFC 3927", "link-local", No},
    SpecialBlock{"172.16.0.0/12", "Private-Use", "RFC 1918", "private", No},
    SpecialBlock{"192.0.0.0/24", "IETF Protocol Assignments", "RFC 6890", "reserved", No},
    SpecialBlock{"192.0.0.0/29", "IPv4 Service Continuity Prefix", "RFC 7335", "reserved", No},
    SpecialBlock{"192.0.0.8/32", "IPv4 dummy address", "RFC 7600", "reserved", No},
    SpecialBlock{"192.0.0.9/32", "Port Control Protocol Anycast", "RFC 7723", "reserved", Yes},
    SpecialBlock{"192.0.0.10/32", "Traversal Using Relays around NAT Anycast", "RFC 8155",
                 "reserved", Yes},
    SpecialBlock{"192.0.0.170/32", "NAT64/DNS64 Discovery", "RFC 8880", "reserved", No},
    SpecialBlock{"192.0.0.171/32", "NAT64/DNS64 Discovery", "RFC 8880", "reserved", No},
    SpecialBlock{"192.0.2.0/24", "Documentation (TEST-NET-1)", "RFC 5737", "documentation", No},
    SpecialBlock{"192.31.196.0/24", "AS112-v4", "RFC 7535", "reserved", Yes},
    SpecialBlock{"192.52.193.0/24", "AMT", "RFC 7450", "reserved", Yes},
    SpecialBlock{"192.88.99.0/24", "Deprecated (6to4 Relay Anycast)", "RFC 7526", "reserved",
                 NotDefined},
    SpecialBlock{"192.168.0.0/16", "Private-Use", "RFC 1918", "private", No},
    SpecialBlock{"192.175.48.0/24", "Direct Delegation AS112 Service", "RFC 7534", "reserved", Yes},
    SpecialBlock{"198.18.0.0/15", "Benchmarking", "RFC 2544", "reserved", No},
    SpecialBlock{"198.51.100.0/24", "Documentation (TEST-NET-2)", "RFC 5737", "documentation", No},
    SpecialBlock{"203.0.113.0/24", "Documentation (TEST-NET-3)", "RFC 5737", "documentation", No},
    SpecialBlock{"224.0.0.0/4", "Multicast", "RFC 5771", "multicast", No},
    SpecialBlock{"240.0.0.0/4", "Reserved", "RFC 1112", "reserved", No},
    SpecialBlock{"255.255.255.255/32", "Limited Broadcast", "RFC 919", "reserved", No},
};

// IANA IPv6 Special-Purpose Address Registry, and ff00::/8 of the IPv6
// addressing architecture. ::ffff:0:0/96 and 64:ff9b::/96 carry IPv4
// addresses, which are looked up as IPv4 and so follow the table above.
constexpr std::array kBlocks6{
    SpecialBlock{"::1/128", "Loopback Address", "RFC 4291", "loopback", No},
    SpecialBlock{"::/128", "Unspecified Address", "RFC 4291", "reserved", No},
    SpecialBlock{"::ffff:0:0/96", "IPv4-mapped Address", "RFC 4291", "reserved", No},
    SpecialBlock{"64:ff9b::/96", "IPv4-IPv6 Translat.", "RFC 6052", "reserved", Yes},
    SpecialBlock{"64:ff9b:1::/48", "IPv4-IPv6 Translat.", "RFC 8215", "reserved", No},
    SpecialBlock{"100::/64", "Discard-Only Address Block", "RFC 6666", "reserved", No},
    SpecialBlock{"100:0:0:1::/64", "Dummy IPv6 Prefix", "RFC 9780", "reserved", No},
    SpecialBlock{"2001::/23", "IETF Protocol Assignments", "RFC 2928", "reserved", No},
    SpecialBlock{"2001::/32", "TEREDO", "RFC 4380", "reserved", NotDefined},
    SpecialBlock{"2001:1::1/128", "Port Control Protocol Anycast", "RFC 7723", "reserved", Yes},
    SpecialBlock{"2001:1::2/128", "Traversal Using Relays around NAT Anycast", "RFC 8155",
                 "reserved", Yes},
    SpecialBlock{"2001:1::3/128", "DNS-SD Service Registration Protocol Anycast", "RFC 9665",
                 "reserved", Yes},
    SpecialBlock{"2001:2::/48", "Benchmarking", "RFC 5180", "reserved", No},
    SpecialBlock{"2001:3::/32", "AMT", "RFC 7450", "reserved", Yes},
    SpecialBlock{"2001:4:112::/48", "AS112-v6", "RFC 7535", "reserved", Yes},
    SpecialBlock{"2001:10::/28", "Deprecated (previously ORCHID)", "RFC 4843", "reserved",
                 NotDefined},
    SpecialBlock{"2001:20::/28", "ORCHIDv2", "RFC 7343", "reserved", Yes},
    SpecialBlock{"2001:30::/28", "Drone Remote ID Protocol Entity Tags (DETs) Prefix", "RFC 9374",
                 "reserved", Yes},
    SpecialBlock{"2001:db8::/32", "Documentation", "RFC 3849", "documentation", No},
    SpecialBlock{"2002::/16", "6to4", "RFC 3056", "reserved", NotDefined},
    SpecialBlock{"2620:4f:8000::/48", "Direct Delegation AS112 Service", "RFC 7534", "reserved",
                 Yes},
    SpecialBlock{"3fff::/20", "Documentation", "RFC 9637", "documentation", No},
    SpecialBlock{"5f00::/16", "Segment Routing (SRv6) SIDs", "RFC 9602", "reserved", No},
    SpecialBlock{"fc00::/7", "Unique-Local", "RFC 4193", "private", No},
    SpecialBlock{"fe80::/10", "Link-Local Unicast", "RFC 4291", "link-local", No},
    SpecialBlock{"ff00::/8", "Multicast", "RFC 4291", "multicast", No},
};

// A row's ends, read as the driver reads a network it is given.
Network networkOf(const SpecialBlock& block) {
    std::string why;
    const std::optional<Network> network = parseNetwork(block.network, why);
    if (!network)
        throw std::logic_error("bad table row " + std::string(block.network) + ": " + why);
    return *network;
}

std::pair<std::uint32_t, std::uint32_t> endsOf(const Network& network, std::uint32_t /*family*/) {
    return {network.first4, network.last4};
}

std::pair<Address6, Address6> endsOf(const Network& network, Address6 /*family*/) {
    return {network.first6, network.last6};
}

// Lays the rows over each other, wider rows first so that a more specific
// row overrides the one around it, then keeps what has no country.
template <class Address>
std::vector<SpecialRange<Address>> resolve(std::span<const SpecialBlock> blocks) {
    std::vector<SpecialRange<Address>> rows;
    for (const SpecialBlock& block : blocks) {
        if (block.reachable == Reachable::NotDefined) continue;
        const auto [first, last] = endsOf(networkOf(block), Address{});
        // A reachable row keeps the source's country: it paints "no block".
        rows.push_back({first, last, block.reachable == Reachable::Yes ? nullptr : &block});
    }
    // Blocks either nest or are apart, and one that holds another starts no
    // later and ends no sooner: this order paints the outer one first.
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : b.last < a.last;
    });
    std::vector<SpecialRange<Address>> out;
    for (const SpecialRange<Address>& p : paintRanges(rows)) {
        if (!p.block) continue;
        if (!out.empty() && out.back().block == p.block) {
            Address next = out.back().last;
            ++next;
            if (next == p.first) {
                out.back().last = p.last;
                continue;
            }
        }
        out.push_back(p);
    }
    return out;
}

// Every range of a resolved table as one set.
template <class Address>
RangeSet<Address> setOf(const std::vector<SpecialRange<Address>>& ranges) {
    std::vector<AddressRange<Address>> plain;
    plain.reserve(ranges.size());
    for (const auto& range : ranges) plain.push_back({range.first, range.last});
    return RangeSet<Address>(std::move(plain));
}

template <class Address>
const SpecialBlock* find(const std::vector<SpecialRange<Address>>& ranges, Address address) {
    const auto it = std::upper_bound(
        ranges.begin(), ranges.end(), address,
        [](const Address& a, const SpecialRange<Address>& r) { return a < r.first; });
    if (it == ranges.begin()) return nullptr;
    const auto& range = *std::prev(it);
    return address <= range.last ? range.block : nullptr;
}

}  // namespace

std::span<const SpecialBlock> specialBlocks4() noexcept { return kBlocks4; }
std::span<const SpecialBlock> specialBlocks6() noexcept { return kBlocks6; }

const std::vector<SpecialRange<std::uint32_t>>& specialRanges4() {
    static const auto ranges = resolve<std::uint32_t>(kBlocks4);
    return ranges;
}

const std::vector<SpecialRange<Address6>>& specialRanges6() {
    static const auto ranges = resolve<Address6>(kBlocks6);
    return ranges;
}

const RangeSet4& specialSet4() {
    static const RangeSet4 set = setOf(specialRanges4());
    return set;
}

const RangeSet6& specialSet6() {
    static const RangeSet6 set = setOf(specialRanges6());
    return set;
}

const SpecialBlock* findSpecialBlock(std::uint32_t address) {
    return find(specialRanges4(), address);
}

const SpecialBlock* findSpecialBlock(Address6 address) { return find(specialRanges6(), address); }

}  // namespace ipcountry::lookup
