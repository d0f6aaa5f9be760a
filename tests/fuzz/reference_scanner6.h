#pragma once

// A deliberately plain reading of the IPv6 free-text rules over a whole line:
// cut the line into runs, then judge each run by the characters around it. It
// shares no code with the streaming scanner.

#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ipcountry::reference {

struct Found6 {
    std::string text;
    std::string port;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint64_t start = 0;
    bool zoned = false;
    bool operator==(const Found6&) const = default;
};

inline bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline bool isRunChar(char c) { return isHexDigit(c) || c == ':'; }
inline bool isWordChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool isNonHexLetter(char c) { return isWordChar(c) && !isHexDigit(c); }

inline bool readIpv6(const std::string& text, Found6& found) {
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return false;
    found.high = found.low = 0;
    for (int i = 0; i < 8; ++i) found.high = found.high << 8 | bytes[i];
    for (int i = 8; i < 16; ++i) found.low = found.low << 8 | bytes[i];
    return true;
}

inline std::vector<Found6> scanLine6(const std::string& line) {
    std::vector<Found6> rows;
    // The character at a position, or 0 outside the line (0 is no run, word or mark).
    auto at = [&line](std::size_t i) { return i < line.size() ? line[i] : '\0'; };
    std::size_t s = 0;
    while (s < line.size()) {
        if (!isRunChar(line[s])) {
            ++s;
            continue;
        }
        std::size_t e = s;
        while (e < line.size() && isRunChar(line[e])) ++e;
        const std::string run = line.substr(s, e - s);
        const char b1 = s >= 1 ? line[s - 1] : '\0';
        const char b2 = s >= 2 ? line[s - 2] : '\0';
        const char a1 = at(e);
        const char a2 = at(e + 1);
        const std::size_t runStart = s;
        s = e;

        if (isNonHexLetter(b1) || b1 == '%' || b1 == ']' || (b1 == '.' && isWordChar(b2))) continue;
        if (isNonHexLetter(a1) || (a1 == '.' && isWordChar(a2))) continue;
        Found6 found;
        bool whole = true;
        if (readIpv6(run, found)) {
            found.text = run;
        } else if (run.back() == ':' && readIpv6(run.substr(0, run.size() - 1), found)) {
            found.text = run.substr(0, run.size() - 1);
            whole = false;
        } else {
            continue;
        }
        if (found.text.find_first_not_of(':') == std::string::npos) continue;
        found.start = runStart;
        found.zoned = a1 == '%' && isWordChar(a2);
        if (whole && b1 == '[' && a1 == ']' && a2 == ':') {
            std::size_t digits = 0;
            while (digits < 5 && at(e + 2 + digits) >= '0' && at(e + 2 + digits) <= '9') ++digits;
            if (digits > 0)
                found.port = ":" + line.substr(e + 2, digits);
            else if (e + 2 == line.size())
                found.port = ":";
        }
        rows.push_back(found);
    }
    return rows;
}

}  // namespace ipcountry::reference
