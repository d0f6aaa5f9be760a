#include "registry_file.h"

#include <charconv>
#include <istream>
#include <map>
#include <optional>

#include "lookup/address_text.h"
#include "lookup/ipv6_text.h"
#include "lookup/range_file.h"
#include "prefix_range.h"

namespace ipcountry::data {
namespace {

[[noreturn]] void fail(std::size_t lineNo, const std::string& what) {
    throw SourceError("line " + std::to_string(lineNo) + ": " + what);
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
        if (bar == std::string_view::npos) return fields;
        start = bar + 1;
    }
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 19) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

bool isRegistryVersionLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto f = splitFields(line);
    if (f.size() != 7) return false;
    // The format's version: "2", or "2.3" as some registries write it.
    const std::size_t dot = f[0].find('.');
    const bool version = dot == std::string_view::npos
                             ? isDigits(f[0])
                             : isDigits(f[0].substr(0, dot)) && isDigits(f[0].substr(dot + 1));
    return version && !f[1].empty() && isDigits(f[3]);
}

RegistryFile parseRegistryFile(std::istream& in) {
    RegistryFile file;
    bool versionSeen = false;
    std::size_t announced = 0;
    std::map<std::string, std::size_t, std::less<>> summaries;  // type -> announced count
    std::map<std::string, std::size_t, std::less<>> counted;    // type -> records read
    std::string line;
    std::size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        // getline stops at the end of the stream without a line end only on
        // the last line: a registry writes every line whole.
        if (in.eof()) fail(lineNo, "the line has no end: the file is cut short");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto f = splitFields(line);
        if (!versionSeen) {
            if (!isRegistryVersionLine(line))
                fail(lineNo, "expected the version line (version|registry|serial|records|...)");
            versionSeen = true;
            file.registry = std::string(f[1]);
            file.serial = std::string(f[2]);
            const auto records = number(f[3]);
            if (!records) fail(lineNo, "the version line's count of records is not a number");
            announced = static_cast<std::size_t>(*records);
            if (f[5].size() == 8 && isDigits(f[5])) file.endDate = std::string(f[5]);
            continue;
        }
        if (f.size() == 6 && f[1] == "*" && f[3] == "*" && f[5] == "summary") {
            const auto count = number(f[4]);
            if (!count) fail(lineNo, "the summary's count is not a number");
            summaries[std::string(f[2])] = static_cast<std::size_t>(*count);
            continue;
        }
        if (f.size() < 7)
            fail(lineNo, "expected registry|cc|type|start|value|date|status fields, found " +
                             std::to_string(f.size()));
        const std::string_view cc = f[1], type = f[2], start = f[3], value = f[4], status = f[6];
        ++file.records;
        ++counted[std::string(type)];
        bool country = false;
        if (status == "allocated" || status == "assigned") {
            country = true;
        } else if (status != "available" && status != "reserved") {
            fail(lineNo, "unknown status \"" + std::string(status) + "\"");
        }
        if (type != "ipv4" && type != "ipv6") {
            if (type != "asn") fail(lineNo, "unknown record type \"" + std::string(type) + "\"");
            continue;
        }
        if (country && !lookup::isTwoCapitals(cc))
            fail(lineNo, "the country code is not two upper-case letters");
        const bool noCountry = !country || cc == kUnknownCode;
        if (type == "ipv4") {
            const auto first = lookup::readPlainAddress(start);
            if (!first) fail(lineNo, "the start is not an IPv4 address");
            const auto count = number(value);
            if (!count || *count == 0 || *count - 1 > 0xFFFFFFFFULL - *first)
                fail(lineNo, "the count of addresses is not a number that fits after the start");
            if (!noCountry)
                file.ipv4.push_back(
                    {*first, static_cast<std::uint32_t>(*first + (*count - 1)), std::string(cc)});
        } else {
            const auto first = lookup::readIpv6Value(start);
            if (!first) fail(lineNo, "the start is not an IPv6 address");
            const auto length = number(value);
            if (!length || *length > 128) fail(lineNo, "the prefix length is not 0 to 128");
            const lookup::Address6 host = hostMask(static_cast<unsigned>(*length));
            if ((first->low & host.low) != 0 || (first->high & host.high) != 0)
                fail(lineNo, "the start is not the first address of its prefix");
            if (!noCountry)
                file.ipv6.push_back(
                    {*first, lookup::Address6{first->high | host.high, first->low | host.low},
                     std::string(cc)});
        }
    }
    if (in.bad()) throw SourceError("cannot read");
    if (!versionSeen) throw SourceError("no version line: not a registry statistics file");
    if (file.records != announced)
        throw SourceError("the version line announces " + std::to_string(announced) +
                          " records, the file holds " + std::to_string(file.records) +
                          ": the file is cut short or damaged");
    for (const auto& [type, count] : summaries) {
        const auto found = counted.find(type);
        const std::size_t read = found == counted.end() ? 0 : found->second;
        if (read != count)
            throw SourceError("the summary announces " + std::to_string(count) + " " + type +
                              " records, the file holds " + std::to_string(read) +
                              ": the file is cut short or damaged");
    }
    return file;
}

}  // namespace ipcountry::data
