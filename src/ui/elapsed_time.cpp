#include "ui/elapsed_time.h"

#include <cctype>
#include <cstdint>

namespace ipcountry::ui {

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

}  // namespace ipcountry::ui
