#pragma once

#include <cstddef>
#include <string_view>

namespace ipcountry::analysis {

// The port rule of every analysis. A port is written right behind its
// address: a colon and the digits after it, of which five at most are taken
// (ports reach 65535; a longer number gives its first five). A colon that
// ends the line is a port of its own, ":" alone; a colon followed by anything
// but a digit is no port.
inline constexpr std::size_t kMaxPortDigits = 5;

inline bool isPortDigit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

// The port that begins at text[0], a colon, where `text` runs to the end of
// the line; empty when there is none.
inline std::string_view portAt(std::string_view text) noexcept {
    std::size_t digits = 0;
    while (digits < kMaxPortDigits && digits + 1 < text.size() && isPortDigit(text[digits + 1]))
        ++digits;
    return digits > 0 || text.size() == 1 ? text.substr(0, digits + 1) : std::string_view();
}

// Whether `text` is a port as a whole: a colon and one to five digits.
inline bool isWholePort(std::string_view text) noexcept {
    return text.size() > 1 && text[0] == ':' && portAt(text) == text;
}

}  // namespace ipcountry::analysis
