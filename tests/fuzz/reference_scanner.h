#pragma once

// A deliberately slow, literal reading of the free-text rules, step by step
// with 1-based positions, to check the fast scanner against. It shares no
// code with it.

#include <cstdint>
#include <string>
#include <vector>

namespace ipcountry::reference {

struct Found {
    std::string dotted;
    std::string port;
    std::uint32_t address = 0;
    bool operator==(const Found&) const = default;
};

inline bool isDigits(const std::string& s) {
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The octet test; the empty text has no value and fails.
inline bool octet(const std::string& s, int& value) {
    if (s.empty() || !isDigits(s)) return false;
    value = std::stoi(s);
    return value <= 255;
}

// Characters from 1-based position `from`, at most `count`, fewer at the end.
inline std::string mid(const std::string& line, long from, long count) {
    if (from < 1 || from > static_cast<long>(line.size())) return "";
    return line.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(count));
}

inline long findFrom(const std::string& line, char c, long from) {
    if (from < 1) from = 1;
    if (from > static_cast<long>(line.size())) return 0;
    const auto p = line.find(c, static_cast<std::size_t>(from - 1));
    return p == std::string::npos ? 0 : static_cast<long>(p) + 1;
}

inline std::vector<Found> scanLine(const std::string& line) {
    std::vector<Found> rows;
    long scanPos = 1;
    std::string dotted;
    std::vector<int> octets;
    long previousDot = 0;
    for (;;) {
        const long dotPos = findFrom(line, '.', scanPos);
        if (dotPos == 0) return rows;
        int value = 0;
        long width = 3;
        std::string accepted;
        bool ok = false;
        for (; width >= 1; --width) {
            const std::string candidate =
                dotPos - width >= 1 ? mid(line, dotPos - width, width) : "t";
            if (octet(candidate, value)) {
                accepted = candidate;
                ok = true;
                break;
            }
        }
        if (!ok) {
            dotted.clear();
            octets.clear();
            scanPos = dotPos + 1;
            continue;
        }
        // The octets of an address stand next to each other.
        if (!octets.empty() && dotPos - width != previousDot + 1) {
            dotted.clear();
            octets.clear();
        }
        dotted += accepted + ".";
        octets.push_back(value);
        previousDot = dotPos;
        if (octets.size() != 3) {
            scanPos = dotPos + 1;
            continue;
        }
        ok = false;
        for (width = 3; width >= 1; --width) {
            const std::string candidate = mid(line, dotPos + 1, width);
            if (octet(candidate, value)) {
                accepted = candidate;
                ok = true;
                break;
            }
        }
        if (!ok) {
            dotted.clear();
            octets.clear();
            scanPos = dotPos + 1;
            continue;
        }
        dotted += accepted;
        octets.push_back(value);
        std::string port;
        const long colon = findFrom(line, ':', dotPos + width);
        if (colon != 0 && colon - (dotPos + width) < 3) {
            for (long n = 5; n >= 1; --n) {
                const std::string candidate = mid(line, colon + 1, n);
                if (isDigits(candidate)) {
                    port = ":" + candidate;
                    break;
                }
            }
        }
        rows.push_back(Found{dotted, port,
                             static_cast<std::uint32_t>(octets[0]) << 24 |
                                 static_cast<std::uint32_t>(octets[1]) << 16 |
                                 static_cast<std::uint32_t>(octets[2]) << 8 |
                                 static_cast<std::uint32_t>(octets[3])});
        dotted.clear();
        octets.clear();
        scanPos = dotPos + 1;
    }
}

}  // namespace ipcountry::reference
