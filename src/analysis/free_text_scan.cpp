#include "analysis/free_text_scan.h"

#include <optional>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "analysis/country_resolver.h"
#include "analysis/line_reader.h"
#include "analysis/messages.h"
#include "lookup/error.h"

namespace ipcountry::analysis {

RunResult runFreeTextScan(const std::string& path, AnalysisContext& context) {
    RunResult result;
    const auto started = context.clock.now();

    // Any run-time error ends the run with one OK message; what was added
    // before it stays.
    try {
        LineReader reader;
        reader.open(path, LineReader::kBlockSize, context.dashIsStandardInput);

        // The range file is opened once per run. A file without addresses
        // needs no lookup, so a missing range file only fails the run at the
        // first address found.
        std::optional<CountryResolver> resolver;
        try {
            context.ranges.open();
            resolver.emplace(context.table, context.ranges);
        } catch (const lookup::Error&) {
            // Reported by the first lookup, which opens again.
        }

        const auto onAddress = [&](const FoundAddress& found) {
            if (!resolver) {
                context.ranges.open();  // throws the run's error while the file is missing
                resolver.emplace(context.table, context.ranges);
            }
            if (const std::optional<Resolution> country = resolver->resolve(found.address)) {
                context.grid.appendRow(found.dottedText, found.portText, country->country,
                                       country->slot);
                context.table.addHit(country->slot);
                ++result.rowsAdded;
            }
        };

        // Lines come whole but for those longer than a block, which come in
        // pieces; the scanner answers the same either way.
        Ipv4Scanner scanner;
        std::string_view piece;
        bool lineEnds = false;
        bool lineStarts = true;
        for (;;) {
            const LineReader::Next next = reader.next(piece, lineEnds);
            if (next == LineReader::Next::End) break;
            if (reader.blockWasRead() && context.progress != nullptr &&
                !context.progress->update(reader.bytesRead(), reader.fileSize()))
                return result;
            if (next == LineReader::Next::Idle) continue;
            if (lineStarts && lineEnds) {
                scanner.scanLine(piece, onAddress);
            } else {
                scanner.feed(piece, onAddress);
                if (lineEnds) scanner.endLine(onAddress);
            }
            lineStarts = lineEnds;
        }
    } catch (const lookup::Error& error) {
        context.prompter.showError(wrongDataMessage(error.what()));
        return result;
    }

    result.status = RunStatus::Completed;
    result.elapsed = context.clock.now() - started;
    return result;
}

}  // namespace ipcountry::analysis
