#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/line_reader.h"
#include "analysis/messages.h"
#include "lookup/error.h"

namespace ipcountry::analysis {

namespace {

// The range file as this run sees it. A missing file is the failure of each
// line that needs a lookup (the user may put the file back while a prompt is
// up), so opening is retried until it succeeds once.
class RunLookup {
public:
    explicit RunLookup(AnalysisContext& context) : m_context(context) { tryOpen(); }

    // The resolver, or null with the reason in `error`.
    const CountryResolver* resolver() {
        if (!m_resolver) tryOpen();
        return m_resolver ? &*m_resolver : nullptr;
    }
    const std::string& error() const { return m_error; }

private:
    void tryOpen() {
        try {
            m_context.ranges.open();
            m_resolver.emplace(m_context.table, m_context.ranges);
        } catch (const lookup::Error& error) {
            m_error = error.what();
        }
    }

    AnalysisContext& m_context;
    std::optional<CountryResolver> m_resolver;
    std::string m_error;
};

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
        context.prompter.askContinue(continuePrompt(error.what()), 0);
        return result;
    }

    RunLookup lookup(context);
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
            context.prompter.askContinue(continuePrompt(error.what()),
                                         lineStarts ? lineNumber + 1 : lineNumber);
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
            if (!context.prompter.askContinue(continuePrompt(description), lineNumber))
                return result;
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
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            failure.emplace();
        } else {
            const std::string_view address = line.substr(0, colon);
            const std::string_view port = line.substr(colon);
            std::optional<std::uint32_t> value;
            try {
                value = readAddress(address);
            } catch (const lookup::Error& error) {
                failure.emplace(error.what());
            }
            if (value) {
                if (const CountryResolver* resolver = lookup.resolver()) {
                    if (const std::optional<Resolution> country = resolver->resolve(*value)) {
                        context.grid.appendRow(address, port, country->country, country->slot);
                        context.table.addHit(country->slot);
                        ++result.rowsAdded;
                    }
                } else {
                    failure.emplace(lookup.error());
                }
            }
        }
        if (failure && !context.prompter.askContinue(continuePrompt(*failure), lineNumber))
            return result;
    }

    result.status = RunStatus::Completed;
    result.elapsed = context.clock.now() - started;
    return result;
}

}  // namespace ipcountry::analysis
