#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "analysis/ipv4_scanner.h"
#include "analysis/ipv6_scanner.h"

namespace ipcountry::analysis {

namespace detail {

// A found address kept past its callback, with its texts copied: the
// longest address text (39) and port (6) fit with room to spare.
template <class Found>
struct HeldAddress {
    Found found;
    char chars[64];

    explicit HeldAddress(const Found& from) : found(from) { copyTexts(); }
    HeldAddress(const HeldAddress& other) : found(other.found) { copyTexts(); }
    HeldAddress& operator=(const HeldAddress& other) {
        if (this != &other) {
            found = other.found;
            copyTexts();
        }
        return *this;
    }

private:
    // Points the address's texts at this copy's own characters.
    void copyTexts() {
        char copy[sizeof chars];
        std::size_t used = 0;
        for (std::string_view* text : texts()) {
            const std::size_t n = std::min(text->size(), sizeof copy - used);
            if (n != 0)
                std::memcpy(copy + used, text->data(), n);  // an empty text may have no data
            *text = std::string_view(chars + used, n);
            used += n;
        }
        std::memcpy(chars, copy, used);
    }
    std::array<std::string_view*, 2> texts() {
        if constexpr (std::is_same_v<Found, FoundAddress>)
            return {&found.dottedText, &found.portText};
        else
            return {&found.text, &found.portText};
    }
};

}  // namespace detail

// The addresses of both families in a line fed in pieces, handed on in the
// order in which they start on the line; each family's own order and rows
// are untouched.
//
// Each scanner reports an address once it has been fed at most `kLag`
// characters past the address's first character (both families decide an
// address within 48: the longest IPv6 run, the two characters after it and a
// port). Addresses that start before the fed end minus `kLag` can then be
// handed on, so a line of any length holds only the few addresses of its
// last `kLag` characters.
class BothFamiliesScanner {
public:
    static constexpr std::uint64_t kLag = 64;

    template <class On4, class On6>
    void feed(std::string_view piece, On4&& on4, On6&& on6) {
        m_scanner4.feed(piece, [this](const auto& found) { m_held4.emplace_back(found); });
        m_scanner6.feed(piece, [this](const auto& found) { m_held6.emplace_back(found); });
        m_fed += piece.size();
        if (m_fed > kLag) handOn(m_fed - kLag, on4, on6);
    }

    template <class On4, class On6>
    void endLine(On4&& on4, On6&& on6) {
        m_scanner4.endLine([this](const auto& found) { m_held4.emplace_back(found); });
        m_scanner6.endLine([this](const auto& found) { m_held6.emplace_back(found); });
        handOn(~std::uint64_t{0}, on4, on6);
        m_fed = 0;
    }

    // A whole line, none of it fed before: the same rows, handed on as they
    // are found but for the IPv6 ones, which wait until the IPv4 scan passes
    // their starts. Most lines of most logs hold IPv4 addresses only, and
    // these are then never copied.
    template <class On4, class On6>
    void scanLine(std::string_view line, On4&& on4, On6&& on6) {
        if (m_fed != 0) {
            feed(line, on4, on6);
            endLine(on4, on6);
            return;
        }
        // The line's bytes classified once for both families.
        const ByteMasks* masks = m_classes.classify(line.data(), line.size());
        m_scanner6.scanLine(line, masks,
                            [this](const auto& found) { m_held6.emplace_back(found); });
        std::size_t next6 = 0;
        m_scanner4.scanLine(line, masks, [&](const auto& found) {
            while (next6 < m_held6.size() && m_held6[next6].found.start < found.start)
                on6(std::as_const(m_held6[next6++].found));
            on4(found);
        });
        while (next6 < m_held6.size()) on6(std::as_const(m_held6[next6++].found));
        m_held6.clear();
    }

private:
    // Hands on, in order of their starts, the held addresses that start before `limit`.
    template <class On4, class On6>
    void handOn(std::uint64_t limit, On4& on4, On6& on6) {
        std::size_t i4 = 0, i6 = 0;
        for (;;) {
            const bool has4 = i4 < m_held4.size() && m_held4[i4].found.start < limit;
            const bool has6 = i6 < m_held6.size() && m_held6[i6].found.start < limit;
            if (has4 && (!has6 || m_held4[i4].found.start <= m_held6[i6].found.start))
                on4(std::as_const(m_held4[i4++].found));
            else if (has6)
                on6(std::as_const(m_held6[i6++].found));
            else
                break;
        }
        m_held4.erase(m_held4.begin(), m_held4.begin() + static_cast<std::ptrdiff_t>(i4));
        m_held6.erase(m_held6.begin(), m_held6.begin() + static_cast<std::ptrdiff_t>(i6));
    }

    Ipv4Scanner m_scanner4;
    Ipv6Scanner m_scanner6;
    std::uint64_t m_fed = 0;
    LineClasses m_classes;
    std::vector<detail::HeldAddress<FoundAddress>> m_held4;
    std::vector<detail::HeldAddress<FoundAddress6>> m_held6;
};

// A whole line at once.
template <class On4, class On6>
void scanLineBothFamilies(std::string_view line, On4&& on4, On6&& on6) {
    BothFamiliesScanner scanner;
    scanner.scanLine(line, on4, on6);
}

}  // namespace ipcountry::analysis
