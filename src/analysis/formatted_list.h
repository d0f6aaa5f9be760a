#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/event_log.h"
#include "analysis/range_data.h"
#include "analysis/row_rules.h"
#include "analysis/run_loop.h"
#include "lookup/address_text.h"

namespace ipcountry::analysis {

// The line work of a formatted list (see run_loop.h): one address:port per
// line, TABs removed; a line that is in no address form, names no address or
// cannot be looked up is a failing line. IP_db.dbf is read before the first
// line, as ever; IP6_db.dbf at the first IPv6 line, which a list without one
// never needs. A range file that cannot be read fails each line that needs it.
class FormattedLines {
public:
    FormattedLines(const lookup::CountryTable& table, lookup::RangeFile& ranges,
                   lookup::Range6File& ranges6, const RowRules& rules = {});
    // A view for another thread (see run_loop.h); `owner` outlives it.
    struct ViewOf {
        const FormattedLines& owner;
    };
    explicit FormattedLines(ViewOf view);

    void begin();

    template <class Out>
    Flow piece(std::string_view piece, const LinePlace& at, Out& out) {
        if (!at.starts) return Flow::GoOn;  // the rest of a line already told of as too long
        return deliver(outcomeOfLine(piece, at), out);
    }

    // The lookups of the rows a view's block kept, all at once.
    void resolveRows(EventLog& log) {
        log.resolveRows(m_ipv4.resolver(), m_ipv6.resolver(), m_rules.withoutCountry,
                        m_rules.networks);
    }

    // A line that a view deferred, finished on the calling thread.
    template <class Out>
    Flow finish(const DeferredLine& deferred, Out& out) {
        return deliver(outcomeOfDeferred(deferred), out);
    }

private:
    // What one line gives; the row's texts are views into the line.
    struct LineOutcome {
        // ToResolve: a view's row whose lookup waits for the rest of the
        // block's (EventLog::rowToResolve), its texts and address in `deferred`.
        enum class Kind { Nothing, Row, Failing, Deferred, ToResolve };
        Kind kind = Kind::Nothing;
        ResultRow row;
        std::optional<FailingLine> failing;  // Failing only: most lines need none
        DeferredLine deferred;
    };

    template <class Out>
    static Flow deliver(LineOutcome&& outcome, Out& out) {
        switch (outcome.kind) {
            case LineOutcome::Kind::Row:
                return out.row(outcome.row);
            case LineOutcome::Kind::Failing:
                return out.failingLine(std::move(*outcome.failing));
            case LineOutcome::Kind::Deferred:
                return deferLine(outcome.deferred, out);
            case LineOutcome::Kind::ToResolve:
                // Only views keep rows to resolve, and their Out is a log.
                if constexpr (requires {
                                  out.rowToResolve(outcome.deferred.address, outcome.deferred.port,
                                                   outcome.deferred.typed);
                              })
                    return out.rowToResolve(outcome.deferred.address, outcome.deferred.port,
                                            outcome.deferred.typed);
                break;
            case LineOutcome::Kind::Nothing:
                break;
        }
        return Flow::GoOn;
    }

    LineOutcome outcomeOfLine(std::string_view piece, const LinePlace& at);
    LineOutcome lookUp(std::string_view address, std::string_view port,
                       const lookup::TypedAddress& typed, std::int64_t lineNumber);
    LineOutcome outcomeOfDeferred(const DeferredLine& deferred);

    RangeData<lookup::Ipv4Ranges> m_ipv4;
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    RowRules m_rules;
    bool m_view = false;
    std::string m_withoutTabs;
};

}  // namespace ipcountry::analysis
