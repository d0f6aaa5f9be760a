#include "formats/stats_merger.h"

#include <cmath>

#include "analysis/flag_code.h"
#include "analysis/interfaces.h"
#include "analysis/line_reader.h"
#include "common/error_text.h"
#include "formats/stats_lines.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/text_file.h"

namespace ipcountry::batch {

using stats_lines::Malformed;

SlotFinder::SlotFinder(const lookup::CountryTable& table)
    : m_table(table),
      m_usaName(lookup::windows1252ToUtf8(
          analysis::countryName(table, analysis::Resolution{lookup::kUsSlot, true}))) {
    m_names.resize(static_cast<std::size_t>(table.slotCount()));
    m_codes.resize(m_names.size());
    for (int slot = 0; slot < table.slotCount(); ++slot) {
        m_names[slot] = lookup::windows1252ToUtf8(
            analysis::countryName(table, analysis::Resolution{slot, false}));
        m_codes[slot] = lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(table, slot));
        m_firstByName.emplace(m_names[slot], slot);  // the first slot of a name wins
    }
}

std::optional<int> SlotFinder::byCountry(std::string_view country) {
    if (country == m_usaName) return lookup::kUsSlot;
    // Rows of one country come in runs: most lines need no map lookup.
    if (m_lastSlot >= 0 && country == m_names[m_lastSlot]) return m_lastSlot;
    const auto found = m_firstByName.find(std::string(country));
    if (found == m_firstByName.end()) return std::nullopt;
    m_lastSlot = found->second;
    return m_lastSlot;
}

std::optional<int> SlotFinder::byCode(std::string_view code, std::string_view country) const {
    const std::optional<int> slot =
        code == m_codes[lookup::kUsSlot] ? std::optional(lookup::kUsSlot) : m_table.findSlot(code);
    if (!slot) return std::nullopt;
    if (country == m_names[*slot] || (*slot == lookup::kUsSlot && country == m_usaName))
        return slot;
    return std::nullopt;
}

std::optional<int> SlotFinder::ofStatistics(std::string_view name,
                                            std::optional<std::string_view> code) const {
    const auto fits = [&](int slot) {
        return m_names[slot] == name && (!code || m_codes[slot] == *code);
    };
    if (fits(lookup::kUsSlot)) return lookup::kUsSlot;
    for (int slot = 0; slot < m_table.slotCount(); ++slot)
        if (fits(slot)) return slot;
    return std::nullopt;
}

StatsMerger::StatsMerger(const lookup::CountryTable& table, std::string dataDir,
                         std::optional<Format> inputFormat, std::ostream& messages)
    : m_slots(table),
      m_dataDir(std::move(dataDir)),
      m_namedFormat(inputFormat),
      m_messages(messages) {}

void StatsMerger::begin(const std::string& name) {
    m_name = name;
    m_lineNumber = 0;
    m_format = m_namedFormat;
    m_expect = Expect::Rows;
    m_sinceBlock = {};
    m_reasonsSinceBlock = {};
    m_rowsSinceBlock = 0;
    m_reports = 0;
    m_csvRows.reset();
}

bool StatsMerger::wholeLine(std::string_view text) {
    ++m_lineNumber;
    try {
        line(text);
    } catch (const Malformed& error) {
        m_expect = Expect::Rows;
        report(error.why());
    }
    if (m_reports < kMostReports) return true;
    m_messages << "ipcountry-batch: " << m_name
               << ": not the driver's output; the rest is not read\n";
    return false;
}

StatsMerger::Read StatsMerger::end() {
    if (m_expect != Expect::Rows) {
        ++m_lineNumber;
        report("the file ends inside a statistics block");
    }
    return m_reports == 0 ? Read::Whole : Read::Malformed;
}

StatsMerger::Read StatsMerger::read(const std::string& path) {
    begin(path);
    analysis::LineReader reader;
    try {
        reader.open(path, analysis::LineReader::kBlockSize, true);
        std::string_view piece;
        bool lineEnds = false;
        bool lineStarts = true;
        for (;;) {
            const auto next = reader.next(piece, lineEnds);
            if (next == analysis::LineReader::Next::End) break;
            if (next == analysis::LineReader::Next::Idle) continue;
            const bool whole = lineStarts && lineEnds;
            const bool firstPiece = lineStarts;
            lineStarts = lineEnds;
            if (!firstPiece) continue;  // the rest of a line already reported as too long
            if (whole) {
                if (!wholeLine(piece)) return Read::Malformed;
                continue;
            }
            ++m_lineNumber;
            report("the line is longer than any the driver prints");
            if (m_reports >= kMostReports) return Read::Malformed;
        }
    } catch (const lookup::Error& error) {
        m_messages << "ipcountry-batch: " << output::problemText(error) << '\n';
        return Read::Unreadable;
    }
    return end();
}

StatsMerger::Read StatsMerger::readText(std::string_view content, const std::string& name) {
    begin(name);
    bool going = true;
    lookup::forEachLine(content, [&](std::string_view text) {
        if (going) going = wholeLine(text);
    });
    return going ? end() : Read::Malformed;
}

void StatsMerger::report(const std::string& why) {
    ++m_reports;
    // As the analyses and compilers write them: FILE:LINE: reason.
    m_messages << "ipcountry-batch: " << m_name << ':' << m_lineNumber << ": " << why << '\n';
}

void StatsMerger::line(std::string_view text) {
    if (!m_format) {
        if (text.empty()) return;
        // Only tsv has TABs, only json starts with a brace; the elapsed
        // sentence begins the statistics of tsv.
        if (text.front() == '{')
            m_format = Format::Json;
        else if (text.find('\t') != std::string_view::npos ||
                 text.starts_with(analysis::kElapsedSentence))
            m_format = Format::Tsv;
        else
            m_format = Format::Csv;
    }
    switch (*m_format) {
        case Format::Tsv:
            tsvLine(text);
            break;
        case Format::Csv:
            csvLine(text);
            break;
        case Format::Json:
            jsonLine(text);
            break;
    }
}

void StatsMerger::countRow(std::string_view ip, std::optional<int> slot, std::string_view country,
                           std::string_view code) {
    if (!slot) {
        throw Malformed("the country '" + std::string(country) +
                        (code.empty() && *m_format == Format::Tsv
                             ? "'"
                             : "' with the code '" + std::string(code) + "'") +
                        " is not one of " + m_dataDir + "/" +
                        std::string(lookup::kCountryFileName));
    }
    m_addresses.appendRow(analysis::ResultRow{ip, {}, analysis::Resolution{*slot, false}});
    ++m_rowsRead;
    ++m_total;
    ++m_counts[*slot];
    ++m_sinceBlock[*slot];
    ++m_rowsSinceBlock;
}

void StatsMerger::countNetwork(std::string_view as, std::string_view name,
                               std::optional<int> slot) {
    if (as.empty()) {
        ++m_noNetwork;
        return;
    }
    const std::optional<std::uint32_t> number = parseAsNumber(as);
    if (!number) throw Malformed("'" + std::string(as) + "' is not an AS number (AS13335)");
    NetworkTally& tally = m_networks[*number];
    if (tally.count == 0) tally.name = std::string(name);
    ++tally.count;
    if (!slot) return;
    for (auto& [s, count] : tally.countries) {
        if (s == *slot) {
            ++count;
            return;
        }
    }
    tally.countries.emplace_back(*slot, 1);
}

void StatsMerger::noNetworkColumns() const {
    throw Malformed("a row without its network: --by as counts rows written with --asn");
}

void StatsMerger::countReasonRow(std::string_view ip, std::string_view reason) {
    const auto index = analysis::noCountryReasonIndex(reason);
    if (!index) throw Malformed("'" + std::string(reason) + "' is not a reason for no country");
    // With its reason, so that it counts as no country's address.
    m_addresses.appendRow(analysis::ResultRow{ip, {}, {}, analysis::kNoCountryReasons[*index]});
    ++m_rowsRead;
    ++m_total;
    ++m_reasons[*index];
    ++m_reasonsSinceBlock[*index];
    ++m_rowsSinceBlock;
}

void StatsMerger::openBlock(double seconds, std::optional<std::int64_t> total,
                            std::optional<std::int64_t> distinct) {
    if (!total || !std::isfinite(seconds) || seconds < 0)
        throw Malformed("the statistics block's elapsed time or total is not a number");
    m_block = Block{seconds, *total, 0, distinct, {}, {}, true, {}, m_lineNumber};
}

void StatsMerger::blockCountry(std::optional<int> slot, std::optional<std::int64_t> count,
                               std::string_view name, std::optional<std::int64_t> clients) {
    if (name == words::kOtherCountriesName)
        throw Malformed(
            "the statistics were cut by --top: the countries left out cannot be merged");
    if (!count || *count == 0) throw Malformed("the statistics block's count is not a number");
    if (!slot)
        throw Malformed("the country '" + std::string(name) + "' is not one of " + m_dataDir + "/" +
                        std::string(lookup::kCountryFileName));
    if (*count > m_block.total - m_block.listed)
        throw Malformed("the statistics block's counts add up to more than its total");
    if (clients && (*clients < 1 || *clients > *count))
        throw Malformed("the country's distinct addresses are not from 1 to its count");
    m_block.counts[*slot] += *count;
    m_block.listed += *count;
    m_block.clientsKnown = m_block.clientsKnown && clients.has_value();
    if (clients) m_block.clients[*slot] += *clients;
}

void StatsMerger::blockReason(std::string_view reason, std::optional<std::int64_t> count) {
    const auto index = analysis::noCountryReasonIndex(reason);
    if (!index) throw Malformed("'" + std::string(reason) + "' is not a reason for no country");
    if (!count || *count == 0) throw Malformed("the statistics block's count is not a number");
    if (*count > m_block.total - m_block.listed)
        throw Malformed("the statistics block's counts add up to more than its total");
    m_block.reasons[*index] += *count;
    m_block.listed += *count;
}

void StatsMerger::closeBlockWhenFull() {
    if (m_block.listed == m_block.total) closeBlock();
}

void StatsMerger::closeBlock() {
    m_expect = Expect::Rows;
    if (m_rowsSinceBlock > 0 &&
        (m_block.counts != m_sinceBlock || m_block.reasons != m_reasonsSinceBlock)) {
        // Rows lost or added since the run printed them.
        const std::int64_t line = m_lineNumber;
        m_lineNumber = m_block.line;
        report("the statistics block does not agree with the " + std::to_string(m_rowsSinceBlock) +
               " rows before it");
        m_lineNumber = line;
    } else if (m_rowsSinceBlock == 0) {
        if (m_byNetwork && m_block.total > 0)
            throw Malformed("statistics without their rows cannot be counted by network");
        // Each count is at most the whole, so no count overflows once the whole does not.
        if (__builtin_add_overflow(m_total, m_block.total, &m_total))
            throw Malformed("the statistics add up to more addresses than can be counted");
        for (std::size_t slot = 0; slot < m_counts.size(); ++slot)
            m_counts[slot] += m_block.counts[slot];
        for (std::size_t i = 0; i < m_reasons.size(); ++i) m_reasons[i] += m_block.reasons[i];
        // A block of no rows (an empty shard) tells nothing of distinct addresses.
        if (m_block.total > 0) {
            ++m_blocksAlone;
            m_distinctAlone = m_block.distinct;
            if (m_block.clientsKnown)
                m_clientsAlone = m_block.clients;
            else
                m_clientsAlone.reset();
        }
    }
    m_sinceBlock = {};
    m_reasonsSinceBlock = {};
    m_rowsSinceBlock = 0;
    m_blockSeconds += m_block.seconds;
    ++m_blocks;
}

std::optional<std::int64_t> StatsMerger::distinct() {
    if (m_blocksAlone == 0) return static_cast<std::int64_t>(m_addresses.distinct());
    // The addresses of two blocks may overlap, and a block's rows are gone.
    if (m_blocksAlone == 1 && m_rowsRead == 0) return m_distinctAlone;
    return std::nullopt;
}

std::vector<std::int64_t> StatsMerger::clients() {
    if (m_blocksAlone == 0) return m_addresses.distinctBySlot();
    if (m_blocksAlone == 1 && m_rowsRead == 0 && m_clientsAlone)
        return std::vector<std::int64_t>(m_clientsAlone->begin(), m_clientsAlone->end());
    return {};
}

}  // namespace ipcountry::batch
