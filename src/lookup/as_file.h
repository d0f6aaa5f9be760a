// The networks of the data folder: which autonomous system (AS) announces an
// address, and the name of the operator of each AS number. Read from one
// file, asn.bin (laid out as data/README.md says), whole and once, and only
// by a run that asks for networks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/address6.h"
#include "lookup/network_set.h"

namespace ipcountry::lookup {

inline constexpr std::string_view kAsFileName = "asn.bin";
// The first bytes of the file.
inline constexpr std::string_view kAsFileMagic = "IPCASN1\n";

// An AS number and its operator's name (UTF-8; empty when the file names none).
struct AsNetwork {
    std::uint32_t number = 0;
    std::string_view name;
};

// Guarantees: every address of either family has at most one network;
// addresses of the special-purpose blocks have none, whatever the file says,
// as they have no country. Answers stay valid as long as the AsFile.
class AsFile {
public:
    // Throws lookup::Error (FileNotFound, FileUnreadable or BadData) naming `path`.
    explicit AsFile(const std::string& path);

    std::optional<AsNetwork> find(std::uint32_t address) const;
    std::optional<AsNetwork> find(Address6 address) const;

    // The same answers as places, so that a row carries its network in a
    // word: 0 for none, else a place that network() names.
    std::uint32_t placeOf(std::uint32_t address) const;
    std::uint32_t placeOf(Address6 address) const;
    // The places of many addresses at once (`places` as long as
    // `addresses`): the memory reads of a group's lookups overlap.
    void placesOf(std::span<const std::uint32_t> addresses, std::span<std::uint32_t> places) const;
    void placesOf(std::span<const Address6> addresses, std::span<std::uint32_t> places) const;
    // The network at `place`; none for 0 or a place the file does not hold.
    std::optional<AsNetwork> network(std::uint32_t place) const;
    // The highest place: the number of networks the file names.
    std::uint32_t places() const { return static_cast<std::uint32_t>(m_networks.size()); }
    // The addresses `number` holds, as inclusive ranges of both families
    // (special-purpose blocks cut out), for filters on networks.
    std::vector<Network> rangesOf(std::uint32_t number) const;

private:
    // A step of the IPv4 ranges beside its network, so that both come in one
    // cache line: a lookup is memory-bound.
    struct Step4 {
        std::uint32_t start;
        std::uint32_t network;  // from 1 in m_networks; 0: none
    };
    struct Entry {
        std::uint32_t number;
        std::uint32_t nameStart;
        std::uint32_t nameEnd;
    };
    // The first step after those that start at or before `address`, from
    // `first`, the first step of the address's /16.
    std::size_t stepAfter(std::uint32_t address, std::size_t first) const;

    std::vector<Step4> m_steps4;  // the first at 0
    // The first step of each /16, so that a lookup reads a few steps only.
    std::vector<std::uint32_t> m_bucket4;
    std::vector<Address6> m_starts6;
    std::vector<std::uint32_t> m_networks6;
    std::vector<Entry> m_networks;  // by AS number, ascending
    std::string m_names;
};

}  // namespace ipcountry::lookup
