#include "analysis/formatted_list.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/port_text.h"
#include "lookup/address_text.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

namespace {

struct ListedAddress {
    std::string_view address;  // the IP cell
    std::string_view port;     // the Port cell, its colon kept
    lookup::TypedAddress typed;
};

// A line in an IPv6 form: "[address]:port", "[address]", or a whole address
// without a port (its colons leave no place for one). The IP cell shows the
// address without its brackets, as users write it everywhere else.
std::optional<ListedAddress> readIpv6Line(std::string_view line) {
    ListedAddress listed;
    std::string_view text = line;
    if (line.starts_with('[')) {
        const std::size_t close = line.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        listed.port = line.substr(close + 1);
        if (!listed.port.empty() && !isWholePort(listed.port)) return std::nullopt;
        text = line.substr(0, close + 1);
    }
    const std::optional<lookup::TypedAddress> typed =
        lookup::typedAddressOf(lookup::parseIpv6Text(text));
    if (!typed) return std::nullopt;
    listed.typed = *typed;
    listed.address = text.starts_with('[') ? text.substr(1, text.size() - 2) : text;
    return listed;
}

// The address of a line without TABs, or how the dot walk over it failed
// (none for a line in no address form). The IPv4 reading comes first:
// every IPv6 form fails it (its first colon comes before any dot), so a line
// that passes it is read as ever, and one that is in neither form keeps its
// failure.
std::optional<ListedAddress> readListedAddress(std::string_view line,
                                               std::optional<lookup::Error>& failure) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && colon != 0) {
        try {
            return ListedAddress{
                line.substr(0, colon),
                line.substr(colon),
                {lookup::TypedAddress::Kind::Ipv4, lookup::readAddress(line.substr(0, colon)), {}}};
        } catch (const lookup::Error& error) {
            failure = error;
        }
    }
    return readIpv6Line(line);
}

}  // namespace

FormattedLines::FormattedLines(const lookup::CountryTable& table, lookup::RangeFile& ranges,
                               lookup::Range6File& ranges6, const RowRules& rules)
    : m_ipv4(table, ranges, RangeData<lookup::Ipv4Ranges>::Policy::KeepOnceRead),
      m_ipv6(table, ranges6, RangeData<lookup::Ipv6Ranges>::Policy::KeepOnceRead),
      m_rules(rules) {}

FormattedLines::FormattedLines(ViewOf view)
    : m_ipv4(RangeData<lookup::Ipv4Ranges>::ViewOf{view.owner.m_ipv4}),
      m_ipv6(RangeData<lookup::Ipv6Ranges>::ViewOf{view.owner.m_ipv6}),
      m_rules(view.owner.m_rules),
      m_view(true) {}

void FormattedLines::begin() {
    try {
        m_ipv4.resolver();
    } catch (const lookup::Error&) {
        // Told by the first line that needs it.
    }
}

namespace {

FailingLine tooLong(std::int64_t lineNumber) {
    return {lineNumber,
            {lookup::ErrorKind::BadData,
             lookup::ErrorCode::LineTooLong,
             {.line = lineNumber, .number = kLongestFormattedLine}}};
}

}  // namespace

FormattedLines::LineOutcome FormattedLines::outcomeOfLine(std::string_view piece,
                                                          const LinePlace& at) {
    LineOutcome outcome;
    if (!at.ends || piece.size() > kLongestFormattedLine) {
        if (m_view) {
            outcome.kind = LineOutcome::Kind::Deferred;
            outcome.deferred = {DeferredLine::Need::LineNumber, at.lineNumber, {}, {}, {}};
        } else {
            outcome.kind = LineOutcome::Kind::Failing;
            outcome.failing = tooLong(at.lineNumber);
        }
        return outcome;
    }
    std::string_view line = piece;
    if (std::memchr(line.data(), '\t', line.size()) != nullptr) {
        m_withoutTabs.clear();
        for (const char c : line)
            if (c != '\t') m_withoutTabs += c;
        line = m_withoutTabs;
    }
    // The checks run in this order: colon, key, lookup.
    std::optional<lookup::Error> failure;
    const std::optional<ListedAddress> listed = readListedAddress(line, failure);
    if (!listed) {
        // No line of its own: the FailingLine has it, and a run of lines that
        // fail alike keeps one copy of their error (EventLog).
        lookup::Error::Values values{.text = lookup::formattedLineProblem(line)};
        if (failure) {
            values.number = failure->number();
            values.cause = failure->code();
            values.causeText = failure->text();
        }
        outcome.kind = LineOutcome::Kind::Failing;
        outcome.failing =
            FailingLine{at.lineNumber,
                        {failure ? failure->kind() : lookup::ErrorKind::InvalidArgument,
                         lookup::ErrorCode::NoAddress, std::move(values)}};
        return outcome;
    }
    return lookUp(listed->address, listed->port, listed->typed, at.lineNumber);
}

FormattedLines::LineOutcome FormattedLines::lookUp(std::string_view address, std::string_view port,
                                                   const lookup::TypedAddress& typed,
                                                   std::int64_t lineNumber) {
    LineOutcome outcome;
    // A line filtered out gives nothing, as a line without a country does.
    if (!m_rules.admits(typed)) return outcome;
    const auto defer = [&] {
        outcome.kind = LineOutcome::Kind::Deferred;
        outcome.deferred = {DeferredLine::Need::Lookup, lineNumber, address, port, typed};
        return outcome;
    };
    // A view leaves the lookup to EventLog::resolveRows, with the block's others.
    const auto toResolve = [&] {
        outcome.kind = LineOutcome::Kind::ToResolve;
        outcome.deferred = {DeferredLine::Need::Lookup, lineNumber, address, port, typed};
        return outcome;
    };
    std::optional<Resolution> country;
    try {
        switch (typed.kind) {
            case lookup::TypedAddress::Kind::Ipv4:
                if (const CountryResolver* resolver = m_ipv4.resolver()) {
                    if (m_view) return toResolve();
                    country = resolver->resolve(typed.ipv4);
                } else if (m_ipv4.deferToOwner()) {
                    return defer();
                }
                break;
            case lookup::TypedAddress::Kind::Ipv6:
                if (const Country6Resolver* resolver = m_ipv6.resolver()) {
                    if (m_view) return toResolve();
                    country = resolver->resolve(typed.ipv6);
                } else if (m_ipv6.deferToOwner()) {
                    return defer();
                }
                break;
            case lookup::TypedAddress::Kind::LinkLocal:
                break;  // no country: no row, as for an address no range holds
        }
    } catch (const lookup::Error& error) {
        outcome.kind = LineOutcome::Kind::Failing;
        outcome.failing = FailingLine{lineNumber, error};
        return outcome;
    }
    if (country) {
        outcome.kind = LineOutcome::Kind::Row;
        outcome.row = {address, port, *country, {}, lineNumber, m_rules.networkOf(typed)};
    } else if (m_rules.withoutCountry) {
        outcome.kind = LineOutcome::Kind::Row;
        outcome.row = {
            address, port, {}, noCountryReason(typed), lineNumber, m_rules.networkOf(typed)};
    }
    return outcome;
}

FormattedLines::LineOutcome FormattedLines::outcomeOfDeferred(const DeferredLine& deferred) {
    if (deferred.need == DeferredLine::Need::LineNumber) {
        LineOutcome outcome;
        outcome.kind = LineOutcome::Kind::Failing;
        outcome.failing = tooLong(deferred.lineNumber);
        return outcome;
    }
    return lookUp(deferred.address, deferred.port, deferred.typed, deferred.lineNumber);
}

RunResult runFormattedList(const std::string& path, AnalysisContext& context) {
    FormattedLines lines(context.table, context.ranges, context.ranges6, context.rows);
    return runLines(path, context, lines, RunError::AsFailingLine);
}

}  // namespace ipcountry::analysis
