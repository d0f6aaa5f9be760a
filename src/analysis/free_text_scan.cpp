#include "analysis/free_text_scan.h"

#include <optional>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "analysis/both_families_scan.h"
#include "analysis/country_resolver.h"
#include "analysis/line_reader.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

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
        // IP6_db.dbf is read at the first IPv6 address. A folder without it
        // is an installation older than IPv6 support: its IPv6 addresses are
        // not counted and its IPv4 ones as ever.
        std::optional<Country6Resolver> resolver6;
        bool noIpv6Data = false;

        const auto addRow = [&](std::string_view text, std::string_view port,
                                const std::optional<Resolution>& country) {
            if (!country) return;
            context.grid.appendRow({text, port, *country});
            context.table.addHit(country->slot);
            ++result.rowsAdded;
        };
        const auto addIpv4 = [&](std::string_view text, std::string_view port,
                                 std::uint32_t address) {
            if (!resolver) {
                context.ranges.open();  // throws the run's error while the file is missing
                resolver.emplace(context.table, context.ranges);
            }
            addRow(text, port, resolver->resolve(address));
        };
        const auto onAddress = [&](const FoundAddress& found) {
            addIpv4(found.dottedText, found.portText, found.address);
        };
        const auto onAddress6 = [&](const FoundAddress6& found) {
            // The scanner leaves dotted tails to the IPv4 scan; a hex one
            // (::ffff:c000:201) is still an IPv4 address.
            const lookup::Ipv6Address kind =
                lookup::classifyIpv6({found.high, found.low}, false, found.zoned);
            if (kind.kind == lookup::Ipv6Address::Kind::Ipv4) {
                addIpv4(found.text, found.portText, kind.ipv4);
                return;
            }
            if (kind.kind != lookup::Ipv6Address::Kind::Ipv6 || noIpv6Data) return;
            if (!resolver6) {
                try {
                    context.ranges6.open();
                } catch (const lookup::Error& error) {
                    if (error.kind() != lookup::ErrorKind::FileNotFound) throw;
                    noIpv6Data = true;
                    return;
                }
                resolver6.emplace(context.table, context.ranges6);
            }
            addRow(found.text, found.portText, resolver6->resolve(kind.address));
        };

        // Lines come whole but for those longer than a block, which come in
        // pieces; the scanners answer the same either way.
        BothFamiliesScanner<Ipv4Scanner> scanner;
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
                scanner.scanLine(piece, onAddress, onAddress6);
            } else {
                scanner.feed(piece, onAddress, onAddress6);
                if (lineEnds) scanner.endLine(onAddress, onAddress6);
            }
            lineStarts = lineEnds;
        }
    } catch (const lookup::Error& error) {
        context.prompter.showError(error.what());
        return result;
    }

    result.status = RunStatus::Completed;
    result.elapsed = context.clock.now() - started;
    return result;
}

}  // namespace ipcountry::analysis
