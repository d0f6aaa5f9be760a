#include "batch_explain.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch_messages.h"
#include "common/provenance.h"
#include "formats/row_writer.h"
#include "lookup/address_text.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/line_ends.h"
#include "lookup/range_file.h"
#include "lookup/range_set.h"
#include "lookup/special_blocks.h"
#include "lookup/text_file.h"

namespace ipcountry::batch {
namespace {

namespace fs = std::filesystem;
// One range file's lines: where each range starts and its code. Read
// through the range file's index (the saved one, mapped, where it matches)
// when every line is well formed; otherwise from the text, its well-formed
// lines only.
template <class Family>
struct Lines {
    using Address = typename Family::Address;
    std::optional<lookup::BasicRangeFile<Family>> file;  // usesIndex(): its starts and codes
    std::vector<Address> starts;
    std::vector<std::string> codes;

    std::span<const Address> startsRead() const {
        return file ? file->index().starts() : std::span<const Address>(starts);
    }
    std::string codeAt(std::size_t i) const {
        return file ? std::string(lookup::unpackCode(file->index().codes()[i])) : codes[i];
    }
};

template <class Family>
void readLines(Lines<Family>& lines, const fs::path& folder, bool saveIndex) {
    lines.file.emplace(folder);
    lines.file->saveIndexBeside(saveIndex);
    lines.file->open();
    if (lines.file->index().usesIndex()) return;
    lines.file.reset();
    const std::string content =
        lookup::readWholeFile(folder / std::string(Family::kFileName), lookup::kMaxRangeFileBytes);
    lookup::forEachLine(content, [&](std::string_view line) {
        if (line.size() != Family::kKeyLength + 2) return;
        if (const auto start = Family::fromKey(line.substr(0, Family::kKeyLength))) {
            lines.starts.push_back(*start);
            lines.codes.emplace_back(line.substr(Family::kKeyLength));
        }
    });
}

std::string jsonText(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Explanation {
    std::string address;
    const lookup::SpecialBlock* special = nullptr;
    bool found = false;
    std::string first, last, code, country;
    std::vector<std::string> blocks;
};

class Explainer {
public:
    explicit Explainer(const Options& options)
        : m_options(options), m_table(lookup::loadCountryTable(options.countriesDir)) {
        const fs::path folder = options.rangesFolder();
        for (const std::string& line :
             provenance::describeData(folder, folder, provenance::today()))
            if (line.starts_with("Address ranges: ")) {
                if (!m_source.empty()) m_source += "; ";
                m_source += line.substr(16);
            }
        const auto date = provenance::rangesDate(folder);
        m_date = date ? provenance::dateText(*date) : provenance::kUnknownDate;
        m_folder = folder.string();
    }

    // The data's own answer first: a folder made with --keep-special gives
    // special-purpose blocks a country, which the lookups answer.
    Explanation explain(const std::string& operand, const lookup::TypedAddress& typed) {
        Explanation e;
        e.address = operand;
        if (typed.kind == lookup::TypedAddress::Kind::Ipv6) {
            find<lookup::Ipv6Ranges>(m_lines6, typed.ipv6, e);
            if (!e.found) e.special = lookup::findSpecialBlock(typed.ipv6);
        } else if (typed.kind == lookup::TypedAddress::Kind::LinkLocal) {
            // fe80::1 or an address with a zone: bound to one link, never looked up.
            e.special = lookup::findSpecialBlock(typed.ipv6);
        } else {
            find<lookup::Ipv4Ranges>(m_lines4, typed.ipv4, e);
            if (!e.found) e.special = lookup::findSpecialBlock(typed.ipv4);
        }
        return e;
    }

    std::string render(const Explanation& e) const {
        if (m_options.format == Format::Json) {
            std::string out = "{\"address\":" + jsonText(e.address);
            if (e.special) {
                out += ",\"special\":" + jsonText(e.special->name) +
                       ",\"rfc\":" + jsonText(e.special->rfc);
            } else if (e.found) {
                out += ",\"first\":" + jsonText(e.first) + ",\"last\":" + jsonText(e.last) +
                       ",\"blocks\":[";
                for (std::size_t i = 0; i < e.blocks.size(); ++i) {
                    if (i > 0) out += ',';
                    out += jsonText(e.blocks[i]);
                }
                out += "],\"code\":" + jsonText(e.code) + ",\"country\":" +
                       (e.country.empty() ? std::string("null") : jsonText(e.country));
            } else {
                out += ",\"range\":null";
            }
            return out + ",\"source\":" + jsonText(m_source) + ",\"date\":" + jsonText(m_date) +
                   ",\"folder\":" + jsonText(m_folder) + "}\n";
        }
        std::string out = e.address + ": ";
        if (e.special)
            return out + std::string(e.special->name) + ", " + std::string(e.special->rfc) + "\n";
        if (!e.found) return out + "no range holds it\n";
        out += "range " + e.first + " - " + e.last + " (";
        for (std::size_t i = 0; i < e.blocks.size(); ++i) out += (i ? " " : "") + e.blocks[i];
        // A code the country list does not name (EU, AP) stands alone.
        return out + "), " + e.code + (e.country.empty() ? "" : " " + e.country) + ", from " +
               m_source + ", as of " + m_date + " (" + m_folder + ")\n";
    }

private:
    template <class Family, class Address>
    void find(std::optional<Lines<Family>>& lines, Address address, Explanation& e) {
        if (!lines) {
            lines.emplace();
            readLines(*lines, m_options.rangesFolder(), m_options.rangeIndexSaved);
        }
        const auto starts = lines->startsRead();
        const auto at = std::upper_bound(starts.begin(), starts.end(), address);
        if (at == starts.begin()) return;
        const std::size_t i = static_cast<std::size_t>(at - starts.begin()) - 1;
        const std::string code = lines->codeAt(i);
        if (code == "ZZ") return;
        const Address first = starts[i];
        // The last line's range reaches the end of the address space.
        Address last = lookup::withHostBits(Address{}, lookup::kAddressBits<Address>);
        if (at != starts.end()) --(last = *at);
        e.found = true;
        e.first = lookup::addressText(first);
        e.last = lookup::addressText(last);
        lookup::forEachCidr(
            first, last, [&e](const auto& block) { e.blocks.push_back(lookup::cidrText(block)); });
        e.code = code;
        if (const auto slot = m_table.findSlot(code))
            e.country = lookup::windows1252ToUtf8(m_table.slotName(*slot));
    }

    const Options& m_options;
    lookup::CountryTable m_table;
    std::string m_source, m_date, m_folder;
    std::optional<Lines<lookup::Ipv4Ranges>> m_lines4;
    std::optional<Lines<lookup::Ipv6Ranges>> m_lines6;
};

}  // namespace

int runExplain(const Options& options) {
    Output out;
    bool failed = false;
    try {
        Explainer explainer(options);
        for (const std::string& operand : options.operands) {
            const lookup::AddressReading reading = lookup::readAddressText(operand);
            if (!reading.reason.empty()) {
                sayProblem(out, operandInMessage(operand), 0, reading.reason);
                failed = true;
                continue;
            }
            out.buffer() += explainer.render(explainer.explain(operand, reading.typed));
        }
    } catch (const lookup::Error& error) {
        sayProblem(out, "", 0, problemText(error));
        return 1;
    }
    return failed ? 1 : 0;
}

}  // namespace ipcountry::batch
