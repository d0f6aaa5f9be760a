#include "analysis/statistics.h"

#include <cctype>

namespace ipcountry::analysis {

namespace {

struct Pattern {
    std::string text;
    bool valid = false;  // holds hours, minutes and seconds
    bool twelveHour = false;
};

// Removes the time-zone parts (runs of unquoted t) with the blank that joins
// each to the rest, and tells whether what is left can show a duration.
Pattern preparePattern(std::string_view pattern) {
    Pattern prepared;
    bool hours = false, minutes = false, seconds = false;
    bool quoted = false;
    std::string& out = prepared.text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\'') {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == 't') {
            while (i + 1 < pattern.size() && pattern[i + 1] == 't') ++i;
            if (!out.empty() && out.back() == ' ')
                out.pop_back();
            else if (i + 1 < pattern.size() && pattern[i + 1] == ' ')
                ++i;
            continue;
        }
        if (!quoted) {
            hours = hours || c == 'h' || c == 'H';
            minutes = minutes || c == 'm';
            seconds = seconds || c == 's';
            prepared.twelveHour = prepared.twelveHour || c == 'a' || c == 'A';
        }
        out += c;
    }
    prepared.valid = hours && minutes && seconds;
    return prepared;
}

void appendNumber(std::string& out, std::int64_t value, int minDigits) {
    const std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()); i < minDigits; ++i) out += '0';
    out += digits;
}

std::string caseOf(std::string_view text, bool upper) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                    : std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string render(const Pattern& pattern, std::chrono::nanoseconds elapsed,
                   const StatsLocale& locale) {
    using namespace std::chrono;
    if (elapsed < nanoseconds::zero()) elapsed = nanoseconds::zero();
    const std::int64_t totalMs = duration_cast<milliseconds>(elapsed).count();
    const std::int64_t hours = totalMs / 3'600'000;
    const std::int64_t minutes = totalMs / 60'000 % 60;
    const std::int64_t seconds = totalMs / 1000 % 60;
    const std::int64_t millis = totalMs % 1000;
    const std::int64_t hourOfDay = hours % 24;
    const std::int64_t hour12 = hourOfDay % 12 == 0 ? 12 : hourOfDay % 12;

    const std::string& p = pattern.text;
    std::string out;
    for (std::size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '\'') {
            // Quoted text is literal; two quotes in a row stand for one.
            if (i + 1 < p.size() && p[i + 1] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            std::size_t j = i + 1;
            for (; j < p.size(); ++j) {
                if (p[j] == '\'') {
                    if (j + 1 < p.size() && p[j + 1] == '\'') {
                        out += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                out += p[j];
            }
            i = j + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < p.size() && p[i + run] == c) ++run;
        switch (c) {
            case 'h':
            case 'H':
            case 'm':
            case 's': {
                const std::size_t used = run >= 2 ? 2 : 1;
                std::int64_t value = c == 'm' ? minutes : c == 's' ? seconds : hours;
                if (c == 'h' && pattern.twelveHour) value = hour12;
                appendNumber(out, value, static_cast<int>(used));
                i += used;
                continue;
            }
            case 'z': {
                const std::size_t used = run >= 3 ? 3 : 1;
                if (used == 3) {
                    appendNumber(out, millis, 3);
                } else {
                    std::string digits;
                    appendNumber(digits, millis, 3);
                    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
                    out += digits;
                }
                i += used;
                continue;
            }
            case 'a':
            case 'A': {
                const bool upper = c == 'A';
                const std::string& text = hourOfDay < 12 ? locale.amText : locale.pmText;
                out += caseOf(text, upper);
                i += (i + 1 < p.size() && (p[i + 1] == 'p' || p[i + 1] == 'P')) ? 2 : 1;
                continue;
            }
            default:
                out += c;
                ++i;
        }
    }
    return out;
}

}  // namespace

std::string formatElapsed(std::chrono::nanoseconds elapsed, std::string_view pattern,
                          const StatsLocale& locale) {
    Pattern prepared = preparePattern(pattern);
    if (!prepared.valid) prepared = preparePattern("H:mm:ss");
    return render(prepared, elapsed, locale);
}

std::string formatElapsed(std::chrono::nanoseconds elapsed, std::string_view pattern) {
    return formatElapsed(elapsed, pattern, StatsLocale{});
}

std::int64_t shareTenths(std::int64_t hits, std::int64_t total) {
    // Tenths of a percent, rounded half away from zero, in exact arithmetic:
    // a binary fraction would put 1 of 16 (6.25) on either side of the half.
    const bool negative = hits < 0;
    const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(hits)
                                             : static_cast<std::uint64_t>(hits);
    const auto whole = static_cast<std::uint64_t>(total);
    // Split off the whole multiples first, so that nothing overflows for any
    // grid that fits in memory.
    const std::uint64_t tenths =
        magnitude / whole * 1000 + (magnitude % whole * 2000 + whole) / (2 * whole);
    return negative ? -static_cast<std::int64_t>(tenths) : static_cast<std::int64_t>(tenths);
}

std::string formatShare(std::int64_t hits, std::int64_t total, std::string_view decimalSeparator) {
    if (total <= 0) return {};
    const std::int64_t tenths = shareTenths(hits, total);
    const std::uint64_t magnitude = tenths < 0
                                        ? std::uint64_t{0} - static_cast<std::uint64_t>(tenths)
                                        : static_cast<std::uint64_t>(tenths);
    std::string out;
    if (tenths < 0) out += '-';
    out += std::to_string(magnitude / 10);
    out += decimalSeparator;
    out += static_cast<char>('0' + static_cast<int>(magnitude % 10));
    out += '%';
    return out;
}

Statistics buildStatistics(const lookup::CountryTable& table, std::int64_t addresses,
                           std::chrono::nanoseconds elapsed, const StatsLocale& locale) {
    Statistics stats;
    stats.total = addresses < 0 ? 0 : addresses;
    stats.elapsedText = formatElapsed(elapsed, locale.longTimePattern, locale);
    for (int slot = 0; slot < lookup::kSlotCount; ++slot) {
        const std::int64_t hits = table.slotHits(slot);
        if (hits <= 0) continue;
        StatsRow row;
        row.slot = slot;
        row.name = lookup::windows1252ToUtf8(table.slotName(slot));
        row.hits = hits;
        row.shareTenths = stats.total > 0 ? shareTenths(hits, stats.total) : 0;
        row.count = std::to_string(hits);
        row.share = formatShare(hits, stats.total, locale.decimalSeparator);
        stats.rows.push_back(std::move(row));
    }
    return stats;
}

}  // namespace ipcountry::analysis
