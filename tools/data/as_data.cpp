#include "as_data.h"

#include <maxminddb.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <unordered_map>

#include "ip_db_builder.h"
#include "lookup/address_text.h"
#include "lookup/as_file.h"
#include "lookup/csv_fields.h"
#include "lookup/ipv6_text.h"
#include "lookup/range_set.h"
#include "mmdb_reader.h"

namespace ipcountry::data {
namespace {

using lookup::Address6;

std::string lineError(std::size_t line, const std::string& why) {
    return "line " + std::to_string(line) + ": " + why;
}

std::optional<std::uint32_t> asNumber(std::string_view text) {
    if (text.size() > 2 && (text[0] == 'A' || text[0] == 'a') && (text[1] == 'S' || text[1] == 's'))
        text.remove_prefix(2);
    std::uint32_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// A range of either family from its two address texts, into `out`.
void addRange(std::string_view firstText, std::string_view lastText, std::uint32_t number,
              std::size_t line, AsData& out) {
    const bool v6 = firstText.find(':') != std::string_view::npos;
    if (v6 != (lastText.find(':') != std::string_view::npos))
        throw SourceError(lineError(line, "a range whose ends are of two families"));
    if (!v6) {
        const auto first = lookup::readPlainAddress(firstText);
        const auto last = lookup::readPlainAddress(lastText);
        if (!first || !last) throw SourceError(lineError(line, "an address that cannot be read"));
        if (*first > *last)
            throw SourceError(lineError(line, "a range that ends before it starts"));
        out.ipv4.push_back({*first, *last, number});
        return;
    }
    const auto first = lookup::readIpv6Value(firstText);
    const auto last = lookup::readIpv6Value(lastText);
    if (!first || !last) throw SourceError(lineError(line, "an address that cannot be read"));
    if (*last < *first) throw SourceError(lineError(line, "a range that ends before it starts"));
    out.ipv6.push_back({*first, *last, number});
}

// One name per number: a source that names a number twice keeps the first.
void name(AsData& out, std::uint32_t number, std::string_view text) {
    out.names.try_emplace(number, std::string(text));
}

void refuseEmpty(const AsData& data) {
    if (data.ipv4.empty() && data.ipv6.empty()) throw SourceError("it holds no network");
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

__extension__ typedef unsigned __int128 Width;

Width width(const AsRange4& r) { return Width{r.last - r.first}; }
Width width(const AsRange6& r) {
    const auto value = [](Address6 a) { return (Width{a.high} << 64) | a.low; };
    return value(r.last) - value(r.first);
}

// Steps of one family: where each run of one network (or of none, place 0)
// starts, the first at the family's first address.
template <class Range, class Address>
void steps(const std::vector<Range>& given, const std::map<std::uint32_t, std::uint32_t>& places,
           std::vector<Address>& starts, std::vector<std::uint32_t>& networks) {
    // The widest first, so that each narrower range is laid over those it
    // lies in; of two alike, the later one in the source.
    std::vector<Range> ordered = given;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Range& a, const Range& b) { return width(a) > width(b); });
    const std::vector<Range> painted = lookup::paintRanges(ordered);
    const auto step = [&](Address start, std::uint32_t place) {
        if (!networks.empty() && networks.back() == place) return;
        if (!starts.empty() && starts.back() == start) {
            starts.pop_back();
            networks.pop_back();
            if (!networks.empty() && networks.back() == place) return;
        }
        starts.push_back(start);
        networks.push_back(place);
    };
    step(Address{}, 0);
    for (const Range& range : painted) {
        step(range.first, places.at(range.number));
        Address after = range.last;
        if (++after != Address{}) step(after, 0);
    }
}

void putWord(std::string& out, std::uint32_t word) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(word >> (8 * i) & 0xFF);
}

}  // namespace

AsData readIp2asnTsv(std::string_view text) {
    AsData out;
    std::size_t number = 0;
    for (const std::string_view line : splitLines(text)) {
        ++number;
        if (line.empty()) continue;
        std::vector<std::string_view> fields;
        std::string_view rest = line;
        for (;;) {
            const std::size_t tab = rest.find('\t');
            fields.push_back(rest.substr(0, tab));
            if (tab == std::string_view::npos) break;
            rest.remove_prefix(tab + 1);
        }
        if (fields.size() != 5)
            throw SourceError(lineError(number,
                                        "not range start, end, AS number, country, "
                                        "description, separated by TABs"));
        const auto asn = asNumber(fields[2]);
        if (!asn) throw SourceError(lineError(number, "no AS number"));
        // 0: a range nobody announces, which has no network.
        if (*asn == 0) continue;
        addRange(fields[0], fields[1], *asn, number, out);
        name(out, *asn, fields[4]);
    }
    refuseEmpty(out);
    return out;
}

AsData readAsCsv(std::string_view text) {
    AsData out;
    std::size_t number = 0;
    for (const std::string_view line : splitLines(text)) {
        ++number;
        if (line.empty()) continue;
        std::vector<std::string> fields;
        const std::string_view problem = lookup::splitCsvRecord(line, fields);
        if (!problem.empty()) throw SourceError(lineError(number, std::string(problem)));
        if (fields.size() != 4)
            throw SourceError(lineError(number, "not range start, end, AS number, operator"));
        const auto asn = asNumber(fields[2]);
        if (!asn || *asn == 0) throw SourceError(lineError(number, "no AS number"));
        if (fields[0].find_first_not_of("0123456789") == std::string::npos)
            throw SourceError(lineError(
                number, "an address written as a number: the file of address text is needed"));
        addRange(fields[0], fields[1], *asn, number, out);
        name(out, *asn, fields[3]);
    }
    refuseEmpty(out);
    return out;
}

AsData readAsMmdb(const std::string& path) {
    AsData out;
    std::unordered_map<std::uint32_t, std::uint32_t> numbers;  // by record offset: shared
    const auto numberOf = [&](MMDB_entry_s& entry) -> std::uint32_t {
        const auto known = numbers.find(entry.offset);
        if (known != numbers.end()) return known->second;
        MMDB_entry_data_s data{};
        int status = MMDB_get_value(&entry, &data, "autonomous_system_number", nullptr);
        std::uint32_t asn = 0;
        if (status == MMDB_SUCCESS && data.has_data) {
            if (data.type == MMDB_DATA_TYPE_UINT32)
                asn = data.uint32;
            else if (data.type == MMDB_DATA_TYPE_UINT16)
                asn = data.uint16;
            else if (data.type == MMDB_DATA_TYPE_UINT64 && data.uint64 <= UINT32_MAX)
                asn = static_cast<std::uint32_t>(data.uint64);
        } else if (status != MMDB_SUCCESS && status != MMDB_LOOKUP_PATH_DOES_NOT_MATCH_DATA_ERROR &&
                   status != MMDB_INVALID_LOOKUP_PATH_ERROR) {
            throw SourceError(std::string("a data record cannot be read: ") +
                              MMDB_strerror(status));
        }
        if (asn != 0 && !out.names.contains(asn)) {
            MMDB_entry_data_s org{};
            status = MMDB_get_value(&entry, &org, "autonomous_system_organization", nullptr);
            std::string text;
            if (status == MMDB_SUCCESS && org.has_data && org.type == MMDB_DATA_TYPE_UTF8_STRING)
                text.assign(org.utf8_string, org.data_size);
            out.names.emplace(asn, std::move(text));
        }
        numbers.emplace(entry.offset, asn);
        return asn;
    };
    const MmdbMetadata metadata =
        walkMmdb(path, [&](Address6 first, Address6 last, bool deep, MMDB_entry_s& entry) {
            const std::uint32_t asn = numberOf(entry);
            if (asn == 0) return;
            forEachFamily(
                first, last, deep,
                [&](std::uint32_t a, std::uint32_t b) {
                    out.ipv4.push_back({a, b, asn});
                },
                [&](Address6 a, Address6 b) {
                    out.ipv6.push_back({a, b, asn});
                });
        });
    out.description = metadata.databaseType;
    out.buildEpoch = metadata.buildEpoch;
    refuseEmpty(out);
    return out;
}

std::string asFileBytes(const AsData& data) {
    // Each network by its place in the table of numbers, from 1 (0: none).
    std::map<std::uint32_t, std::uint32_t> places;
    for (const auto& [number, name] : data.names) places.emplace(number, 0);
    for (const AsRange4& r : data.ipv4) places.emplace(r.number, 0);
    for (const AsRange6& r : data.ipv6) places.emplace(r.number, 0);
    std::uint32_t place = 0;
    for (auto& [number, at] : places) at = ++place;
    std::vector<std::uint32_t> starts4, networks4, networks6;
    std::vector<Address6> starts6;
    steps(data.ipv4, places, starts4, networks4);
    steps(data.ipv6, places, starts6, networks6);
    std::string names;
    std::vector<std::uint32_t> nameStarts;
    for (const auto& [number, at] : places) {
        nameStarts.push_back(static_cast<std::uint32_t>(names.size()));
        if (const auto found = data.names.find(number); found != data.names.end())
            names += found->second;
    }
    std::string out(lookup::kAsFileMagic);
    putWord(out, static_cast<std::uint32_t>(starts4.size()));
    putWord(out, static_cast<std::uint32_t>(starts6.size()));
    putWord(out, static_cast<std::uint32_t>(places.size()));
    putWord(out, static_cast<std::uint32_t>(names.size()));
    for (const std::uint32_t s : starts4) putWord(out, s);
    for (const std::uint32_t n : networks4) putWord(out, n);
    for (const Address6& s : starts6) {
        for (int i = 7; i >= 0; --i) out += static_cast<char>(s.high >> (8 * i) & 0xFF);
        for (int i = 7; i >= 0; --i) out += static_cast<char>(s.low >> (8 * i) & 0xFF);
    }
    for (const std::uint32_t n : networks6) putWord(out, n);
    for (const auto& [number, at] : places) putWord(out, number);
    for (const std::uint32_t s : nameStarts) putWord(out, s);
    out += names;
    return out;
}

}  // namespace ipcountry::data
