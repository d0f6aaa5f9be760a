#include "formats/row_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"

namespace ipcountry::batch {

namespace {

using Json = nlohmann::ordered_json;

// Printable ASCII without the two characters JSON escapes goes out as it
// stands; that is nearly every address, port and country name, and skipping
// the library for them keeps JSON output as fast as tsv.
bool plainJsonText(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E || c == '"' || c == '\\') return false;
    }
    return true;
}

void appendJsonString(std::string& out, std::string_view utf8) {
    if (plainJsonText(utf8)) {
        out += '"';
        out += utf8;
        out += '"';
        return;
    }
    // A typed address may be any bytes: what is not UTF-8 becomes U+FFFD.
    out += Json(utf8).dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool plainCsvText(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x7E || c == ',' || c == '"' || c == '\r' || c == '\n') return false;
    }
    return true;
}

// Quoted when it holds a separator, a quote or a line break; quotes inside
// are doubled.
void appendCsvField(std::string& out, std::string_view utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += utf8;
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// One to five digits: every port there is, and never more than a JSON
// reader takes as an exact number.
bool isPortNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// As a JSON number, which has no leading zeros: "0080" is 80.
void appendPortNumber(std::string& out, std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    out += first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
}

}  // namespace

namespace {

// Writes all of `text`; the errno of a write that failed, 0 when all went out.
int writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno != 0 ? errno : EIO;
        }
        if (written == 0) return EIO;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// One standard output per process, so one memory of its failure.
std::atomic<int> g_writeError{0};

// The two streams of the process and what waits to go to each. Only the
// thread that writes rows (the calling thread of a run) touches it.
class StandardStreams {
public:
    StandardStreams() {
        struct stat out {};
        struct stat err {};
        // Same device and inode: one file (2>&1, or the same file named
        // twice), one pipe or one terminal; or one terminal reached through
        // two device files. Written through standard output alone, the text
        // keeps its order however the two were opened.
        m_shared = ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
                   ((out.st_dev == err.st_dev && out.st_ino == err.st_ino) ||
                    (S_ISCHR(out.st_mode) && S_ISCHR(err.st_mode) && out.st_rdev == err.st_rdev));
    }
    StandardStreams(const StandardStreams&) = delete;
    StandardStreams& operator=(const StandardStreams&) = delete;
    // Whatever a path out of main() left behind still goes out.
    ~StandardStreams() { flush(); }

    std::string& rows() { return m_rows; }
    std::string& messages() { return m_shared ? m_rows : m_messages; }

    void flush() {
        flushRows();
        flushMessages();
    }
    void flushRows() {
        if (!m_rows.empty()) {
            if (g_writeError.load(std::memory_order_relaxed) == 0) {
                if (const int error = writeAll(STDOUT_FILENO, m_rows)) {
                    int expected = 0;
                    g_writeError.compare_exchange_strong(expected, error);
                }
            }
            m_rows.clear();  // nobody takes it any more after a failure
        }
    }
    void flushMessages() {
        if (m_shared) {
            flushRows();
        } else if (!m_messages.empty()) {
            // Nothing can be told of a standard error that fails.
            (void)writeAll(STDERR_FILENO, m_messages);
            m_messages.clear();
        }
    }

private:
    bool m_shared = false;
    std::string m_rows;
    std::string m_messages;
};

StandardStreams& standardStreams() {
    static StandardStreams streams;
    return streams;
}

}  // namespace

Output::Output() : m_rows(&standardStreams().rows()), m_messages(&standardStreams().messages()) {}

void Output::flushAll() { standardStreams().flush(); }
void Output::flushRows() { standardStreams().flushRows(); }
void Output::flushMessages() { standardStreams().flushMessages(); }

void Output::sayNow(std::string_view lines) {
    StandardStreams& streams = standardStreams();
    if (writeError() != 0) {
        // Standard output takes nothing more; standard error may still take
        // why (a full disk, a closed output).
        streams.flush();
        (void)writeAll(STDERR_FILENO, lines);
        return;
    }
    streams.messages() += lines;
    streams.flush();
}

int Output::writeError() noexcept { return g_writeError.load(std::memory_order_relaxed); }

void RowWriter::row(std::initializer_list<std::string_view> utf8Fields) {
    std::string& out = m_out.buffer();
    const char separator = m_format == Format::Csv ? ',' : '\t';
    bool first = true;
    for (const std::string_view field : utf8Fields) {
        if (!std::exchange(first, false)) out += separator;
        if (m_format == Format::Csv)
            appendCsvField(out, field);
        else
            out += field;
    }
    out += m_format == Format::Csv ? "\r\n" : "\n";
    m_out.rowDone();
}

void RowWriter::analysisHeader() {
    if (m_format != Format::Csv) return;
    const auto& h = words::kRowHeader;
    if (m_reasons)
        row({h[0], h[1], h[2], h[3], words::kReasonColumn});
    else
        row({h[0], h[1], h[2], h[3]});
}

void RowWriter::field1252(std::string& out, std::string_view bytes) {
    // Plain ASCII is the same in Windows-1252 and UTF-8 and needs no quoting.
    if (m_format == Format::Json ? plainJsonText(bytes) : plainCsvText(bytes)) {
        if (m_format == Format::Json) out += '"';
        out += bytes;
        if (m_format == Format::Json) out += '"';
        return;
    }
    m_scratch.clear();
    lookup::appendWindows1252AsUtf8(m_scratch, bytes);
    if (m_format == Format::Json)
        appendJsonString(out, m_scratch);
    else
        appendCsvField(out, m_scratch);
}

void RowWriter::analysisLead(std::string& out, std::string_view ip, std::string_view port) {
    if (m_format == Format::Tsv) {
        lookup::appendWindows1252AsUtf8(out, ip);
        out += '\t';
        lookup::appendWindows1252AsUtf8(out, port);
        return;
    }
    if (m_format == Format::Json) out += words::kJsonIp;
    field1252(out, ip);
    out += m_format == Format::Csv ? std::string_view(",") : words::kJsonPort;
    // Programs want the port, not the grid's way of showing it: the text
    // after the colon, and in JSON a number where it is one.
    const std::string_view portText = port.starts_with(':') ? port.substr(1) : port;
    if (m_format == Format::Json && port.empty())
        out += "null";
    else if (m_format == Format::Json && isPortNumber(portText))
        appendPortNumber(out, portText);
    else
        field1252(out, portText);
}

void RowWriter::analysisTail(std::string& out, std::string_view country, std::string_view code) {
    switch (m_format) {
        case Format::Tsv:
            out += '\t';
            lookup::appendWindows1252AsUtf8(out, country);
            out += '\n';
            return;
        case Format::Csv:
            out += ',';
            field1252(out, country);
            out += ',';
            field1252(out, code);
            // A row with a country has no reason: its column stays empty.
            out += m_reasons ? ",\r\n" : "\r\n";
            return;
        case Format::Json:
            out += words::kJsonCountry;
            field1252(out, country);
            out += words::kJsonCode;
            field1252(out, code);
            out += "}\n";
            return;
    }
}

void RowWriter::analysisRow(std::string_view ip, std::string_view port,
                            const lookup::CountryTable& table, analysis::Resolution country) {
    std::string& out = m_out.buffer();
    analysisLead(out, ip, port);
    const std::string_view name = analysis::countryName(table, country);
    const std::string_view code = analysis::flagCodeOfSlot(table, country.slot);
    if (Tail* tail = tailOf(m_analysisTails, country, code, name)) {
        if (tail->text.empty()) analysisTail(tail->text, name, code);
        out += tail->text;
    } else {
        analysisTail(out, name, code);
    }
    m_out.rowDone();
}

void RowWriter::analysisRow(std::string_view ip, std::string_view port, std::string_view country,
                            std::string_view code, std::string_view reason) {
    std::string& out = m_out.buffer();
    analysisLead(out, ip, port);
    if (reason.empty()) {
        analysisTail(out, country, code);
    } else if (m_format == Format::Tsv) {
        // The reason stands where the country would: it is what a person reads there.
        out += '\t';
        out += reason;
        out += '\n';
    } else if (m_format == Format::Csv) {
        // Empty country and code; the reason is one of a few plain words, never quoted.
        out += ",,";
        if (m_reasons) {
            out += ',';
            out += reason;
        }
        out += "\r\n";
    } else {
        // No country: null, as find writes it; the reason says why.
        out += words::kJsonCountry;
        out += "null";
        out += words::kJsonCode;
        out += "null";
        out += words::kJsonReason;
        out += '"';
        out += reason;
        out += "\"}\n";
    }
    m_out.rowDone();
}

void RowWriter::statistics(const Summary& summary, const lookup::CountryTable& table,
                           const Listing& listing) {
    std::string& out = m_out.buffer();
    const analysis::Statistics& stats = summary.countries;
    const std::int64_t total = stats.total;
    const double seconds = std::chrono::duration<double>(summary.elapsed).count();
    std::int64_t leftOut = 0;
    const std::vector<analysis::StatsRow> countries =
        listCountries(stats.rows, listing, leftOut, summary.clients);
    const auto codeOf = [&table](int slot) {
        return lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(table, slot));
    };
    // Each country's distinct addresses, where known; those --top leaves out
    // together (no address has two countries, so they add up).
    const bool withClients = !summary.clients.empty();
    const auto clientsOf = [&summary](int slot) {
        const auto at = static_cast<std::size_t>(slot);
        return at < summary.clients.size() ? summary.clients[at] : std::int64_t{0};
    };
    std::int64_t leftOutClients = 0;
    for (const auto& row : stats.rows) leftOutClients += clientsOf(row.slot);
    for (const auto& row : countries) leftOutClients -= clientsOf(row.slot);
    // The reasons that have rows, in their fixed order.
    std::vector<std::pair<std::string_view, std::int64_t>> reasons;
    for (std::size_t i = 0; i < summary.reasons.size(); ++i)
        if (summary.reasons[i] > 0)
            reasons.emplace_back(analysis::kNoCountryReasons[i], summary.reasons[i]);
    switch (m_format) {
        case Format::Tsv: {
            out += "\n";
            out += analysis::kElapsedSentence;
            out += analysis::durationText(stats.elapsed) + "\n";
            out += analysis::kTotalSentence;
            out += std::to_string(total);
            if (summary.distinct) {
                out += words::kDistinctBefore;
                out += std::to_string(*summary.distinct);
                out += words::kDistinctAfter;
            }
            out += "\n";
            const auto line = [&out, total](std::string_view name, std::string_view code,
                                            std::int64_t count,
                                            std::optional<std::int64_t> clients) {
                out += name;
                out += '\t';
                out += code;
                out +=
                    '\t' + std::to_string(count) + '\t' + analysis::formatShare(count, total, ".");
                if (clients) out += '\t' + std::to_string(*clients);
                out += '\n';
            };
            const auto known = [withClients](std::int64_t n) {
                return withClients ? std::optional(n) : std::nullopt;
            };
            for (const auto& row : countries)
                line(row.name, codeOf(row.slot), row.hits, known(clientsOf(row.slot)));
            if (leftOut > 0) line(words::kOtherCountriesName, {}, leftOut, known(leftOutClients));
            for (const auto& [reason, count] : reasons) line(reason, {}, count, std::nullopt);
            break;
        }
        case Format::Csv: {
            // More tables after a blank line each: the run, the countries, the reasons.
            const auto& run = words::kRunHeader;
            const auto& head = words::kCountryHeader;
            out += "\r\n";
            row({run[0], run[1], run[2]});
            row({Json(seconds).dump(), std::to_string(total),
                 summary.distinct ? std::to_string(*summary.distinct) : std::string()});
            out += "\r\n";
            if (withClients) {
                row({head[0], head[1], head[2], head[3], words::kDistinctColumn});
                for (const auto& country : countries)
                    row({country.name, codeOf(country.slot), country.count,
                         shareNumber(country.hits, total),
                         std::to_string(clientsOf(country.slot))});
                if (leftOut > 0)
                    row({words::kOtherCountriesName, "", std::to_string(leftOut),
                         shareNumber(leftOut, total), std::to_string(leftOutClients)});
            } else {
                row({head[0], head[1], head[2], head[3]});
                for (const auto& country : countries)
                    row({country.name, codeOf(country.slot), country.count,
                         shareNumber(country.hits, total)});
                if (leftOut > 0)
                    row({words::kOtherCountriesName, "", std::to_string(leftOut),
                         shareNumber(leftOut, total)});
            }
            if (!reasons.empty()) {
                const auto& reasonHead = words::kReasonHeader;
                out += "\r\n";
                row({reasonHead[0], reasonHead[1], reasonHead[2]});
                for (const auto& [reason, count] : reasons)
                    row({reason, std::to_string(count), shareNumber(count, total)});
            }
            break;
        }
        case Format::Json: {
            using namespace words;
            const auto share = [total](std::int64_t count) {
                return total > 0 ? static_cast<double>(analysis::shareTenths(count, total)) / 10.0
                                 : 0.0;
            };
            Json countryList = Json::array();
            const auto distinctOf = [&](std::int64_t n) {
                return withClients ? Json(n) : Json(nullptr);
            };
            for (const auto& row : countries)
                countryList.push_back(Json{{kCountry, row.name},
                                           {kCode, codeOf(row.slot)},
                                           {kCount, row.hits},
                                           {kShare, share(row.hits)},
                                           {kDistinct, distinctOf(clientsOf(row.slot))}});
            Json object{{kElapsedSeconds, seconds}, {kTotal, total}};
            if (summary.distinct)
                object[std::string(kDistinct)] = *summary.distinct;
            else
                object[std::string(kDistinct)] = nullptr;
            object[std::string(kCountries)] = std::move(countryList);
            if (leftOut > 0)
                object[std::string(kOtherCountries)] =
                    Json{{kCount, leftOut},
                         {kShare, share(leftOut)},
                         {kDistinct, distinctOf(leftOutClients)}};
            if (!reasons.empty()) {
                Json reasonList = Json::array();
                for (const auto& [reason, count] : reasons)
                    reasonList.push_back(
                        Json{{kReason, reason}, {kCount, count}, {kShare, share(count)}});
                object[std::string(kReasons)] = std::move(reasonList);
            }
            out += object.dump();
            out += '\n';
            break;
        }
    }
    m_out.rowDone();
}

void RowWriter::findHeader() {
    const auto& h = words::kFindHeader;
    if (m_format == Format::Csv) row({h[0], h[1], h[2], words::kReasonColumn});
}

void RowWriter::findLead(std::string& out, std::string_view address) {
    // The address exactly as typed, as the program always printed it.
    switch (m_format) {
        case Format::Tsv:
            out += address;
            return;
        case Format::Csv:
            appendCsvField(out, address);
            return;
        case Format::Json:
            out += words::kJsonIp;
            appendJsonString(out, address);
            return;
    }
}

void RowWriter::findTail(std::string& out, std::string_view code, const std::string_view* country,
                         std::string_view reason) {
    // One form for "no country" in every format: no code, and the reason
    // where the country would stand (csv: in the Reason column).
    m_scratch.clear();
    if (country) lookup::appendWindows1252AsUtf8(m_scratch, code);
    const std::string codeText = m_scratch;
    m_scratch.clear();
    if (country) lookup::appendWindows1252AsUtf8(m_scratch, *country);
    const std::string& countryText = m_scratch;
    switch (m_format) {
        case Format::Tsv:
            out += '\t';
            out += codeText;
            out += '\t';
            out += country ? std::string_view(countryText) : reason;
            out += '\n';
            return;
        case Format::Csv:
            out += ',';
            appendCsvField(out, codeText);
            out += ',';
            appendCsvField(out, countryText);
            out += ',';
            if (!country) out += reason;  // one of a few plain words, never quoted
            out += "\r\n";
            return;
        case Format::Json:
            out += words::kJsonCode;
            if (country)
                appendJsonString(out, codeText);
            else
                out += "null";
            out += words::kJsonCountry;
            if (country) {
                appendJsonString(out, countryText);
            } else {
                out += "null";
                out += words::kJsonReason;
                out += '"';
                out += reason;
                out += '"';
            }
            out += "}\n";
            return;
    }
}

RowWriter::Tail* RowWriter::tailOf(std::vector<Tail>& tails, analysis::Resolution country,
                                   std::string_view code, std::string_view name) {
    if (country.slot < 0 || country.slot >= lookup::kMostSlots) return nullptr;
    if (tails.empty()) tails.resize(std::size_t{2} * lookup::kMostSlots);
    Tail& tail = tails[static_cast<std::size_t>(country.slot) * 2 + (country.usa ? 1 : 0)];
    // A tail serves the name and code it was made from: a writer handed
    // another table (never within one run) makes it again.
    if (tail.code != code || tail.name != name) {
        tail.text.clear();
        tail.code = code;
        tail.name = name;
    }
    return &tail;
}

void RowWriter::findRow(std::string_view address, const analysis::Answer& answer) {
    std::string& out = m_out.buffer();
    findLead(out, address);
    const std::string_view name = answer.countryName;
    Tail* tail = answer.country ? tailOf(m_findTails, *answer.country, answer.code, name) : nullptr;
    if (tail == nullptr) {
        findTail(out, answer.code, answer.country ? &name : nullptr, answer.reason);
    } else {
        if (tail->text.empty()) findTail(tail->text, answer.code, &name, {});
        out += tail->text;
    }
    m_out.rowDone();
}

void RowWriter::findWrongRow(std::string_view line) {
    std::string& out = m_out.buffer();
    if (m_format == Format::Tsv) {
        // A TAB in the line would make a column of its own.
        const std::size_t start = out.size();
        lookup::appendWindows1252AsUtf8(out, line);
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\t', ' ');
        out += "\t\t\n";
    } else if (m_format == Format::Csv) {
        field1252(out, line);
        out += ",,,\r\n";
    } else {
        out += words::kJsonIp;
        field1252(out, line);
        out += words::kJsonCode;
        out += "null";
        out += words::kJsonCountry;
        out += "null}\n";
    }
    m_out.rowDone();
}

}  // namespace ipcountry::batch
