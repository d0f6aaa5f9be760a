#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the three readers of StatsMerger share: how a line is refused and how
// its numbers are read.
namespace ipcountry::batch::stats_lines {

// Thrown for a line that is not one the driver prints; the why is told with
// the file and line.
class Malformed {
public:
    explicit Malformed(std::string why) : m_why(std::move(why)) {}
    const std::string& why() const { return m_why; }

private:
    std::string m_why;
};

inline std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// "H:mm:ss", as the driver prints the elapsed time (hours run past 24).
inline std::optional<double> clockSeconds(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || text.size() != colon + 6 || text[colon + 3] != ':')
        return std::nullopt;
    const auto hours = wholeNumber(text.substr(0, colon));
    const auto minutes = wholeNumber(text.substr(colon + 1, 2));
    const auto seconds = wholeNumber(text.substr(colon + 4, 2));
    if (!hours || !minutes || !seconds || *minutes > 59 || *seconds > 59) return std::nullopt;
    // In floating point: hours of any size must not overflow.
    return static_cast<double>(*hours) * 3600 + static_cast<double>(*minutes * 60 + *seconds);
}

// Whether `fields` are exactly `names`.
template <class Names>
bool fieldsAre(const std::vector<std::string>& fields, const Names& names) {
    if (fields.size() != names.size()) return false;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i] != names[i]) return false;
    return true;
}

}  // namespace ipcountry::batch::stats_lines
