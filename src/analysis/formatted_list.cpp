#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/line_reader.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace ipcountry::analysis {

namespace {

// One range file as this run sees it. A missing file is the failure of each
// line that needs a lookup in it (the user may put the file back while a
// prompt is up), so opening is retried until it succeeds once.
template <class Family>
class RunLookup {
public:
    RunLookup(const lookup::CountryTable& table, lookup::BasicRangeFile<Family>& ranges)
        : m_table(table), m_ranges(ranges) {}

    // The resolver, or null with the reason in `error`.
    const BasicCountryResolver<Family>* resolver() {
        if (!m_resolver) tryOpen();
        return m_resolver ? &*m_resolver : nullptr;
    }
    const std::string& error() const { return m_error; }

private:
    void tryOpen() {
        try {
            m_ranges.open();
            m_resolver.emplace(m_table, m_ranges);
        } catch (const lookup::Error& error) {
            m_error = error.what();
        }
    }

    const lookup::CountryTable& m_table;
    lookup::BasicRangeFile<Family>& m_ranges;
    std::optional<BasicCountryResolver<Family>> m_resolver;
    std::string m_error;
};

struct ListedAddress {
    std::string_view address;  // the IP cell
    std::string_view port;     // the Port cell, its colon kept
    TypedAddress typed;
};

bool isPort(std::string_view port) {
    if (port.size() < 2 || port.size() > 6 || port[0] != ':') return false;
    for (const char c : port.substr(1))
        if (c < '0' || c > '9') return false;
    return true;
}

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
        if (!listed.port.empty() && !isPort(listed.port)) return std::nullopt;
        text = line.substr(0, close + 1);
    }
    const lookup::Ipv6Address parsed = lookup::parseIpv6Text(text);
    switch (parsed.kind) {
        case lookup::Ipv6Address::Kind::Invalid:
            return std::nullopt;
        case lookup::Ipv6Address::Kind::Ipv4:
            listed.typed = {TypedAddress::Kind::Ipv4, parsed.ipv4, {}};
            break;
        case lookup::Ipv6Address::Kind::Ipv6:
            listed.typed = {TypedAddress::Kind::Ipv6, 0, parsed.address};
            break;
        case lookup::Ipv6Address::Kind::LinkLocal:
            listed.typed = {TypedAddress::Kind::LinkLocal, 0, parsed.address};
            break;
    }
    listed.address = text.starts_with('[') ? text.substr(1, text.size() - 2) : text;
    return listed;
}

}  // namespace

RunResult runFormattedList(const std::string& path, AnalysisContext& context) {
    RunResult result;
    const auto started = context.clock.now();

    LineReader reader;
    try {
        reader.open(path, LineReader::kBlockSize, context.dashIsStandardInput);
    } catch (const lookup::Error& error) {
        // There is no list to go on with: Yes ends the run as No does, and
        // neither shows statistics of a run that never read a line.
        context.prompter.askContinue({0, error.what()});
        return result;
    }

    RunLookup<lookup::Ipv4Ranges> lookup(context.table, context.ranges);
    lookup.resolver();  // opened before the first line, as ever
    // IP6_db.dbf is read at the first IPv6 line: a list without one never needs it.
    RunLookup<lookup::Ipv6Ranges> lookup6(context.table, context.ranges6);
    std::string withoutTabs;
    std::string_view line;
    bool lineEnds = false;
    bool lineStarts = true;
    std::int64_t lineNumber = 0;
    for (;;) {
        LineReader::Next next = LineReader::Next::End;
        try {
            next = reader.next(line, lineEnds);
        } catch (const lookup::Error& error) {
            // The list broke off midway: there is nothing left to go on with.
            context.prompter.askContinue({lineStarts ? lineNumber + 1 : lineNumber, error.what()});
            return result;
        }
        if (next == LineReader::Next::End) break;
        if (reader.blockWasRead() && context.progress != nullptr &&
            !context.progress->update(reader.bytesRead(), reader.fileSize()))
            return result;
        if (next == LineReader::Next::Idle) continue;
        const bool wholeLine = lineStarts && lineEnds;
        const bool firstPiece = lineStarts;
        lineStarts = lineEnds;
        if (!firstPiece) continue;  // the rest of a line already reported as too long
        ++lineNumber;
        if (!wholeLine || line.size() > kLongestFormattedLine) {
            const std::string description = "Line " + std::to_string(lineNumber) +
                                            " is longer than " +
                                            std::to_string(kLongestFormattedLine) + " characters";
            if (!context.prompter.askContinue({lineNumber, description})) return result;
            continue;
        }

        if (std::memchr(line.data(), '\t', line.size()) != nullptr) {
            withoutTabs.clear();
            for (const char c : line)
                if (c != '\t') withoutTabs += c;
            line = withoutTabs;
        }

        // The checks run in this order: colon, key, lookup. Format and key
        // failures have no description of their own.
        std::optional<std::string> failure;
        std::optional<ListedAddress> listed;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            failure.emplace();
        } else {
            try {
                listed = ListedAddress{
                    line.substr(0, colon),
                    line.substr(colon),
                    {TypedAddress::Kind::Ipv4, readAddress(line.substr(0, colon)), {}}};
            } catch (const lookup::Error& error) {
                failure.emplace(error.what());
            }
        }
        // Every IPv6 form fails the IPv4 reading (its first colon comes before
        // any dot), so a line that passes it is read as ever, and one that is
        // in neither form keeps the IPv4 reading's failure.
        if (failure) {
            if ((listed = readIpv6Line(line))) failure.reset();
        }
        if (listed) {
            std::optional<Resolution> country;
            switch (listed->typed.kind) {
                case TypedAddress::Kind::Ipv4:
                    if (const CountryResolver* resolver = lookup.resolver())
                        country = resolver->resolve(listed->typed.ipv4);
                    else
                        failure.emplace(lookup.error());
                    break;
                case TypedAddress::Kind::Ipv6:
                    if (const Country6Resolver* resolver = lookup6.resolver())
                        country = resolver->resolve(listed->typed.ipv6);
                    else
                        failure.emplace(lookup6.error());
                    break;
                case TypedAddress::Kind::LinkLocal:
                    break;  // no country: no row, as for an address no range holds
            }
            if (country) {
                context.grid.appendRow({listed->address, listed->port, *country});
                context.table.addHit(country->slot);
                ++result.rowsAdded;
            }
        }
        if (failure && !context.prompter.askContinue({lineNumber, std::move(*failure)}))
            return result;
    }

    result.status = RunStatus::Completed;
    result.elapsed = context.clock.now() - started;
    return result;
}

}  // namespace ipcountry::analysis
