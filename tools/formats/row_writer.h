#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/country_resolver.h"
#include "analysis/flag_code.h"
#include "formats/formats.h"

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

// Writes the rows of one command in one format. tsv is the program's original
// output: no header, `Unknown` for a country it cannot name. csv puts a header
// first and quotes fields that need it; json writes one object per line and
// null where tsv shows an empty code or `Unknown`. tsv shows a port as the
// grid does (":8080"); csv gives the text after the colon, json a number
// where that is 1 to 5 digits, the text otherwise and null for no port. Texts
// that come from files are Windows-1252 and printed as UTF-8.
class RowWriter {
public:
    // `reasons`: rows may have no country and a reason instead (--all),
    // which csv gives a column of its own.
    RowWriter(Output& out, Format format, bool reasons = false)
        : m_out(out), m_format(format), m_reasons(reasons) {}

    void analysisHeader();
    // A row with the country `country` of `table`, named as countryName()
    // names it, with the code of its slot.
    void analysisRow(std::string_view ip, std::string_view port, const lookup::CountryTable& table,
                     analysis::Resolution country);
    // A row without a country has an empty country and code, and its reason.
    void analysisRow(std::string_view ip, std::string_view port, std::string_view country,
                     std::string_view code, std::string_view reason = {});
    void statistics(const Summary& summary, const lookup::CountryTable& table,
                    const Listing& listing);

    void findHeader();
    // `address` as typed; the answer of analysis::AddressFinder::find.
    void findRow(std::string_view address, const analysis::Answer& answer);
    // A line of find - that is no address, in its place: the line as
    // written (Windows-1252) with an empty code and country, null in json.
    void findWrongRow(std::string_view line);

private:
    // Fields already UTF-8, separated and quoted as the format says, then the line end.
    void row(std::initializer_list<std::string_view> utf8Fields);
    // A Windows-1252 text from a file, as a csv field or a JSON string in UTF-8.
    void field1252(std::string& out, std::string_view bytes);
    // An analysis row up to its port; what follows it, with a country.
    void analysisLead(std::string& out, std::string_view ip, std::string_view port);
    void analysisTail(std::string& out, std::string_view country, std::string_view code);
    // A find row's address; what follows it (`country` null: none).
    void findLead(std::string& out, std::string_view address);
    void findTail(std::string& out, std::string_view code, const std::string_view* country,
                  std::string_view reason);

    // The end of a row with a country, made once per country a run meets:
    // converting and quoting a name per row cost as much as the rest of
    // the row. By slot, twice: once as itself, once shown as USA.
    struct Tail {
        std::string text;  // empty: to be made
        std::string code;  // what it was made from (Windows-1252)
        std::string name;
    };
    // The tail of `country` to fill or use; null for a slot out of range.
    static Tail* tailOf(std::vector<Tail>& tails, analysis::Resolution country,
                        std::string_view code, std::string_view name);

    Output& m_out;
    Format m_format;
    bool m_reasons;
    std::string m_scratch;
    std::vector<Tail> m_analysisTails;
    std::vector<Tail> m_findTails;
};

}  // namespace ipcountry::batch
