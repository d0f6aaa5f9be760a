#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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
        return tell(judge(piece, at), out);
    }

    // A line that a view left, finished on the calling thread.
    template <class Out>
    Flow finish(const LeftLine& left, Out& out) {
        return tell(settle(left), out);
    }

private:
    // What one line gives; the row's texts are views into the line.
    struct Verdict {
        enum class Kind { Nothing, Row, Failing, Left };
        Kind kind = Kind::Nothing;
        ResultRow row;
        FailingLine failing;
        LeftLine left;
    };

    template <class Out>
    static Flow tell(Verdict&& verdict, Out& out) {
        switch (verdict.kind) {
            case Verdict::Kind::Row:
                return out.row(verdict.row);
            case Verdict::Kind::Failing:
                return out.failingLine(std::move(verdict.failing));
            case Verdict::Kind::Left:
                return leaveLine(verdict.left, out);
            case Verdict::Kind::Nothing:
                break;
        }
        return Flow::GoOn;
    }

    Verdict judge(std::string_view piece, const LinePlace& at);
    Verdict lookUp(std::string_view address, std::string_view port,
                   const lookup::TypedAddress& typed, std::int64_t lineNumber);
    Verdict settle(const LeftLine& left);

    RangeData<lookup::Ipv4Ranges> m_ipv4;
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    RowRules m_rules;
    bool m_view = false;
    std::string m_withoutTabs;
};

}  // namespace ipcountry::analysis
