#include "formats/row_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"

namespace ipcountry::batch {

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

namespace {

// The end of the run of country and code columns that starts at `from`.
std::size_t countryColumnsEnd(const Layout& layout, std::size_t from) {
    std::size_t to = from;
    while (to < layout.size() &&
           (layout.columns[to] == Column::Country || layout.columns[to] == Column::Code))
        ++to;
    return to;
}

// The end of the run of columns from `from` on that a row with a country
// fills the same for every row of that country: the country, the code and
// the (empty) reason. Any other column (the network) is the row's own.
std::size_t sameForACountryEnd(const Layout& layout, std::size_t from) {
    std::size_t to = from;
    while (to < layout.size() &&
           (layout.columns[to] == Column::Country || layout.columns[to] == Column::Code ||
            layout.columns[to] == Column::Reason))
        ++to;
    return to;
}

}  // namespace

RowWriter::RowWriter(Output& out, Format format, bool reasons, const lookup::AsFile* networks,
                     bool networkColumns, RowPlaces places)
    : m_out(out),
      m_format(format),
      m_printer(makePrinter(format)),
      m_analysis(analysisLayout(format, reasons, networks != nullptr && networkColumns, places)),
      m_find(findLayout(format, networks != nullptr && networkColumns, places)),
      m_networks(networks),
      m_analysisTailFrom(m_analysis.indexOf(Column::Country).value_or(0)),
      m_analysisTailTo(countryColumnsEnd(m_analysis, m_analysisTailFrom)),
      m_analysisCachedTo(sameForACountryEnd(m_analysis, m_analysisTailFrom)),
      m_plainLead(m_analysis.size() >= 2 && m_analysis.columns[0] == Column::Ip &&
                  m_analysis.columns[1] == Column::Port && m_analysisTailFrom == 2),
      m_findTailFrom(m_find.indexOf(Column::Code).value_or(0)),
      m_findTailTo(countryColumnsEnd(m_find, m_findTailFrom)),
      m_placeColumns((places.file ? 1 : 0) + (places.line ? 1 : 0)) {}

template <class ValueOf>
void RowWriter::fields(std::string& out, const Layout& layout, std::size_t from, std::size_t to,
                       const ValueOf& valueOf) {
    for (std::size_t i = from; i < to; ++i) {
        const Column column = layout.columns[i];
        m_printer->field(out, i, column, valueOf(column));
    }
}

void RowWriter::places(std::string& out, const Layout& layout) {
    for (std::size_t i = 0; i < m_placeColumns; ++i) {
        const Column column = layout.columns[i];
        if (column == Column::File) {
            // The same for every row of a file: made once.
            if (!m_fileFieldMade) {
                m_fileField.clear();
                m_printer->field(m_fileField, i, column,
                                 m_file.empty() ? Value::none() : Value::utf8(m_file));
                m_fileFieldMade = true;
            }
            out += m_fileField;
        } else if (m_lineMarks != nullptr) {
            // Every format ends a number's field with its digits: the
            // field is written with one and the digit taken off again.
            m_printer->field(out, i, column, Value::whole(0));
            out.pop_back();
            m_lineMarks->push_back({out.size(), m_line});
        } else {
            m_printer->field(
                out, i, column,
                m_line > 0 ? Value::whole(static_cast<std::uint64_t>(m_line)) : Value::none());
        }
    }
}

std::optional<lookup::AsNetwork> RowWriter::networkOf(const lookup::TypedAddress* typed) const {
    if (m_networks == nullptr || typed == nullptr) return std::nullopt;
    switch (typed->kind) {
        case lookup::TypedAddress::Kind::Ipv4:
            return m_networks->find(typed->ipv4);
        case lookup::TypedAddress::Kind::Ipv6:
            return m_networks->find(typed->ipv6);
        case lookup::TypedAddress::Kind::LinkLocal:
            break;
    }
    return std::nullopt;
}

Value RowWriter::networkField(Column column,
                              const std::optional<lookup::AsNetwork>& network) const {
    if (!network) return Value::none();
    if (column == Column::Asn) return Value::asNumber(network->number);
    // An operator the file does not name: json's null rather than an empty name.
    return network->name.empty() ? Value::none() : Value::utf8(network->name);
}

void RowWriter::analysisHeader() { m_printer->header(m_out.buffer(), m_analysis); }

void RowWriter::analysisCountry(std::string& out, Value country, Value code) {
    fields(out, m_analysis, m_analysisTailFrom, m_analysisTailTo,
           [&](Column column) { return column == Column::Country ? country : code; });
}

void RowWriter::analysisEnd(std::string& out, std::size_t from, std::uint32_t network,
                            Value reason) {
    if (from < m_analysis.size()) {
        if (from == m_analysisCachedTo && reason.kind == Value::Kind::None &&
            m_networks != nullptr) {
            // A network's fields, made once per network a run meets: a log
            // names a few thousand networks in a million rows.
            if (m_networkTails.empty()) m_networkTails.resize(m_networks->places() + 1);
            if (network < m_networkTails.size()) {
                std::string& tail = m_networkTails[network];
                if (tail.empty()) {
                    const std::optional<lookup::AsNetwork> found = m_networks->network(network);
                    fields(tail, m_analysis, from, m_analysis.size(), [&](Column column) {
                        return column == Column::Reason ? reason : networkField(column, found);
                    });
                    m_printer->endRow(tail);
                }
                out += tail;
                return;
            }
        }
        const std::optional<lookup::AsNetwork> found =
            m_networks != nullptr ? m_networks->network(network) : std::nullopt;
        fields(out, m_analysis, from, m_analysis.size(), [&](Column column) {
            return column == Column::Reason ? reason : networkField(column, found);
        });
    }
    m_printer->endRow(out);
}

void RowWriter::analysisLead(std::string& out, std::string_view ip, std::string_view port) {
    if (m_plainLead && appendPlainLead(out, m_format, ip, port)) return;
    leadFields(out, m_analysis, m_analysisTailFrom, [ip, port](Column column) {
        return column == Column::Ip ? Value::text1252(ip) : Value::port(port);
    });
}

void RowWriter::analysisRow(std::string_view ip, std::string_view port,
                            const lookup::CountryTable& table, analysis::Resolution country,
                            std::uint32_t network) {
    std::string& out = m_out.buffer();
    analysisLead(out, ip, port);
    const std::string_view name = analysis::countryName(table, country);
    const std::string_view code = analysis::flagCodeOfSlot(table, country.slot);
    const auto tailValue = [&](Column column) {
        switch (column) {
            case Column::Country:
                return Value::text1252(name);
            case Column::Code:
                return Value::text1252(code);
            default:
                return Value::none();  // Reason: a row with a country has none
        }
    };
    // Where nothing follows the cached fields, the row's end is part of its tail.
    const bool whole = m_analysisCachedTo == m_analysis.size();
    if (const Tail* made = madeTail(m_analysisTails, country, code, name)) {
        out += made->text;
    } else if (Tail* cached = tailOf(m_analysisTails, country, code, name)) {
        if (cached->text.empty()) {
            fields(cached->text, m_analysis, m_analysisTailFrom, m_analysisCachedTo, tailValue);
            if (whole) m_printer->endRow(cached->text);
        }
        out += cached->text;
    } else {
        fields(out, m_analysis, m_analysisTailFrom, m_analysisCachedTo, tailValue);
        if (whole) m_printer->endRow(out);
    }
    if (!whole) analysisEnd(out, m_analysisCachedTo, network, Value::none());
    m_out.rowDone();
}

void RowWriter::analysisRow(std::string_view ip, std::string_view port, std::string_view country,
                            std::string_view code, std::string_view reason, std::uint32_t network) {
    std::string& out = m_out.buffer();
    analysisLead(out, ip, port);
    if (reason.empty()) {
        analysisCountry(out, Value::text1252(country), Value::text1252(code));
        analysisEnd(out, m_analysisTailTo, network, Value::none());
    } else if (m_analysis.reasonInCountry) {
        analysisCountry(out, Value::text1252(reason), Value::none());
        analysisEnd(out, m_analysisTailTo, network, Value::none());
    } else {
        analysisCountry(out, Value::none(), Value::none());
        analysisEnd(out, m_analysisTailTo, network, Value::text1252(reason));
    }
    m_out.rowDone();
}

void RowWriter::statistics(const Summary& summary, const lookup::CountryTable& table,
                           const Listing& listing) {
    const analysis::Statistics& stats = summary.countries;
    StatisticsTables tables;
    tables.elapsedText = analysis::durationText(stats.elapsed);
    tables.seconds = std::chrono::duration<double>(summary.elapsed).count();
    tables.total = stats.total;
    tables.distinct = summary.distinct;
    std::int64_t leftOut = 0;
    const std::vector<analysis::StatsRow> countries =
        listCountries(stats.rows, listing, leftOut, summary.clients);
    // Each country's distinct addresses, where known; those --top leaves out
    // together (no address has two countries, so they add up).
    tables.withClients = !summary.clients.empty();
    const auto clientsOf = [&summary](int slot) {
        const auto at = static_cast<std::size_t>(slot);
        return at < summary.clients.size() ? summary.clients[at] : std::int64_t{0};
    };
    std::int64_t leftOutClients = 0;
    for (const auto& row : stats.rows) leftOutClients += clientsOf(row.slot);
    for (const analysis::StatsRow& row : countries) {
        leftOutClients -= clientsOf(row.slot);
        tables.countries.push_back(
            {row.name, lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(table, row.slot)),
             row.hits, clientsOf(row.slot)});
    }
    if (leftOut > 0) {
        tables.leftOut = leftOut;
        tables.leftOutClients = leftOutClients;
    }
    // The reasons that have rows, in their fixed order.
    for (std::size_t i = 0; i < summary.reasons.size(); ++i)
        if (summary.reasons[i] > 0)
            tables.reasons.emplace_back(analysis::kNoCountryReasons[i], summary.reasons[i]);
    if (summary.networks) {
        tables.byNetwork = true;
        tables.countries.clear();
        tables.leftOut.reset();
        tables.noNetwork = summary.noNetwork;
        std::int64_t otherNetworks = 0;
        tables.networks = listNetworks(*summary.networks, listing, otherNetworks);
        if (otherNetworks > 0) tables.otherNetworks = otherNetworks;
    }
    m_printer->statistics(m_out.buffer(), tables);
    m_out.rowDone();
}

void RowWriter::findHeader() { m_printer->header(m_out.buffer(), m_find); }

void RowWriter::findCountry(std::string& out, Value code, Value country) {
    fields(out, m_find, m_findTailFrom, m_findTailTo,
           [&](Column column) { return column == Column::Code ? code : country; });
}

void RowWriter::findEnd(std::string& out, const lookup::TypedAddress* typed, Value reason) {
    if (m_findTailTo < m_find.size()) {
        const std::optional<lookup::AsNetwork> network = networkOf(typed);
        fields(out, m_find, m_findTailTo, m_find.size(), [&](Column column) {
            return column == Column::Reason ? reason : networkField(column, network);
        });
    }
    m_printer->endRow(out);
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
    tail.codeAt = code.data();
    tail.nameAt = name.data();
    return &tail;
}

void RowWriter::findRow(std::string_view address, const analysis::Answer& answer,
                        const lookup::TypedAddress* typed) {
    std::string& out = m_out.buffer();
    // The address exactly as typed, as the program always printed it.
    leadFields(out, m_find, m_findTailFrom, [address](Column) { return Value::typed(address); });
    const std::string_view name = answer.countryName;
    const std::string_view code = answer.code;
    if (!answer.country) {
        // One form for "no country" in every format: no code, and the reason
        // where the country would stand (csv and json: in the Reason column).
        const Value reason = Value::text1252(answer.reason);
        if (m_find.reasonInCountry) {
            findCountry(out, Value::none(), reason);
            findEnd(out, typed, Value::none());
        } else {
            findCountry(out, Value::none(), Value::none());
            findEnd(out, typed, reason);
        }
        m_out.rowDone();
        return;
    }
    // A code no country of the list holds names none.
    const Value codeValue = code.empty() ? Value::none() : Value::text1252(code);
    if (Tail* cached = tailOf(m_findTails, *answer.country, code, name)) {
        if (cached->text.empty()) findCountry(cached->text, codeValue, Value::text1252(name));
        out += cached->text;
    } else {
        findCountry(out, codeValue, Value::text1252(name));
    }
    findEnd(out, typed, Value::none());
    m_out.rowDone();
}

void RowWriter::findWrongRow(std::string_view line) {
    std::string& out = m_out.buffer();
    leadFields(out, m_find, m_findTailFrom, [line](Column) { return Value::line(line); });
    findCountry(out, Value::none(), Value::none());
    findEnd(out, nullptr, Value::none());
    m_out.rowDone();
}

}  // namespace ipcountry::batch
