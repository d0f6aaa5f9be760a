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
    RowWriter(Output& out, Format format, bool reasons = false,
              const lookup::AsFile* networks = nullptr, bool networkColumns = true);

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
    // An analysis row's country and code.
    void analysisCountry(std::string& out, Value country, Value code);
    // The fields after them, with the row's network.
    void analysisEnd(std::string& out, std::uint32_t network, Value reason);
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
    };
    // The tail of `country` to fill or use; null for a slot out of range.
    static Tail* tailOf(std::vector<Tail>& tails, analysis::Resolution country,
                        std::string_view code, std::string_view name);

    Output& m_out;
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
    std::size_t m_findTailFrom;
    std::size_t m_findTailTo;
    std::vector<Tail> m_analysisTails;
    std::vector<Tail> m_findTails;
};

}  // namespace ipcountry::batch
