// StatsMerger's reader of json: one object per line, a row with ip, port,
// country and code (with --all, country and code null and a reason), or the
// statistics with elapsed_seconds, total, distinct, countries and reasons.
#include <nlohmann/json.hpp>

#include "analysis/row_rules.h"
#include "formats/columns.h"
#include "formats/stats_lines.h"
#include "formats/stats_merger.h"

namespace ipcountry::batch {

using stats_lines::Malformed;
using Json = nlohmann::json;

namespace {

// A row as the driver writes it when nothing in it needs an escape, read
// without a JSON parser: most of what a merge reads, at several times the
// parser's speed. False leaves the line to the parser.
bool plainJsonRow(std::string_view line, std::string_view& ip, std::string_view& country,
                  std::string_view& code) {
    if (line.find('\\') != std::string_view::npos) return false;
    const auto skip = [&line](std::string_view text) {
        if (!line.starts_with(text)) return false;
        line.remove_prefix(text.size());
        return true;
    };
    // The key of the field at `index` of a row, as the driver writes it.
    const auto key = [&skip](std::size_t index, Column column) {
        return skip(index == 0 ? "{\"" : ",\"") && skip(columnInfo(column).jsonKey) && skip("\":");
    };
    const auto string = [&line](std::string_view& text) {
        const std::size_t quote = line.find('"');
        if (quote == std::string_view::npos) return false;
        text = line.substr(0, quote);
        line.remove_prefix(quote + 1);
        return true;
    };
    // The row's file and line (-H, -n) before them, where it has them.
    std::size_t lead = 0;
    const auto leading = [&](Column column, const auto& value) {
        const std::string_view before = line;
        if (key(lead, column) && value()) {
            ++lead;
            return true;
        }
        line = before;
        return false;
    };
    const auto digits = [&line] {
        const std::size_t end = line.find_first_not_of("0123456789");
        if (end == 0 || end == std::string_view::npos) return false;
        line.remove_prefix(end);
        return true;
    };
    std::string_view file;
    (void)leading(Column::File, [&] { return skip("null") || (skip("\"") && string(file)); });
    (void)leading(Column::Line, [&] { return skip("null") || digits(); });
    static const Layout layout = analysisLayout(Format::Json, false);
    std::string_view port;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const Column column = layout.columns[i];
        if (!key(lead + i, column)) return false;
        switch (column) {
            case Column::Ip:
                if (!skip("\"") || !string(ip) || ip.empty()) return false;
                break;
            case Column::Port:
                if (!skip("null") && !(skip("\"") && string(port)) && !digits()) return false;
                break;
            case Column::Country:
                if (!skip("\"") || !string(country)) return false;
                break;
            case Column::Code:
                if (!skip("\"") || !string(code)) return false;
                break;
            default:
                return false;
        }
    }
    return line == "}";
}

const std::string* stringAt(const Json& object, std::string_view key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>()
                                                       : nullptr;
}

bool nullAt(const Json& object, std::string_view key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_null();
}

// A row's network as the tsv and csv rows show it ("AS13335", empty for
// none) and its operator; nullopt when the row has no network keys.
std::optional<std::pair<std::string, std::string>> networkOf(const Json& row) {
    const auto number = row.find(columnInfo(Column::Asn).jsonKey);
    const auto name = row.find(columnInfo(Column::AsName).jsonKey);
    if (number == row.end() || name == row.end()) return std::nullopt;
    if (number->is_null()) return std::pair<std::string, std::string>{};
    if (!number->is_number_unsigned() || number->get<std::uint64_t>() > 0xFFFFFFFFu)
        throw Malformed("asn is not an AS number");
    return std::pair{"AS" + std::to_string(number->get<std::uint64_t>()),
                     name->is_string() ? name->get<std::string>() : std::string()};
}

std::optional<std::int64_t> countOf(const Json& value) {
    if (!value.is_number_unsigned()) return std::nullopt;
    return value.get<std::int64_t>();
}

}  // namespace

void StatsMerger::jsonLine(std::string_view text) {
    using namespace words;
    const std::string_view ipKey = columnInfo(Column::Ip).jsonKey;
    if (text.empty()) return;
    std::string_view ip;
    std::string_view country;
    std::string_view code;
    if (plainJsonRow(text, ip, country, code)) {
        if (m_byNetwork) noNetworkColumns();
        countRow(ip, m_slots.byCode(code, country), country, code);
        return;
    }
    const Json object = Json::parse(text, nullptr, false);
    if (!object.is_object()) throw Malformed("not a JSON object");
    if (object.contains(ipKey)) {
        const std::string* address = stringAt(object, ipKey);
        if (address == nullptr) throw Malformed("not a row (ip, port, country and code)");
        const std::string_view country = columnInfo(Column::Country).jsonKey;
        const std::string_view code = columnInfo(Column::Code).jsonKey;
        if (const std::string* reason = stringAt(object, columnInfo(Column::Reason).jsonKey)) {
            if (!nullAt(object, country) || !nullAt(object, code))
                throw Malformed("a row with a reason has a null country and code");
            countReasonRow(*address, *reason);
            if (m_byNetwork) {
                const auto network = networkOf(object);
                if (!network) noNetworkColumns();
                countNetwork(network->first, network->second, std::nullopt);
            }
            return;
        }
        const std::string* name = stringAt(object, country);
        const std::string* slotCode = stringAt(object, code);
        if (name == nullptr || slotCode == nullptr)
            throw Malformed("not a row (ip, port, country and code)");
        const std::optional<int> slot = m_slots.byCode(*slotCode, *name);
        countRow(*address, slot, *name, *slotCode);
        if (m_byNetwork) {
            const auto network = networkOf(object);
            if (!network) noNetworkColumns();
            countNetwork(network->first, network->second, slot);
        }
        return;
    }
    const auto seconds = object.find(kElapsedSeconds);
    const auto total = object.find(kTotal);
    const auto countries = object.find(kCountries);
    if (seconds == object.end() || total == object.end() || countries == object.end() ||
        !seconds->is_number() || !countries->is_array())
        throw Malformed(
            "neither a row (ip, port, country, code) nor statistics "
            "(elapsed_seconds, total, countries)");
    std::optional<std::int64_t> distinct;
    if (const auto found = object.find(kDistinct); found != object.end() && !found->is_null()) {
        distinct = countOf(*found);
        if (!distinct) throw Malformed("the number of distinct addresses is not a number");
    }
    if (object.contains(kOtherCountries))
        throw Malformed(
            "the statistics were cut by --top: the countries left out cannot be merged");
    openBlock(seconds->get<double>(), countOf(*total), distinct);
    for (const Json& entry : *countries) {
        const std::string* name = entry.is_object() ? stringAt(entry, kCountry) : nullptr;
        const std::string* slotCode = entry.is_object() ? stringAt(entry, kCode) : nullptr;
        if (name == nullptr || slotCode == nullptr || !entry.contains(kCount))
            throw Malformed("a country of the statistics needs country, code and count");
        std::optional<std::int64_t> clients;
        if (const auto found = entry.find(kDistinct); found != entry.end() && !found->is_null()) {
            clients = countOf(*found);
            if (!clients) throw Malformed("the country's distinct addresses are not a number");
        }
        blockCountry(m_slots.ofStatistics(*name, *slotCode), countOf(entry.at(kCount)), *name,
                     clients);
    }
    if (const auto reasons = object.find(kReasons); reasons != object.end()) {
        if (!reasons->is_array()) throw Malformed("the reasons of the statistics are not a list");
        for (const Json& entry : *reasons) {
            const std::string* reason = entry.is_object() ? stringAt(entry, kReason) : nullptr;
            if (reason == nullptr || !entry.contains(kCount))
                throw Malformed("a reason of the statistics needs reason and count");
            blockReason(*reason, countOf(entry.at(kCount)));
        }
    }
    if (m_block.listed != m_block.total)
        throw Malformed("the statistics' counts do not add up to their total");
    closeBlock();
}

}  // namespace ipcountry::batch
