#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/both_families_scanner.h"
#include "analysis/event_log.h"
#include "analysis/range_data.h"
#include "analysis/row_rules.h"
#include "analysis/run_loop.h"
#include "analysis/word_bounds.h"
#include "lookup/address_text.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

// The line work of the free-text scan (see run_loop.h): every address of
// either family, and the port right behind it, wherever it stands. Lines
// longer than a block come in pieces; the scanners answer the same either way.
class FreeTextLines {
public:
    FreeTextLines(const lookup::CountryTable& table, lookup::RangeFile& ranges,
                  lookup::Range6File& ranges6, const RowRules& rules = {})
        : m_ipv4(table, ranges, RangeData<lookup::Ipv4Ranges>::Policy::KeepOnceRead),
          m_ipv6(table, ranges6, RangeData<lookup::Ipv6Ranges>::Policy::OptionalFile),
          m_rules(rules) {}
    // A view for another thread (see run_loop.h); `owner` outlives it.
    struct ViewOf {
        const FreeTextLines& owner;
    };
    explicit FreeTextLines(ViewOf view)
        : m_ipv4(RangeData<lookup::Ipv4Ranges>::ViewOf{view.owner.m_ipv4}),
          m_ipv6(RangeData<lookup::Ipv6Ranges>::ViewOf{view.owner.m_ipv6}),
          m_rules(view.owner.m_rules) {}

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
        m_lineNumber = at.lineNumber;
        if (at.starts) m_lineTaken = false;
        const bool wholeWords = m_rules.wholeWords;
        if (wholeWords) m_around.see(piece, at.starts);
        // The scanner hands addresses on in the order they start on the line,
        // so the first one handed on is the line's first, in either family.
        // A piece of a longer name is no address at all: the line's first
        // is the first that stands alone.
        const auto on4 = [&](const FoundAddress& found) {
            if (wholeWords && !m_around.standsAlone(found)) return;
            if (m_rules.firstOfLine && std::exchange(m_lineTaken, true)) return;
            addIpv4(found.dottedText, found.portText, found.address, out);
        };
        const auto on6 = [&](const FoundAddress6& found) {
            if (wholeWords && !m_around.standsAlone(found)) return;
            addIpv6(found, out);
        };
        if (at.starts && at.ends) {
            m_scanner.scanLine(piece, on4, on6);
        } else {
            m_scanner.feed(piece, on4, on6);
            if (at.ends)
                m_scanner.endLine(on4, on6);
            else if (wholeWords)
                m_around.keep();
        }
        return m_flow;
    }

    // An address that a view deferred, looked up on the calling thread.
    template <class Out>
    Flow finish(const DeferredLine& deferred, Out& out) {
        m_flow = Flow::GoOn;
        m_lineNumber = deferred.lineNumber;
        addTyped(deferred.address, deferred.port, deferred.typed, out);
        return m_flow;
    }

    // The lookups of the rows a block's log kept (see lookUp), all at once.
    void resolveRows(EventLog& log) {
        log.resolveRows(m_ipv4.resolver(), m_ipv6.resolver(), m_rules.withoutCountry,
                        m_rules.networks);
    }

private:
    template <class Out>
    void add(std::string_view text, std::string_view port, const std::optional<Resolution>& country,
             const lookup::TypedAddress& typed, Out& out) {
        // After a Stop the rest of the line is read past.
        if (m_flow != Flow::GoOn) return;
        if (country)
            m_flow = out.row({text, port, *country, {}, m_lineNumber, m_rules.networkOf(typed)});
        else if (m_rules.withoutCountry)
            m_flow = out.row(
                {text, port, {}, noCountryReason(typed), m_lineNumber, m_rules.networkOf(typed)});
    }

    // An address whose family has no resolver here: a view's is the owner's
    // to look up; a missing optional file's is not looked up.
    template <class Family, class Out>
    void defer(const RangeData<Family>& data, std::string_view text, std::string_view port,
               const lookup::TypedAddress& typed, Out& out) {
        if (data.deferToOwner() && m_flow == Flow::GoOn)
            m_flow = deferLine(
                DeferredLine{DeferredLine::Need::Lookup, m_lineNumber, text, port, typed}, out);
    }

    // An address with a resolver: looked up at once, or, where `out` keeps
    // rows for the lookups of a whole block (EventLog::rowToResolve), later.
    template <class Resolver, class Out>
    void lookUp(const Resolver& resolver, std::string_view text, std::string_view port,
                const lookup::TypedAddress& typed, typename Resolver::Address address, Out& out) {
        if constexpr (requires { out.rowToResolve(text, port, typed); }) {
            if (m_flow == Flow::GoOn) m_flow = out.rowToResolve(text, port, typed);
        } else {
            add(text, port, resolver.resolve(address), typed, out);
        }
    }

    template <class Out>
    void addIpv4(std::string_view text, std::string_view port, std::uint32_t address, Out& out) {
        if (!m_rules.admits(address)) return;
        const lookup::TypedAddress typed{lookup::TypedAddress::Kind::Ipv4, address, {}};
        if (const CountryResolver* resolver = m_ipv4.resolver())
            lookUp(*resolver, text, port, typed, address, out);
        else
            defer(m_ipv4, text, port, typed, out);
    }

    template <class Out>
    void addTyped(std::string_view text, std::string_view port, const lookup::TypedAddress& typed,
                  Out& out) {
        switch (typed.kind) {
            case lookup::TypedAddress::Kind::Ipv4:
                addIpv4(text, port, typed.ipv4, out);
                break;
            case lookup::TypedAddress::Kind::Ipv6:
                if (!m_rules.admits(typed.ipv6)) break;
                if (const Country6Resolver* resolver = m_ipv6.resolver())
                    lookUp(*resolver, text, port, typed, typed.ipv6, out);
                else
                    defer(m_ipv6, text, port, typed, out);
                break;
            case lookup::TypedAddress::Kind::LinkLocal:
                if (m_rules.admits(typed.ipv6)) add(text, port, std::nullopt, typed, out);
                break;
        }
    }

    template <class Out>
    void addIpv6(const FoundAddress6& found, Out& out) {
        // The scanner leaves dotted tails to the IPv4 scan; a hex one
        // (::ffff:c000:201) is still an IPv4 address.
        const std::optional<lookup::TypedAddress> typed = lookup::typedAddressOf(
            lookup::classifyIpv6({found.high, found.low}, false, found.zoned));
        if (!typed || (m_rules.firstOfLine && std::exchange(m_lineTaken, true))) return;
        addTyped(found.text, found.portText, *typed, out);
    }

    RangeData<lookup::Ipv4Ranges> m_ipv4;
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    BothFamiliesScanner m_scanner;
    LineNeighbours m_around;  // wholeWords: the bytes around the addresses found
    RowRules m_rules;
    bool m_lineTaken = false;  // firstOfLine: the line's first address was handed on
    Flow m_flow = Flow::GoOn;
    std::int64_t m_lineNumber = 0;
};

}  // namespace ipcountry::analysis
