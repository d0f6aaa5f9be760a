#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "lookup/address_text.h"
#include "lookup/as_file.h"
#include "lookup/network_set.h"

namespace ipcountry::analysis {

// Which addresses give rows. The window takes the defaults (every address
// that has a country); the driver's options choose the rest. The sets are
// the caller's and outlive the run; they are only read, from every thread.
struct RowRules {
    // The free-text scan takes only the first address of each line: in web,
    // auth, mail and firewall logs that is the client, and the addresses
    // further on (a version string, a proxy, the server) are not.
    bool firstOfLine = false;
    const lookup::NetworkSet* only = nullptr;     // null: every address
    const lookup::NetworkSet* exclude = nullptr;  // null: none left out
    // An address without a country still gives a row, with the reason in
    // place of the country (see noCountryReason).
    bool withoutCountry = false;
    // The free-text scan takes only addresses that stand as words of their
    // own, not pieces of longer numbers and names (see word_bounds.h). The
    // window takes every address its scanning rules find.
    bool wholeWords = false;
    // Each row carries the network of its address (ResultRow::network),
    // looked up where its country is. Null: no row carries one.
    const lookup::AsFile* networks = nullptr;

    // The network of `typed` as a row carries it: 0 for none.
    std::uint32_t networkOf(const lookup::TypedAddress& typed) const {
        if (networks == nullptr) return 0;
        switch (typed.kind) {
            case lookup::TypedAddress::Kind::Ipv4:
                return networks->placeOf(typed.ipv4);
            case lookup::TypedAddress::Kind::Ipv6:
                return networks->placeOf(typed.ipv6);
            case lookup::TypedAddress::Kind::LinkLocal:
                break;
        }
        return 0;
    }

    bool admits(std::uint32_t address) const noexcept {
        return (only == nullptr || only->contains(address)) &&
               (exclude == nullptr || !exclude->contains(address));
    }
    bool admits(lookup::Address6 address) const noexcept {
        return (only == nullptr || only->contains(address)) &&
               (exclude == nullptr || !exclude->contains(address));
    }
    bool admits(const lookup::TypedAddress& typed) const noexcept {
        return typed.kind == lookup::TypedAddress::Kind::Ipv4 ? admits(typed.ipv4)
                                                              : admits(typed.ipv6);
    }
};

// Why an address that got no country has none: the word of the
// special-purpose block that holds it (private, loopback, link-local, ...),
// else "unknown" (no range holds it, or its code is not in the country list).
// A zone makes an address link-local wherever it lies.
std::string_view noCountryReason(const lookup::TypedAddress& typed);

// The word for an address that no special block and no country explains.
inline constexpr std::string_view kUnknownReason = "unknown";

// Every word noCountryReason gives, in the order the statistics list them:
// the commonest in a log first, "unknown" last.
inline constexpr auto kNoCountryReasons =
    std::to_array<std::string_view>({"private", "loopback", "link-local", "shared", "documentation",
                                     "multicast", "reserved", kUnknownReason});

// The place of `reason` in kNoCountryReasons; nullopt for any other text.
inline std::optional<std::size_t> noCountryReasonIndex(std::string_view reason) {
    for (std::size_t i = 0; i < kNoCountryReasons.size(); ++i)
        if (kNoCountryReasons[i] == reason) return i;
    return std::nullopt;
}

}  // namespace ipcountry::analysis
