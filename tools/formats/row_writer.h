#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/country_resolver.h"
#include "analysis/flag_code.h"
#include "formats/columns.h"
#include "formats/formats.h"
#include "formats/printers.h"
#include "lookup/address_text.h"
#include "lookup/as_file.h"

namespace ipcountry::batch {

// Standard output and standard error in large pieces, each written with
// write(2): a log of millions of addresses prints millions of rows, and a
// list with many wrong lines as many messages.
//
// Whether both streams go to one place (one file, pipe or terminal: the same
// device and inode) is decided once per process. Then rows and messages share
// one buffer and go out together, in the order they were made, as they would
// one by one; otherwise each stream has a buffer of its own. Every Output of
// the process but a Kept one shares those buffers; flush() writes both, as
// does the end of the process.
//
// A write that fails (a full disk, a closed standard output) is remembered
// for the whole process, and nothing more is written: the driver ends with
// "write error" and exit status 1, as cat does, instead of telling a script
// that all went well. A reader that left early (EPIPE, where SIGPIPE is
// ignored) is remembered apart: that run ends quietly. Standard error is
// written as it can be, as before.
class Output {
public:
    Output();
    // Rows kept for the caller to take from buffer() (a block of rows made on
    // another thread), never written.
    struct Kept {};
    explicit Output(Kept) : m_rows(&m_own), m_messages(&m_own), m_kept(true) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (!m_kept) flush();
    }
    std::string& buffer() { return *m_rows; }
    // Called after each row, so that memory stays bounded.
    void rowDone() {
        if (!m_kept && m_rows->size() >= kBlock) flushRows();
    }
    // Where a message (whole lines) is put: after the rows before it when
    // both streams go to one place. messageDone() after each.
    std::string& messages() { return *m_messages; }
    void messageDone() {
        if (!m_kept && m_messages->size() >= kBlock) flushMessages();
    }
    // Everything of both streams so far written out.
    void flush() {
        if (!m_kept) flushAll();
    }
    static void flushAll();

    // A message of the process's own (a warning, why it ends): written at
    // once, after everything before it.
    static void sayNow(std::string_view lines);

    // The errno of the first write to standard output that failed, 0 while
    // all went out.
    static int writeError() noexcept;

private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    // One stream's buffer written, the other's left to fill (the same
    // buffer when the streams are shared).
    static void flushRows();
    static void flushMessages();
    std::string m_own;
    std::string* m_rows;
    std::string* m_messages = nullptr;
    bool m_kept = false;
};

// Writes the rows of one command in one format: a value per column of the
// row's Layout, printed by the format's Printer. tsv is the program's original
// output: no header, `Unknown` for a country it cannot name. csv puts a header
// first and quotes fields that need it; json writes one object per line and
// null where tsv shows an empty code or `Unknown`. tsv shows a port as the
// grid does (":8080"); csv gives the text after the colon, json a number
// where that is 1 to 5 digits, the text otherwise and null for no port. Texts
// that come from files are Windows-1252 and printed as UTF-8.
class RowWriter {
public:
    // `reasons`: rows may have no country and a reason instead (--all),
    // which csv and json give a column of their own. `networks` (--asn):
    // the rows show networks; a find row's is looked up in that file, an
    // analysis row's is the one it is given. `networkColumns` false: the
    // rows do not show them.
    // `places` (-H, -n): each row first names its input and line, as set
    // by setFile and setLine.
    RowWriter(Output& out, Format format, bool reasons = false,
              const lookup::AsFile* networks = nullptr, bool networkColumns = true,
              RowPlaces places = {});

    // The input the next rows come from, as the user named it; empty: none
    // (an address typed on the command line), null in json.
    void setFile(std::string_view name) {
        m_file = name;
        m_fileFieldMade = false;
    }
    // The line the next row stands on, from 1; 0: none.
    void setLine(std::int64_t line) noexcept { m_line = line; }
    // A row's line number left out for whoever writes the rows out, who
    // knows the lines before them: it goes at `at` of the rows' text.
    struct LineMark {
        std::size_t at;
        std::int64_t line;  // as set by setLine
    };
    // Rows made on another thread know only their block's line numbers:
    // with `marks`, each row's Line field is left empty and marked there.
    void markLines(std::vector<LineMark>* marks) noexcept { m_lineMarks = marks; }

    void analysisHeader();
    // A row with the country `country` of `table`, named as countryName()
    // names it, with the code of its slot; `network` is the network its
    // address lies in (its place in the networks file, 0 for none), shown
    // where the rows show networks.
    void analysisRow(std::string_view ip, std::string_view port, const lookup::CountryTable& table,
                     analysis::Resolution country, std::uint32_t network = 0);
    // A row without a country has an empty country and code, and its reason.
    void analysisRow(std::string_view ip, std::string_view port, std::string_view country,
                     std::string_view code, std::string_view reason = {},
                     std::uint32_t network = 0);
    void statistics(const Summary& summary, const lookup::CountryTable& table,
                    const Listing& listing);

    void findHeader();
    // `address` as typed; the answer of analysis::AddressFinder::find.
    // `typed`: the address read, for its network.
    void findRow(std::string_view address, const analysis::Answer& answer,
                 const lookup::TypedAddress* typed = nullptr);
    // A line of find - that is no address, in its place: the line as
    // written (Windows-1252) with an empty code and country, null in json.
    void findWrongRow(std::string_view line);

private:
    // The fields `from` up to `to` of a row of `layout`, `valueOf` giving each.
    template <class ValueOf>
    void fields(std::string& out, const Layout& layout, std::size_t from, std::size_t to,
                const ValueOf& valueOf);
    // The fields of a row up to `to`: its file and line, where shown, then
    // those `valueOf` gives.
    template <class ValueOf>
    void leadFields(std::string& out, const Layout& layout, std::size_t to,
                    const ValueOf& valueOf) {
        if (m_placeColumns > 0) places(out, layout);
        fields(out, layout, m_placeColumns, to, valueOf);
    }
    void places(std::string& out, const Layout& layout);
    // An analysis row's country and code.
    void analysisCountry(std::string& out, Value country, Value code);
    // The fields from `from` on (those after the country and code, or after
    // a cached tail), with the row's network.
    void analysisEnd(std::string& out, std::size_t from, std::uint32_t network, Value reason);
    // The address and port that begin an analysis row.
    void analysisLead(std::string& out, std::string_view ip, std::string_view port);
    // A find row's code and country.
    void findCountry(std::string& out, Value code, Value country);
    // The fields after them: the reason of a row without a country, and the
    // network of `typed`.
    void findEnd(std::string& out, const lookup::TypedAddress* typed, Value reason);
    std::optional<lookup::AsNetwork> networkOf(const lookup::TypedAddress* typed) const;
    Value networkField(Column column, const std::optional<lookup::AsNetwork>& network) const;

    // The country and code of a row, made once per country a run meets: converting and quoting a
    // name per row cost as much as the rest of the row. By slot, twice: once as itself, once shown
    // as USA.
    struct Tail {
        std::string text;  // empty: to be made
        std::string code;  // what it was made from (Windows-1252)
        std::string name;
        // Where that code and name were read (madeTail).
        const char* codeAt = nullptr;
        const char* nameAt = nullptr;
    };
    // The tail of `country` made from these very texts, which stay in place
    // for the run where they are the table's own (an analysis row's, not a
    // find answer's own code): every row's but the first of its country.
    // Null otherwise (tailOf then).
    static const Tail* madeTail(const std::vector<Tail>& tails, analysis::Resolution country,
                                std::string_view code, std::string_view name) {
        if (country.slot < 0) return nullptr;
        const std::size_t at = static_cast<std::size_t>(country.slot) * 2 + (country.usa ? 1 : 0);
        if (at >= tails.size()) return nullptr;
        const Tail& tail = tails[at];
        const bool same = tail.codeAt == code.data() && tail.nameAt == name.data() &&
                          tail.code.size() == code.size() && tail.name.size() == name.size();
        return same && !tail.text.empty() ? &tail : nullptr;
    }
    // The tail of `country` to fill or use; null for a slot out of range.
    static Tail* tailOf(std::vector<Tail>& tails, analysis::Resolution country,
                        std::string_view code, std::string_view name);

    Output& m_out;
    Format m_format;
    std::unique_ptr<Printer> m_printer;
    Layout m_analysis;
    Layout m_find;
    const lookup::AsFile* m_networks;
    // The fields after the country of a row without a reason, by network
    // place, made when first needed (empty: not yet).
    std::vector<std::string> m_networkTails;
    // Where the cached tails start (the analysis row's country, the find
    // row's code) and end.
    std::size_t m_analysisTailFrom;
    std::size_t m_analysisTailTo;
    // A row with a country caches the fields up to here: its country and
    // code, and the empty reason; what follows (the network, any column of
    // the row's own) is written per row.
    std::size_t m_analysisCachedTo;
    // The analysis rows begin with the address and port: where their text
    // needs no conversion, appendPlainLead writes them. Other leading
    // columns take the printer's way.
    bool m_plainLead;
    std::size_t m_findTailFrom;
    std::size_t m_findTailTo;
    std::vector<Tail> m_analysisTails;
    std::vector<Tail> m_findTails;
    // The file and line columns that lead every row, and what they show.
    std::size_t m_placeColumns = 0;
    std::string m_file;
    std::string m_fileField;  // m_file as its field is written
    bool m_fileFieldMade = false;
    std::int64_t m_line = 0;
    std::vector<LineMark>* m_lineMarks = nullptr;
};

}  // namespace ipcountry::batch
