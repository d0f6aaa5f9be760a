#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "analysis/both_families_scanner.h"
#include "analysis/country_resolver.h"
#include "analysis/run_loop.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

// The line work of the free-text scan (see run_loop.h): every address of
// either family, and the port right behind it, wherever it stands. Lines
// longer than a block come in pieces; the scanners answer the same either way.
class FreeTextLines {
public:
    FreeTextLines(const lookup::CountryTable& table, lookup::RangeFile& ranges,
                  lookup::Range6File& ranges6)
        : m_ipv4(table, ranges, RangeData<lookup::Ipv4Ranges>::Policy::KeepOnceRead),
          m_ipv6(table, ranges6, RangeData<lookup::Ipv6Ranges>::Policy::OptionalFile) {}

    // IP_db.dbf is read before the first line. A file without addresses
    // needs no lookup, so a missing range file only ends the run at the first
    // address found. IP6_db.dbf is read at the first IPv6 address; a folder
    // without it is an installation older than IPv6 support, whose IPv6
    // addresses are not counted and its IPv4 ones as ever.
    void begin() {
        try {
            m_ipv4.resolver();
        } catch (const lookup::Error&) {
            // Thrown again by the first address.
        }
    }

    template <class Out>
    Flow piece(std::string_view piece, const LinePlace& at, Out& out) {
        m_flow = Flow::GoOn;
        const auto on4 = [&](const FoundAddress& found) {
            addIpv4(found.dottedText, found.portText, found.address, out);
        };
        const auto on6 = [&](const FoundAddress6& found) { addIpv6(found, out); };
        if (at.starts && at.ends) {
            m_scanner.scanLine(piece, on4, on6);
        } else {
            m_scanner.feed(piece, on4, on6);
            if (at.ends) m_scanner.endLine(on4, on6);
        }
        return m_flow;
    }

private:
    template <class Out>
    void add(std::string_view text, std::string_view port, const std::optional<Resolution>& country,
             Out& out) {
        // After a Stop the rest of the line is read past.
        if (country && m_flow == Flow::GoOn) m_flow = out.row({text, port, *country});
    }

    template <class Out>
    void addIpv4(std::string_view text, std::string_view port, std::uint32_t address, Out& out) {
        add(text, port, m_ipv4.resolver()->resolve(address), out);
    }

    template <class Out>
    void addIpv6(const FoundAddress6& found, Out& out) {
        // The scanner leaves dotted tails to the IPv4 scan; a hex one
        // (::ffff:c000:201) is still an IPv4 address.
        const std::optional<TypedAddress> typed =
            typedAddressOf(lookup::classifyIpv6({found.high, found.low}, false, found.zoned));
        if (!typed) return;
        switch (typed->kind) {
            case TypedAddress::Kind::Ipv4:
                addIpv4(found.text, found.portText, typed->ipv4, out);
                break;
            case TypedAddress::Kind::Ipv6:
                if (const Country6Resolver* resolver = m_ipv6.resolver())
                    add(found.text, found.portText, resolver->resolve(typed->ipv6), out);
                break;
            case TypedAddress::Kind::LinkLocal:
                break;
        }
    }

    RangeData<lookup::Ipv4Ranges> m_ipv4;
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    BothFamiliesScanner m_scanner;
    Flow m_flow = Flow::GoOn;
};

}  // namespace ipcountry::analysis
