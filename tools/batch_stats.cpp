#include "batch_stats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "analysis/interfaces.h"
#include "analysis/line_reader.h"
#include "analysis/statistics.h"
#include "lookup/country_table.h"
#include "lookup/error.h"

namespace ipcountry::batch {
namespace {

using Counts = std::array<std::int64_t, lookup::kSlotCount>;
using Json = nlohmann::json;

// The slot a printed row was counted in, found again from what the row shows.
class SlotFinder {
public:
    explicit SlotFinder(const lookup::CountryTable& table) : m_table(table) {
        for (int slot = 0; slot < lookup::kSlotCount; ++slot) {
            m_names[slot] = lookup::windows1252ToUtf8(table.slotName(slot));
            m_firstByName.emplace(m_names[slot], slot);  // the first slot of a name wins
        }
    }

    // A tsv row shows the country only: "USA" is the US slot, as the
    // analyses count it; any other name the first slot that has it.
    std::optional<int> byCountry(std::string_view country) {
        if (country == kUsa) return lookup::kUsSlot;
        return byName(country);
    }

    // csv and json rows show the code of the slot too (US for the US slot),
    // which says which slot; the country must be what that slot shows.
    std::optional<int> byCode(std::string_view code, std::string_view country) const {
        const std::optional<int> slot =
            code == "US" ? std::optional(lookup::kUsSlot) : m_table.findSlot(code);
        if (!slot) return std::nullopt;
        if (country == m_names[*slot] || (*slot == lookup::kUsSlot && country == kUsa)) return slot;
        return std::nullopt;
    }

    // A statistics row shows the slot's own name, and in csv and json its code.
    std::optional<int> ofStatistics(std::string_view name,
                                    std::optional<std::string_view> code) const {
        for (int slot = 0; slot < lookup::kSlotCount; ++slot)
            if (m_names[slot] == name && (!code || m_table.slotCode(slot) == *code)) return slot;
        return std::nullopt;
    }

private:
    static constexpr std::string_view kUsa = "USA";

    std::optional<int> byName(std::string_view name) {
        // Rows of one country come in runs: most lines need no map lookup.
        if (m_lastSlot >= 0 && name == m_names[m_lastSlot]) return m_lastSlot;
        const auto found = m_firstByName.find(std::string(name));
        if (found == m_firstByName.end()) return std::nullopt;
        m_lastSlot = found->second;
        return m_lastSlot;
    }

    const lookup::CountryTable& m_table;
    std::array<std::string, lookup::kSlotCount> m_names;
    std::unordered_map<std::string, int> m_firstByName;
    int m_lastSlot = -1;
};

// Splits an RFC 4180 line into its fields (the driver never breaks a field
// across lines). False for a quote left open.
bool splitCsv(std::string_view line, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return !quoted;
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

// "H:mm:ss", as the driver prints the elapsed time (hours run past 24).
std::optional<double> clockSeconds(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || text.size() != colon + 6 || text[colon + 3] != ':')
        return std::nullopt;
    const auto hours = wholeNumber(text.substr(0, colon));
    const auto minutes = wholeNumber(text.substr(colon + 1, 2));
    const auto seconds = wholeNumber(text.substr(colon + 4, 2));
    if (!hours || !minutes || !seconds || *minutes > 59 || *seconds > 59) return std::nullopt;
    return static_cast<double>(*hours * 3600 + *minutes * 60 + *seconds);
}

// A row as the driver writes it when nothing in it needs an escape, read
// without a JSON parser: most of what a merge reads, at several times the
// parser's speed. False leaves the line to the parser.
bool plainJsonRow(std::string_view line, std::string_view& country, std::string_view& code) {
    if (line.find('\\') != std::string_view::npos) return false;
    const auto skip = [&line](std::string_view text) {
        if (!line.starts_with(text)) return false;
        line.remove_prefix(text.size());
        return true;
    };
    const auto string = [&line](std::string_view& text) {
        const std::size_t quote = line.find('"');
        if (quote == std::string_view::npos) return false;
        text = line.substr(0, quote);
        line.remove_prefix(quote + 1);
        return true;
    };
    std::string_view ip;
    if (!skip("{\"ip\":\"") || !string(ip) || ip.empty() || !skip(",\"port\":")) return false;
    std::string_view port;
    if (!skip("null") && !(skip("\"") && string(port))) {
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string_view::npos) return false;
        line.remove_prefix(digits);
    }
    return skip(",\"country\":\"") && string(country) && skip(",\"code\":\"") && string(code) &&
           line == "}";
}

class Malformed {
public:
    explicit Malformed(std::string why) : m_why(std::move(why)) {}
    const std::string& why() const { return m_why; }

private:
    std::string m_why;
};

// Reads the inputs one after the other and adds up what they count.
class Merger {
public:
    Merger(const lookup::CountryTable& table, std::string dataDir,
           std::optional<Format> inputFormat)
        : m_slots(table), m_dataDir(std::move(dataDir)), m_namedFormat(inputFormat) {}

    // False when the input could not be read whole or held a line that the
    // driver does not print; each is reported.
    bool read(const std::string& path);

    const Counts& counts() const { return m_counts; }
    // The sum of the elapsed times of the statistics blocks read; nullopt when there were none.
    std::optional<double> blockSeconds() const {
        return m_blocks > 0 ? std::optional(m_blockSeconds) : std::nullopt;
    }

private:
    // After this many reports a file is taken for something else than the
    // driver's output and read no further.
    static constexpr int kMostReports = 10;

    enum class Expect {
        Rows,            // rows, headers, blank lines, or the start of a block
        TsvTotal,        // "Total number of IPs is N"
        CsvRunValues,    // "seconds,total"
        CsvCountryHead,  // "Country,Code,Count,Share"
        BlockCountries,  // the block's country rows, until their counts reach its total
    };

    struct Block {
        double seconds = 0;
        std::int64_t total = 0;
        std::int64_t listed = 0;
        Counts counts{};
        std::int64_t line = 0;
    };

    void line(std::string_view text);
    void tsvLine(std::string_view text);
    void csvLine(std::string_view text);
    void jsonLine(std::string_view text);
    void countRow(std::optional<int> slot, std::string_view country, std::string_view code);
    void openBlock(double seconds, std::optional<std::int64_t> total);
    void blockCountry(std::optional<int> slot, std::optional<std::int64_t> count,
                      std::string_view name);
    void closeBlock();
    void report(const std::string& why);

    SlotFinder m_slots;
    std::string m_dataDir;
    std::optional<Format> m_namedFormat;
    Counts m_counts{};
    double m_blockSeconds = 0;
    std::int64_t m_blocks = 0;

    // Of the file being read.
    std::string m_name;
    std::int64_t m_lineNumber = 0;
    std::optional<Format> m_format;
    Expect m_expect = Expect::Rows;
    Block m_block;
    Counts m_sinceBlock{};  // rows since the file's last block
    std::int64_t m_rowsSinceBlock = 0;
    int m_reports = 0;
    std::vector<std::string> m_fields;
};

bool Merger::read(const std::string& path) {
    m_name = inputName(path);
    m_lineNumber = 0;
    m_format = m_namedFormat;
    m_expect = Expect::Rows;
    m_sinceBlock = {};
    m_rowsSinceBlock = 0;
    m_reports = 0;

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
            ++m_lineNumber;
            if (!whole) {
                report("the line is longer than any the driver prints");
            } else {
                try {
                    line(piece);
                } catch (const Malformed& error) {
                    m_expect = Expect::Rows;
                    report(error.why());
                }
            }
            if (m_reports >= kMostReports) {
                std::cerr << "ipcountry-batch: " << m_name
                          << ": not the driver's output; the rest is not read\n";
                return false;
            }
        }
    } catch (const lookup::Error& error) {
        std::cerr << "ipcountry-batch: " << error.what() << '\n';
        return false;
    }
    if (m_expect != Expect::Rows) {
        ++m_lineNumber;
        report("the file ends inside a statistics block");
    }
    return m_reports == 0;
}

void Merger::report(const std::string& why) {
    ++m_reports;
    std::cerr << "ipcountry-batch: " << m_name << ": line " << m_lineNumber << ": " << why << '\n';
}

void Merger::line(std::string_view text) {
    if (!m_format) {
        if (text.empty()) return;
        // Only tsv has TABs, only json starts with a brace; "Analysis took"
        // begins the statistics of tsv.
        if (text.front() == '{')
            m_format = Format::Json;
        else if (text.find('\t') != std::string_view::npos || text.starts_with("Analysis took "))
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

void Merger::countRow(std::optional<int> slot, std::string_view country, std::string_view code) {
    if (!slot) {
        throw Malformed("the country '" + std::string(country) +
                        (code.empty() && *m_format == Format::Tsv
                             ? "'"
                             : "' with the code '" + std::string(code) + "'") +
                        " is not one of " + m_dataDir + "/Country.dbf");
    }
    ++m_counts[*slot];
    ++m_sinceBlock[*slot];
    ++m_rowsSinceBlock;
}

void Merger::openBlock(double seconds, std::optional<std::int64_t> total) {
    if (!total || !std::isfinite(seconds) || seconds < 0)
        throw Malformed("the statistics block's elapsed time or total is not a number");
    m_block = Block{seconds, *total, 0, {}, m_lineNumber};
}

void Merger::blockCountry(std::optional<int> slot, std::optional<std::int64_t> count,
                          std::string_view name) {
    if (!count || *count == 0) throw Malformed("the statistics block's count is not a number");
    if (!slot)
        throw Malformed("the country '" + std::string(name) + "' is not one of " + m_dataDir +
                        "/Country.dbf");
    m_block.counts[*slot] += *count;
    m_block.listed += *count;
    if (m_block.listed > m_block.total)
        throw Malformed("the statistics block's counts add up to more than its total");
}

void Merger::closeBlock() {
    m_expect = Expect::Rows;
    if (m_rowsSinceBlock > 0 && m_block.counts != m_sinceBlock) {
        // Rows lost or added since the run printed them.
        const std::int64_t line = m_lineNumber;
        m_lineNumber = m_block.line;
        report("the statistics block does not agree with the " + std::to_string(m_rowsSinceBlock) +
               " rows before it");
        m_lineNumber = line;
    } else if (m_rowsSinceBlock == 0) {
        for (int slot = 0; slot < lookup::kSlotCount; ++slot)
            m_counts[slot] += m_block.counts[slot];
    }
    m_sinceBlock = {};
    m_rowsSinceBlock = 0;
    m_blockSeconds += m_block.seconds;
    ++m_blocks;
}

// IP<TAB>Port<TAB>Country rows; then "", "Analysis took H:mm:ss", "Total
// number of IPs is N" and Country<TAB>Count<TAB>Share rows.
void Merger::tsvLine(std::string_view text) {
    const std::size_t tab1 = text.find('\t');
    const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : text.find('\t', tab1 + 1);
    switch (m_expect) {
        case Expect::Rows:
            if (text.empty()) return;
            if (text.starts_with("Analysis took ")) {
                const auto seconds = clockSeconds(text.substr(14));
                openBlock(seconds.value_or(NAN), 0);
                m_expect = Expect::TsvTotal;
                return;
            }
            if (tab2 == std::string_view::npos || tab1 == 0)
                throw Malformed("not a row (IP, Port and Country separated by TABs)");
            countRow(m_slots.byCountry(text.substr(tab2 + 1)), text.substr(tab2 + 1), {});
            return;
        case Expect::TsvTotal: {
            constexpr std::string_view kTotal = "Total number of IPs is ";
            const auto total =
                text.starts_with(kTotal) ? wholeNumber(text.substr(kTotal.size())) : std::nullopt;
            if (!total)
                throw Malformed("\"Total number of IPs is N\" should follow \"Analysis took\"");
            m_block.total = *total;
            m_expect = Expect::BlockCountries;
            break;
        }
        case Expect::BlockCountries:
            if (tab2 == std::string_view::npos)
                throw Malformed("not a row of the statistics (Country, Count and Share)");
            blockCountry(m_slots.ofStatistics(text.substr(0, tab1), std::nullopt),
                         wholeNumber(text.substr(tab1 + 1, tab2 - tab1 - 1)), text.substr(0, tab1));
            break;
        default:
            break;
    }
    if (m_block.listed == m_block.total) closeBlock();
}

// A header, then IP,Port,Country,Code rows; then after a blank line
// "Elapsed seconds,Total" and its values, after another
// "Country,Code,Count,Share" and a row per country.
void Merger::csvLine(std::string_view text) {
    if (!splitCsv(text, m_fields)) throw Malformed("a quote is left open");
    const auto is = [this](std::initializer_list<std::string_view> names) {
        return std::equal(m_fields.begin(), m_fields.end(), names.begin(), names.end());
    };
    switch (m_expect) {
        case Expect::Rows:
            if (text.empty() || is({"IP", "Port", "Country", "Code"})) return;
            if (is({"Elapsed seconds", "Total"})) {
                m_expect = Expect::CsvRunValues;
                return;
            }
            if (m_fields.size() != 4 || m_fields[0].empty())
                throw Malformed("not a row (IP,Port,Country,Code)");
            countRow(m_slots.byCode(m_fields[3], m_fields[2]), m_fields[2], m_fields[3]);
            return;
        case Expect::CsvRunValues: {
            double seconds = NAN;
            if (m_fields.size() == 2) {
                const std::string& s = m_fields[0];
                const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), seconds);
                if (ec != std::errc() || end != s.data() + s.size()) seconds = NAN;
            }
            openBlock(seconds, m_fields.size() == 2 ? wholeNumber(m_fields[1]) : std::nullopt);
            m_expect = Expect::CsvCountryHead;
            return;
        }
        case Expect::CsvCountryHead:
            if (text.empty()) return;
            if (!is({"Country", "Code", "Count", "Share"}))
                throw Malformed("\"Country,Code,Count,Share\" should follow the run's values");
            m_expect = Expect::BlockCountries;
            break;
        case Expect::BlockCountries:
            if (m_fields.size() != 4)
                throw Malformed("not a row of the statistics (Country,Code,Count,Share)");
            blockCountry(m_slots.ofStatistics(m_fields[0], m_fields[1]), wholeNumber(m_fields[2]),
                         m_fields[0]);
            break;
        default:
            break;
    }
    if (m_block.listed == m_block.total) closeBlock();
}

// One object per line: a row with ip, port, country and code, or the
// statistics with elapsed_seconds, total and countries.
void Merger::jsonLine(std::string_view text) {
    if (text.empty()) return;
    std::string_view country;
    std::string_view code;
    if (plainJsonRow(text, country, code)) {
        countRow(m_slots.byCode(code, country), country, code);
        return;
    }
    const Json object = Json::parse(text, nullptr, false);
    if (!object.is_object()) throw Malformed("not a JSON object");
    const auto stringMember = [&object](const char* key) -> const std::string* {
        const auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>()
                                                           : nullptr;
    };
    const auto number = [](const Json& value) -> std::optional<std::int64_t> {
        if (!value.is_number_unsigned()) return std::nullopt;
        return value.get<std::int64_t>();
    };
    if (object.contains("ip")) {
        const std::string* country = stringMember("country");
        const std::string* code = stringMember("code");
        if (!stringMember("ip") || !country || !code)
            throw Malformed("not a row (ip, port, country and code)");
        countRow(m_slots.byCode(*code, *country), *country, *code);
        return;
    }
    const auto seconds = object.find("elapsed_seconds");
    const auto total = object.find("total");
    const auto countries = object.find("countries");
    if (seconds == object.end() || total == object.end() || countries == object.end() ||
        !seconds->is_number() || !countries->is_array())
        throw Malformed(
            "neither a row (ip, port, country, code) nor statistics "
            "(elapsed_seconds, total, countries)");
    openBlock(seconds->get<double>(), number(*total));
    for (const Json& country : *countries) {
        const auto name = country.find("country");
        const auto code = country.find("code");
        const auto count = country.find("count");
        if (!country.is_object() || name == country.end() || code == country.end() ||
            count == country.end() || !name->is_string() || !code->is_string())
            throw Malformed("a country of the statistics needs country, code and count");
        blockCountry(m_slots.ofStatistics(name->get_ref<const std::string&>(),
                                          code->get_ref<const std::string&>()),
                     number(*count), name->get_ref<const std::string&>());
    }
    if (m_block.listed != m_block.total)
        throw Malformed("the statistics' counts do not add up to their total");
    closeBlock();
}

}  // namespace

int runStats(const Options& options, const std::vector<std::string>& paths) {
    const lookup::CountryTable table = lookup::loadCountryTable(options.dataDir);
    const auto started = std::chrono::steady_clock::now();
    Merger merger(table, options.dataDir.string(), options.inputFormat);
    bool whole = true;
    for (const std::string& path : paths.empty() ? std::vector<std::string>{"-"} : paths)
        whole = merger.read(path) && whole;
    // Statistics of part of the input would pass for those of all of it.
    if (!whole) return 1;

    const auto seconds = merger.blockSeconds();
    const auto elapsed = seconds ? std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::duration<double>(*seconds))
                                 : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now() - started);
    lookup::CountryTable counted = table;
    std::int64_t total = 0;
    for (int slot = 0; slot < lookup::kSlotCount; ++slot) {
        for (std::int64_t n = merger.counts()[slot]; n > 0; --n) counted.addHit(slot);
        total += merger.counts()[slot];
    }
    Output out;
    RowWriter writer(out, options.format);
    writer.statistics(analysis::buildStatistics(counted, total, elapsed), counted, elapsed);
    return 0;
}

}  // namespace ipcountry::batch
