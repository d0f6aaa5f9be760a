#include "lookup/country_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "lookup/error.h"
#include "lookup/line_ends.h"
#include "lookup/text_file.h"

namespace ipcountry::lookup {

std::optional<int> CountryTable::findSlot(std::string_view code) const noexcept {
    for (int i = 0; i < slotCount(); ++i) {
        if (m_slots[static_cast<std::size_t>(i)].code == code) return i;
    }
    return std::nullopt;
}

void CountryTable::removeHit(int slot) {
    auto& hits = m_slots.at(slot).hits;
    if (hits > 0) --hits;
}

void CountryTable::clearHits() noexcept {
    for (auto& entry : m_slots) entry.hits = 0;
}

std::int64_t CountryTable::totalHits() const noexcept {
    std::int64_t total = 0;
    for (const auto& entry : m_slots) total += entry.hits;
    return total;
}

void CountryTable::setSlot(int slot, std::string_view line) {
    auto& entry = m_slots.at(slot);
    entry.code = std::string(line.substr(0, 2));
    entry.name = std::string(line.substr(2));
    entry.hits = 0;
    entry.filled = true;
}

int CountryTable::addSlot(std::string_view code, std::string_view name) {
    if (slotCount() >= kMostSlots) throw std::length_error("more countries than kMostSlots");
    m_slots.push_back(CountryEntry{std::string(code), std::string(name), 0, true});
    return slotCount() - 1;
}

namespace {

struct NamedCode {
    std::string_view code;
    std::string_view name;
};

constexpr NamedCode kFullNames[] = {
#include "lookup/country_names.inc"
};
static_assert(kSlotCount + std::size(kFullNames) <= kMostSlots);

}  // namespace

std::string_view fullCountryName(std::string_view code) noexcept {
    const auto* found =
        std::lower_bound(std::begin(kFullNames), std::end(kFullNames), code,
                         [](const NamedCode& n, std::string_view c) { return n.code < c; });
    return found != std::end(kFullNames) && found->code == code ? found->name : std::string_view();
}

void addCountriesBeyondList(CountryTable& table) {
    std::vector<NamedCode> missing;
    for (const NamedCode& entry : kFullNames)
        if (entry.code != kUsCode && !table.findSlot(entry.code)) missing.push_back(entry);
    std::stable_sort(missing.begin(), missing.end(),
                     [](const NamedCode& a, const NamedCode& b) { return a.name < b.name; });
    for (const NamedCode& entry : missing) table.addSlot(entry.code, entry.name);
}

CountryTable parseCountryTable(std::string_view content, const std::string& fileName) {
    CountryTable table;
    int lineNumber = 0;
    forEachLine(content, [&](std::string_view line) {
        ++lineNumber;
        if (lineNumber > kSlotCount) {
            throw Error(ErrorKind::BadData, ErrorCode::CountryListTooLong,
                        {.file = fileName,
                         .line = lineNumber,
                         .number = static_cast<std::uint64_t>(kSlotCount)});
        }
        if (line.size() < 2) {
            throw Error(ErrorKind::BadData, ErrorCode::CountryLineTooShort,
                        {.file = fileName, .line = lineNumber});
        }
        table.setSlot(lineNumber - 1, line);
    });
    if (lineNumber == 0) {
        throw Error(ErrorKind::BadData, ErrorCode::CountryListEmpty, {.file = fileName});
    }
    return table;
}

CountryTable loadCountryTable(const std::filesystem::path& dataDir) {
    const auto path = dataDir / std::string(kCountryFileName);
    return parseCountryTable(readWholeFile(path, 1 << 20), path.string());
}

void appendWindows1252AsUtf8(std::string& out, std::string_view text) {
    // Code points of 0x80-0x9F; the bytes 1252 leaves undefined keep their value.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    // Nearly every text is plain ASCII: eight bytes at a time tell it, and it
    // is then copied as it stands.
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080u) break;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    if (i == text.size()) {
        out.append(text);
        return;
    }
    out.reserve(out.size() + text.size());
    std::size_t ascii = 0;  // start of the pending run of plain ASCII, copied in one piece
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) continue;
        out.append(text.data() + ascii, i - ascii);
        ascii = i + 1;
        const char32_t cp = c < 0xA0 ? kHigh[c - 0x80] : c;
        if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    out.append(text.data() + ascii, text.size() - ascii);
}

std::string windows1252ToUtf8(std::string_view text) {
    std::string out;
    appendWindows1252AsUtf8(out, text);
    return out;
}

}  // namespace ipcountry::lookup
