#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/country_resolver.h"
#include "analysis/interfaces.h"
#include "analysis/line_work.h"
#include "analysis/row_rules.h"
#include "lookup/error.h"

namespace ipcountry::analysis {

// What the line work gave for some lines, kept to be handed on later. A row
// costs a few words: its texts are kept as places in the text the log was
// told of (the block of lines, which outlives the replay), and copied only
// when they lie elsewhere (an address without its TABs).
class EventLog {
public:
    // The text that the events' texts mostly lie in, and the line now worked.
    void setText(std::string_view text) noexcept { m_text = text; }
    void setLine(std::int64_t lineNumber) noexcept { m_line = lineNumber; }

    Flow row(const ResultRow& row) {
        m_events.push_back({Kind::Row, row.country.usa, row.country.slot, reasonIndex(row.reason),
                            row.network, m_line, keep(row.address), keep(row.port)});
        return Flow::GoOn;
    }
    // A row whose country is looked up later with the rest of the block's
    // (resolveRows), so that the memory reads of the lookups overlap. Only
    // addresses whose family has a resolver are kept this way.
    Flow rowToResolve(std::string_view address, std::string_view port,
                      const lookup::TypedAddress& typed) {
        const auto event = static_cast<std::uint32_t>(m_events.size());
        if (typed.kind == lookup::TypedAddress::Kind::Ipv4) {
            m_ipv4.addresses.push_back(typed.ipv4);
            m_ipv4.events.push_back(event);
        } else {
            m_ipv6.addresses.push_back(typed.ipv6);
            m_ipv6.events.push_back(event);
        }
        m_events.push_back({Kind::ToResolve, false, 0, 0, 0, m_line, keep(address), keep(port)});
        return Flow::GoOn;
    }
    // Looks up the rows kept by rowToResolve: each becomes a row with its
    // country, a row with the reason it has none (`withoutCountry`), or
    // nothing, as the line work would have made it at once; with `networks`,
    // each row's network is looked up beside its country, in one batch too.
    void resolveRows(const CountryResolver* ipv4, const Country6Resolver* ipv6, bool withoutCountry,
                     const lookup::AsFile* networks = nullptr) {
        m_ipv4.resolve(ipv4, *this, withoutCountry, networks);
        m_ipv6.resolve(ipv6, *this, withoutCountry, networks);
    }

    Flow failingLine(FailingLine&& line) {
        // Most failing lines of a list fail for one of a few reasons.
        if (m_reasons.empty() || !m_reasons.back().sameAs(line.error))
            m_reasons.push_back(std::move(line.error));
        m_events.push_back({Kind::Failing,
                            false,
                            0,
                            static_cast<std::uint32_t>(m_reasons.size() - 1),
                            0,
                            line.lineNumber,
                            {},
                            {}});
        return Flow::GoOn;
    }
    Flow deferredLine(const DeferredLine& deferred) {
        m_deferred.push_back({deferred.need, deferred.typed});
        m_events.push_back({Kind::Deferred, false, 0,
                            static_cast<std::uint32_t>(m_deferred.size() - 1), 0,
                            deferred.lineNumber, keep(deferred.address), keep(deferred.port)});
        return Flow::GoOn;
    }
    // The error that ended the work at `lineNumber`, handed on after the events before it.
    void fail(std::exception_ptr error, std::int64_t lineNumber = 0) {
        m_error = std::move(error);
        m_errorLine = lineNumber;
    }

    // Hands the events on in order, their line numbers counted on from
    // `linesBefore`; rethrows the error at its place. `lineOfError`, when
    // given, follows the line of the event being handed on.
    template <class Out>
    Flow replay(Out& out, std::int64_t linesBefore = 0, std::int64_t* lineOfError = nullptr) const {
        for (const Event& event : m_events) {
            const std::int64_t lineNumber = linesBefore + event.line;
            if (lineOfError != nullptr) *lineOfError = lineNumber;
            Flow flow = Flow::GoOn;
            switch (event.kind) {
                case Kind::ToResolve:  // resolveRows was not called: no lookup, no row
                case Kind::Dropped:
                    break;
                case Kind::Row:
                    flow = out.row(ResultRow{
                        text(event.address), text(event.port), Resolution{event.slot, event.usa},
                        event.extra == 0 ? std::string_view() : m_rowReasons[event.extra - 1],
                        lineNumber, event.network});
                    break;
                case Kind::Failing:
                    flow = out.failingLine(FailingLine{lineNumber, m_reasons[event.extra]});
                    break;
                case Kind::Deferred: {
                    const Deferred& deferred = m_deferred[event.extra];
                    flow = deferLine(DeferredLine{deferred.need, lineNumber, text(event.address),
                                                  text(event.port), deferred.typed},
                                     out);
                    break;
                }
            }
            if (flow == Flow::Stop) return flow;
        }
        if (m_error) {
            if (lineOfError != nullptr) *lineOfError = linesBefore + m_errorLine;
            std::rethrow_exception(m_error);
        }
        return Flow::GoOn;
    }

    // Empty again, keeping its memory for the next block.
    void clear() noexcept {
        m_events.clear();
        m_copies.clear();
        m_reasons.clear();
        m_rowReasons.clear();
        m_deferred.clear();
        m_ipv4.clear();
        m_ipv6.clear();
        m_error = nullptr;
        m_text = {};
        m_line = 0;
    }

private:
    enum class Kind : std::uint8_t { Row, Failing, Deferred, ToResolve, Dropped };
    // A text in m_text, or past its end in m_copies.
    struct TextRef {
        std::uint32_t at = 0;
        std::uint32_t size = 0;
    };
    struct Event {
        Kind kind;
        bool usa;
        int slot;
        std::uint32_t extra;    // into m_reasons or m_deferred; a row's reason + 1 (0: none)
        std::uint32_t network;  // a row's (ResultRow::network)
        std::int64_t line;
        TextRef address;  // or none
        TextRef port;
    };
    struct Deferred {
        DeferredLine::Need need;
        lookup::TypedAddress typed;
    };

    // One family's rows to resolve: their addresses side by side, as the
    // overlapped lookup takes them, and their events.
    template <class Family>
    struct ToResolve {
        using Address = typename Family::Address;
        std::vector<Address> addresses;
        std::vector<std::uint32_t> events;
        std::vector<std::optional<Resolution>> countries;
        std::vector<std::uint32_t> networks;

        void resolve(const BasicCountryResolver<Family>* resolver, EventLog& log,
                     bool withoutCountry, const lookup::AsFile* networkFile) {
            if (addresses.empty()) return;
            countries.resize(addresses.size());
            if (resolver != nullptr) resolver->resolveEach(addresses, countries);
            if (networkFile != nullptr) {
                networks.resize(addresses.size());
                networkFile->placesOf(addresses, networks);
            }
            for (std::size_t i = 0; i < addresses.size(); ++i) {
                Event& event = log.m_events[events[i]];
                event.network = networkFile != nullptr ? networks[i] : 0;
                if (countries[i]) {
                    event.kind = Kind::Row;
                    event.slot = countries[i]->slot;
                    event.usa = countries[i]->usa;
                } else if (withoutCountry) {
                    event.kind = Kind::Row;
                    event.extra = log.reasonIndex(noCountryReason(typed(addresses[i])));
                } else {
                    event.kind = Kind::Dropped;
                }
            }
        }
        void clear() noexcept {
            addresses.clear();
            events.clear();
        }
        static lookup::TypedAddress typed(std::uint32_t address) {
            return {lookup::TypedAddress::Kind::Ipv4, address, {}};
        }
        static lookup::TypedAddress typed(lookup::Address6 address) {
            return {lookup::TypedAddress::Kind::Ipv6, 0, address};
        }
    };

    TextRef keep(std::string_view text) {
        if (text.empty()) return {};
        const std::less_equal<const char*> notAfter;
        if (notAfter(m_text.data(), text.data()) &&
            notAfter(text.data() + text.size(), m_text.data() + m_text.size()))
            return {static_cast<std::uint32_t>(text.data() - m_text.data()),
                    static_cast<std::uint32_t>(text.size())};
        const TextRef ref{static_cast<std::uint32_t>(m_text.size() + m_copies.size()),
                          static_cast<std::uint32_t>(text.size())};
        m_copies += text;
        return ref;
    }
    // A row's reason is static text, one of a few words: kept once per log.
    std::uint32_t reasonIndex(std::string_view reason) {
        if (reason.empty()) return 0;
        const auto found = std::find(m_rowReasons.begin(), m_rowReasons.end(), reason);
        if (found != m_rowReasons.end())
            return static_cast<std::uint32_t>(found - m_rowReasons.begin()) + 1;
        m_rowReasons.push_back(reason);
        return static_cast<std::uint32_t>(m_rowReasons.size());
    }
    std::string_view text(TextRef ref) const noexcept {
        if (ref.at < m_text.size()) return m_text.substr(ref.at, ref.size);
        return std::string_view(m_copies).substr(ref.at - m_text.size(), ref.size);
    }

    std::string_view m_text;
    std::int64_t m_line = 0;
    std::vector<Event> m_events;
    std::string m_copies;
    std::vector<lookup::Error> m_reasons;
    std::vector<std::string_view> m_rowReasons;
    std::vector<Deferred> m_deferred;
    ToResolve<lookup::Ipv4Ranges> m_ipv4;
    ToResolve<lookup::Ipv6Ranges> m_ipv6;
    std::exception_ptr m_error;
    std::int64_t m_errorLine = 0;
};

}  // namespace ipcountry::analysis
