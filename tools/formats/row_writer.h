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

// Standard output in large pieces: a log of millions of addresses prints
// millions of rows.
//
// A write that fails (a full disk, a closed standard output) is remembered
// for the whole process, and nothing more is written: the driver ends with
// "write error" and exit status 1, as cat does, instead of telling a script
// that all went well. A reader that left early (EPIPE, where SIGPIPE is
// ignored) is remembered apart: that run ends quietly.
class Output {
public:
    Output() = default;
    // Rows kept for the caller to take from buffer() (a block of rows made on
    // another thread), never written.
    struct Kept {};
    explicit Output(Kept) : m_kept(true) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (!m_kept) flush();
    }
    std::string& buffer() { return m_buffer; }
    // Called after each row, so that memory stays bounded.
    void rowDone() {
        if (!m_kept && m_buffer.size() >= (1u << 16)) flush();
    }
    void flush();

    // The errno of the first write that failed, 0 while all went out.
    static int writeError() noexcept;

private:
    std::string m_buffer;
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
    void field1252(std::string_view bytes);

    Output& m_out;
    Format m_format;
    bool m_reasons;
    std::string m_scratch;
};

}  // namespace ipcountry::batch
