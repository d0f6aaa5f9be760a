#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/columns.h"
#include "formats/formats.h"

// One printer per format behind one interface: RowWriter decides what a row
// holds (a value per column of its Layout), the printer how the format shows
// each value, separates the fields and ends the row.
namespace ipcountry::batch {

// What a field holds. Texts that come from files are Windows-1252 and
// printed as UTF-8; what was typed is printed as it was typed.
struct Value {
    enum class Kind {
        None,        // nothing: empty in tsv and csv, null in json
        Unknown,     // no country: "Unknown" in tsv, empty in csv, null in json
        Text,        // Windows-1252 text
        Line,        // Windows-1252 text of a whole input line, which may hold TABs
        Typed,       // bytes as typed (find's address)
        Port,        // the grid's port text, ":8080"
        TextOrNull,  // Windows-1252 text in tsv and csv, null in json
        Utf8,        // UTF-8 text (an operator's name)
        AsNumber,    // "AS13335" in tsv and csv, 13335 in json
        Number,      // a whole number, its digits last in the field (a line number)
    };
    Kind kind = Kind::None;
    std::string_view text;
    std::uint64_t number = 0;

    static Value none() { return {}; }
    static Value unknown() { return {Kind::Unknown, {}}; }
    static Value text1252(std::string_view text) { return {Kind::Text, text}; }
    static Value line(std::string_view text) { return {Kind::Line, text}; }
    static Value typed(std::string_view text) { return {Kind::Typed, text}; }
    static Value port(std::string_view text) { return {Kind::Port, text}; }
    static Value textOrNull(std::string_view text) { return {Kind::TextOrNull, text}; }
    static Value utf8(std::string_view text) { return {Kind::Utf8, text}; }
    static Value asNumber(std::uint32_t number) { return {Kind::AsNumber, {}, number}; }
    static Value whole(std::uint64_t number) { return {Kind::Number, {}, number}; }
};

// The statistics of a run as every format lists them, texts in UTF-8.
struct StatisticsTables {
    struct Line {
        std::string name;
        std::string code;
        std::int64_t count = 0;
        std::int64_t clients = 0;  // distinct addresses, where withClients
    };
    std::string elapsedText;  // "H:mm:ss"
    double seconds = 0;
    std::int64_t total = 0;
    std::optional<std::int64_t> distinct;
    std::vector<Line> countries;
    std::optional<std::int64_t> leftOut;  // what --top left out
    // Each country's distinct addresses are known (the run had its rows).
    bool withClients = false;
    std::int64_t leftOutClients = 0;  // those of the countries --top left out
    std::vector<std::pair<std::string_view, std::int64_t>> reasons;
    // --by as: these in place of the countries.
    bool byNetwork = false;
    std::vector<Summary::NetworkCount> networks;
    std::int64_t noNetwork = 0;
    std::optional<std::int64_t> otherNetworks;  // what --top left out
};

class Printer {
public:
    virtual ~Printer() = default;
    // The line of column names that goes before the rows, where the format has one.
    virtual void header(std::string& out, const Layout& layout) = 0;
    // The field at `index` of a row's layout.
    virtual void field(std::string& out, std::size_t index, Column column, Value value) = 0;
    virtual void endRow(std::string& out) = 0;
    virtual void statistics(std::string& out, const StatisticsTables& tables) = 0;
};

std::unique_ptr<Printer> makePrinter(Format format);

// The address and port that lead a row (its first two columns, Ip then Port)
// as `format`'s printer writes those two fields, without the printer: where
// both texts are printed as they stand (printable ASCII that no format quotes
// or escapes, as every address a scan finds is), they are copied. False, and
// nothing written, for any other text.
bool appendPlainLead(std::string& out, Format format, std::string_view ip, std::string_view port);

}  // namespace ipcountry::batch
