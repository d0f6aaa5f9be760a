#include "formats/printers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <nlohmann/json.hpp>

#include "analysis/statistics.h"
#include "lookup/country_table.h"

namespace ipcountry::batch {

namespace {

using Json = nlohmann::ordered_json;
using Kind = Value::Kind;

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

// Programs want the port, not the grid's way of showing it: the text after the colon.
std::string_view portDigits(std::string_view port) {
    return port.starts_with(':') ? port.substr(1) : port;
}

// "AS13335", as operators write AS numbers.
void appendAsNumber(std::string& out, std::uint64_t number) {
    out += "AS";
    out += std::to_string(number);
}

void appendWhole(std::string& out, std::uint64_t number) {
    char digits[20];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, end);
}

std::string asText(std::uint32_t number) { return "AS" + std::to_string(number); }

// A name in a tsv field: a TAB or line break would make a column or a row of its own.
void appendTsvName(std::string& out, std::string_view name) {
    for (const char c : name) out += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
}

// tsv: the program's original output. No header, fields as the grid shows
// them, `Unknown` for a country it cannot name.
class TsvPrinter final : public Printer {
public:
    void header(std::string& /*out*/, const Layout& /*layout*/) override {}

    void field(std::string& out, std::size_t index, Column /*column*/, Value value) override {
        if (index > 0) out += '\t';
        switch (value.kind) {
            case Kind::None:
                return;
            case Kind::Unknown:
                out += "Unknown";
                return;
            case Kind::Typed:
                out += value.text;
                return;
            case Kind::AsNumber:
                appendAsNumber(out, value.number);
                return;
            case Kind::Number:
                appendWhole(out, value.number);
                return;
            case Kind::Utf8: {
                const std::size_t start = out.size();
                out += value.text;
                // A TAB or line break in a name would make a column or a row of its own.
                if (value.text.find_first_of("\t\r\n") != std::string_view::npos)
                    std::replace_if(
                        out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
                        [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
                return;
            }
            case Kind::Text:
            case Kind::TextOrNull:
            case Kind::Port:
                lookup::appendWindows1252AsUtf8(out, value.text);
                return;
            case Kind::Line: {
                const std::size_t start = out.size();
                lookup::appendWindows1252AsUtf8(out, value.text);
                // A TAB in the line would make a column of its own.
                std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\t',
                             ' ');
                return;
            }
        }
    }

    void endRow(std::string& out) override { out += '\n'; }

    void statistics(std::string& out, const StatisticsTables& tables) override {
        out += "\n";
        out += analysis::kElapsedSentence;
        out += tables.elapsedText + "\n";
        out += analysis::kTotalSentence;
        out += std::to_string(tables.total);
        if (tables.distinct) {
            out += words::kDistinctBefore;
            out += std::to_string(*tables.distinct);
            out += words::kDistinctAfter;
        }
        out += "\n";
        const auto line = [&out, &tables](std::string_view name, std::string_view code,
                                          std::int64_t count,
                                          std::optional<std::int64_t> clients = std::nullopt) {
            out += name;
            out += '\t';
            out += code;
            out += '\t' + std::to_string(count) + '\t' +
                   analysis::formatShare(count, tables.total, ".");
            if (clients) out += '\t' + std::to_string(*clients);
            out += '\n';
        };
        const auto known = [&tables](std::int64_t n) {
            return tables.withClients ? std::optional(n) : std::nullopt;
        };
        if (tables.byNetwork) {
            const auto network = [&out, &tables](std::string_view as, std::string_view name,
                                                 std::string_view country, std::string_view code,
                                                 std::int64_t count) {
                out += as;
                out += '\t';
                appendTsvName(out, name);
                out += '\t';
                out += country;
                out += '\t';
                out += code;
                out += '\t' + std::to_string(count) + '\t' +
                       analysis::formatShare(count, tables.total, ".") + '\n';
            };
            for (const auto& n : tables.networks)
                network(asText(n.number), n.name, n.countryName, n.countryCode, n.count);
            if (tables.otherNetworks)
                network(words::kOtherNetworksName, {}, {}, {}, *tables.otherNetworks);
            if (tables.noNetwork > 0) network(words::kNoNetworkName, {}, {}, {}, tables.noNetwork);
        }
        for (const auto& country : tables.countries)
            line(country.name, country.code, country.count, known(country.clients));
        if (tables.leftOut)
            line(words::kOtherCountriesName, {}, *tables.leftOut, known(tables.leftOutClients));
        for (const auto& [reason, count] : tables.reasons) line(reason, {}, count);
    }
};

// csv: a header first, fields quoted where they need it, CRLF line ends.
class CsvPrinter final : public Printer {
public:
    void header(std::string& out, const Layout& layout) override {
        for (std::size_t i = 0; i < layout.size(); ++i) {
            if (i > 0) out += ',';
            appendCsvField(out, columnInfo(layout.columns[i]).csvHeader);
        }
        endRow(out);
    }

    void field(std::string& out, std::size_t index, Column /*column*/, Value value) override {
        if (index > 0) out += ',';
        switch (value.kind) {
            case Kind::None:
            case Kind::Unknown:
                return;
            case Kind::Typed:
            case Kind::Utf8:
                appendCsvField(out, value.text);
                return;
            case Kind::AsNumber:
                appendAsNumber(out, value.number);
                return;
            case Kind::Number:
                appendWhole(out, value.number);
                return;
            case Kind::Port:
                text1252(out, portDigits(value.text));
                return;
            case Kind::Text:
            case Kind::Line:
            case Kind::TextOrNull:
                text1252(out, value.text);
                return;
        }
    }

    void endRow(std::string& out) override { out += "\r\n"; }

    void statistics(std::string& out, const StatisticsTables& tables) override {
        // More tables after a blank line each: the run, the countries, the reasons.
        const auto row = [&out](std::initializer_list<std::string_view> fields) {
            bool first = true;
            for (const std::string_view field : fields) {
                if (!std::exchange(first, false)) out += ',';
                appendCsvField(out, field);
            }
            out += "\r\n";
        };
        const auto& run = words::kRunHeader;
        const auto& head = words::kCountryHeader;
        const std::int64_t total = tables.total;
        out += "\r\n";
        row({run[0], run[1], run[2]});
        row({Json(tables.seconds).dump(), std::to_string(total),
             tables.distinct ? std::to_string(*tables.distinct) : std::string()});
        out += "\r\n";
        if (tables.byNetwork) {
            const auto& nets = words::kNetworkHeader;
            row({nets[0], nets[1], nets[2], nets[3], nets[4], nets[5]});
            for (const auto& n : tables.networks)
                row({asText(n.number), n.name, n.countryName, n.countryCode,
                     std::to_string(n.count), shareNumber(n.count, total)});
            if (tables.otherNetworks)
                row({words::kOtherNetworksName, "", "", "", std::to_string(*tables.otherNetworks),
                     shareNumber(*tables.otherNetworks, total)});
            if (tables.noNetwork > 0)
                row({words::kNoNetworkName, "", "", "", std::to_string(tables.noNetwork),
                     shareNumber(tables.noNetwork, total)});
        } else if (tables.withClients) {
            row({head[0], head[1], head[2], head[3], words::kDistinctColumn});
        } else {
            row({head[0], head[1], head[2], head[3]});
        }
        for (const auto& country : tables.countries) {
            if (tables.withClients)
                row({country.name, country.code, std::to_string(country.count),
                     shareNumber(country.count, total), std::to_string(country.clients)});
            else
                row({country.name, country.code, std::to_string(country.count),
                     shareNumber(country.count, total)});
        }
        if (tables.leftOut) {
            if (tables.withClients)
                row({words::kOtherCountriesName, "", std::to_string(*tables.leftOut),
                     shareNumber(*tables.leftOut, total), std::to_string(tables.leftOutClients)});
            else
                row({words::kOtherCountriesName, "", std::to_string(*tables.leftOut),
                     shareNumber(*tables.leftOut, total)});
        }
        if (!tables.reasons.empty()) {
            const auto& reasonHead = words::kReasonHeader;
            out += "\r\n";
            row({reasonHead[0], reasonHead[1], reasonHead[2]});
            for (const auto& [reason, count] : tables.reasons)
                row({reason, std::to_string(count), shareNumber(count, total)});
        }
    }

private:
    void text1252(std::string& out, std::string_view bytes) {
        // Plain ASCII is the same in Windows-1252 and UTF-8 and needs no quoting.
        if (plainCsvText(bytes)) {
            out += bytes;
            return;
        }
        m_scratch.clear();
        lookup::appendWindows1252AsUtf8(m_scratch, bytes);
        appendCsvField(out, m_scratch);
    }
    std::string m_scratch;
};

// json: one object per line, null where tsv shows an empty field or `Unknown`.
class JsonPrinter final : public Printer {
public:
    void header(std::string& /*out*/, const Layout& /*layout*/) override {}

    JsonPrinter() {
        // Built in place: GCC 12 at -O3 takes "..." + std::string&& for an
        // overlapping copy (-Wrestrict) that is not there.
        for (const ColumnInfo& info : kColumns) {
            std::string key(info.jsonKey.size() + 3, '"');
            info.jsonKey.copy(key.data() + 1, info.jsonKey.size());
            key.back() = ':';
            m_keys[static_cast<std::size_t>(info.column)] = std::move(key);
        }
    }

    void field(std::string& out, std::size_t index, Column column, Value value) override {
        if (value.kind == Kind::None && columnInfo(column).jsonOmitsNone) return;
        out += index > 0 ? ',' : '{';
        out += m_keys[static_cast<std::size_t>(column)];
        switch (value.kind) {
            case Kind::None:
            case Kind::Unknown:
            case Kind::TextOrNull:
                out += "null";
                return;
            case Kind::Typed:
            case Kind::Utf8:
                appendJsonString(out, value.text);
                return;
            case Kind::AsNumber:
            case Kind::Number:
                appendWhole(out, value.number);
                return;
            case Kind::Port: {
                // A number where it is one.
                const std::string_view digits = portDigits(value.text);
                if (value.text.empty())
                    out += "null";
                else if (isPortNumber(digits))
                    appendPortNumber(out, digits);
                else
                    text1252(out, digits);
                return;
            }
            case Kind::Text:
            case Kind::Line:
                text1252(out, value.text);
                return;
        }
    }

    void endRow(std::string& out) override { out += "}\n"; }

    void statistics(std::string& out, const StatisticsTables& tables) override {
        using namespace words;
        const std::int64_t total = tables.total;
        const auto share = [total](std::int64_t count) {
            return total > 0 ? static_cast<double>(analysis::shareTenths(count, total)) / 10.0
                             : 0.0;
        };
        const auto distinctOf = [&tables](std::int64_t n) {
            return tables.withClients ? Json(n) : Json(nullptr);
        };
        Json countryList = Json::array();
        for (const auto& country : tables.countries)
            countryList.push_back(Json{{kCountry, country.name},
                                       {kCode, country.code},
                                       {kCount, country.count},
                                       {kShare, share(country.count)},
                                       {kDistinct, distinctOf(country.clients)}});
        Json object{{kElapsedSeconds, tables.seconds}, {kTotal, total}};
        if (tables.distinct)
            object[std::string(kDistinct)] = *tables.distinct;
        else
            object[std::string(kDistinct)] = nullptr;
        if (tables.byNetwork) {
            Json networkList = Json::array();
            for (const auto& n : tables.networks) {
                Json entry{{kAsn, n.number}, {kAsName, n.name}};
                entry[std::string(kCountry)] =
                    n.countryName.empty() ? Json(nullptr) : Json(n.countryName);
                entry[std::string(kCode)] =
                    n.countryCode.empty() ? Json(nullptr) : Json(n.countryCode);
                entry[std::string(kCount)] = n.count;
                entry[std::string(kShare)] = share(n.count);
                networkList.push_back(std::move(entry));
            }
            object[std::string(kNetworks)] = std::move(networkList);
            if (tables.otherNetworks)
                object[std::string(kOtherNetworks)] =
                    Json{{kCount, *tables.otherNetworks}, {kShare, share(*tables.otherNetworks)}};
            if (tables.noNetwork > 0)
                object[std::string(kNoNetwork)] =
                    Json{{kCount, tables.noNetwork}, {kShare, share(tables.noNetwork)}};
        } else {
            object[std::string(kCountries)] = std::move(countryList);
        }
        if (tables.leftOut)
            object[std::string(kOtherCountries)] =
                Json{{kCount, *tables.leftOut},
                     {kShare, share(*tables.leftOut)},
                     {kDistinct, distinctOf(tables.leftOutClients)}};
        if (!tables.reasons.empty()) {
            Json reasonList = Json::array();
            for (const auto& [reason, count] : tables.reasons)
                reasonList.push_back(
                    Json{{kReason, reason}, {kCount, count}, {kShare, share(count)}});
            object[std::string(kReasons)] = std::move(reasonList);
        }
        out += object.dump();
        out += '\n';
    }

private:
    void text1252(std::string& out, std::string_view bytes) {
        if (plainJsonText(bytes)) {
            out += '"';
            out += bytes;
            out += '"';
            return;
        }
        m_scratch.clear();
        lookup::appendWindows1252AsUtf8(m_scratch, bytes);
        appendJsonString(out, m_scratch);
    }
    std::array<std::string, kColumns.size()> m_keys;  // "\"ip\":"
    std::string m_scratch;
};

// Bytes that every format prints as they stand: printable ASCII but for
// what csv quotes and json escapes. Windows-1252 and UTF-8 agree on them.
constexpr std::array<bool, 256> kPlainByte = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c <= 0x7E; ++c)
        plain[static_cast<std::size_t>(c)] = c != ',' && c != '"' && c != '\\';
    return plain;
}();

bool plainEverywhere(std::string_view text) {
    for (const char c : text)
        if (!kPlainByte[static_cast<unsigned char>(c)]) return false;
    return true;
}

}  // namespace

bool appendPlainLead(std::string& out, Format format, std::string_view ip, std::string_view port) {
    if (!plainEverywhere(ip) || !plainEverywhere(port)) return false;
    switch (format) {
        case Format::Tsv:
            out += ip;
            out += '\t';
            out += port;
            return true;
        case Format::Csv:
            out += ip;
            out += ',';
            out += portDigits(port);
            return true;
        case Format::Json: {
            out += "{\"";
            out += columnInfo(Column::Ip).jsonKey;
            out += "\":\"";
            out += ip;
            out += "\",\"";
            out += columnInfo(Column::Port).jsonKey;
            out += "\":";
            const std::string_view digits = portDigits(port);
            if (port.empty()) {
                out += "null";
            } else if (isPortNumber(digits)) {
                appendPortNumber(out, digits);
            } else {
                out += '"';
                out += digits;
                out += '"';
            }
            return true;
        }
    }
    return false;
}

std::unique_ptr<Printer> makePrinter(Format format) {
    switch (format) {
        case Format::Csv:
            return std::make_unique<CsvPrinter>();
        case Format::Json:
            return std::make_unique<JsonPrinter>();
        case Format::Tsv:
            break;
    }
    return std::make_unique<TsvPrinter>();
}

}  // namespace ipcountry::batch
