#pragma once

// A deliberately plain transcription of the free-text rules: 1-based
// positions, substrings and texts, no cleverness, so that the fast scanner can
// be checked against it on many random lines (and by a fuzz target).

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace ipcountry::analysis::reference {

struct Found {
    std::string dottedText;
    std::string portText;
    std::string keyText;
    bool operator==(const Found&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << '{' << f.dottedText << " | " << f.portText << " | " << f.keyText << '}';
}

inline bool isDigits(const std::string& text) {
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Mid(text, start, length) with 1-based start; shorter near the end.
inline std::string mid(const std::string& text, long start, long length) {
    if (start < 1 || start > static_cast<long>(text.size()) || length <= 0)
        return {};
    return text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length));
}

inline long instr(long from, const std::string& text, char c) {
    if (from < 1)
        from = 1;
    for (long i = from; i <= static_cast<long>(text.size()); ++i)
        if (text[static_cast<std::size_t>(i - 1)] == c)
            return i;
    return 0;
}

// The octet test; the empty text passes isDigits but has no value.
inline bool octetPasses(const std::string& candidate, std::string& hex) {
    if (candidate == "t" || candidate.empty() || !isDigits(candidate))
        return false;
    const int value = std::stoi(candidate);
    if (value > 255)
        return false;
    const char* digits = "0123456789ABCDEF";
    hex = {digits[value >> 4], digits[value & 15]};
    return true;
}

inline std::vector<Found> scan(const std::string& line) {
    std::vector<Found> found;
    long scanPos = 1;
    std::string dottedText, keyText;
    long lastDot = 0;  // the dot after the last gathered octet
    for (;;) {
        const long dotPos = instr(scanPos, line, '.');
        if (dotPos == 0)
            return found;
        bool accepted = false;
        long width = 3;
        std::string candidate, hex;
        for (; width >= 1; --width) {
            candidate = dotPos - width >= 1 ? mid(line, dotPos - width, width) : std::string("t");
            if (octetPasses(candidate, hex)) {
                accepted = true;
                break;
            }
        }
        if (!accepted) {
            dottedText.clear();
            keyText.clear();
            scanPos = dotPos + 1;
            continue;
        }
        // Octets stand next to each other: one that does not begin right after
        // the previous dot starts a new address.
        if (!keyText.empty() && dotPos - width != lastDot + 1) {
            dottedText.clear();
            keyText.clear();
        }
        dottedText += candidate + ".";
        keyText += hex;
        lastDot = dotPos;
        if (keyText.size() != 6) {
            scanPos = dotPos + 1;
            continue;
        }
        accepted = false;
        for (width = 3; width >= 1; --width) {
            candidate = mid(line, dotPos + 1, width);
            if (octetPasses(candidate, hex)) {
                accepted = true;
                break;
            }
        }
        if (!accepted) {
            dottedText.clear();
            keyText.clear();
            scanPos = dotPos + 1;
            continue;
        }
        dottedText += candidate;
        keyText += hex;
        std::string portText;
        const long colon = instr(dotPos + width, line, ':');
        if (colon != 0 && colon - (dotPos + width) < 3) {
            for (long portWidth = 5; portWidth >= 1; --portWidth) {
                const std::string port = mid(line, colon + 1, portWidth);
                if (isDigits(port)) {
                    portText = ":" + port;
                    break;
                }
            }
        }
        found.push_back(Found{dottedText, portText, keyText});
        dottedText.clear();
        keyText.clear();
        scanPos = dotPos + 1;
    }
}

}  // namespace ipcountry::analysis::reference
