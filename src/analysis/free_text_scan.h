#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace ipcountry::analysis {

// One address found in a line of free text. The texts are views into the line.
struct FoundAddress {
    std::string_view dottedText;  // the address as written, leading zeros kept
    std::string_view portText;    // empty, ":" alone, or ":" and one to five digits
    std::uint32_t address = 0;    // the four octets, most significant first
};

namespace detail {

inline bool isDigit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

// The octet test: one to three digits whose value is at most 255 (leading
// zeros allowed). Returns the value, or -1 when the candidate fails.
inline int octetValue(const char* text, std::size_t length) noexcept {
    int value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (!isDigit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return length != 0 && value <= 255 ? value : -1;
}

}  // namespace detail

// Finds the addresses of one line (without its line end) and hands each to
// `onAddress(const FoundAddress&)`, in the order of their third dots.
//
// The scan walks from dot to dot. Before each of the first three dots it takes
// the widest run of 3, 2 or 1 characters ending at the dot that reads as an
// octet: of a longer run of digits that means the digits nearest the dot
// (999.1.1.1 gives 99.1.1.1). The octets of one address must stand next to
// each other, each beginning right after the previous dot: otherwise an
// earlier dot on the line ("HTTP/1.1 ... 10.1.2.3", a timestamp's fraction)
// would lend its digits to the address. An octet that does not continue the
// address starts a new one. After the third dot the fourth octet is the widest
// of 3, 2, 1 characters that passes; a port follows when a colon stands
// directly after it or one character later, and is the run of up to five
// digits behind that colon (ports reach 65535). After an address the search
// goes on right after its third dot, so its fourth octet may begin the next.
template <class OnAddress>
void scanLine(std::string_view line, OnAddress&& onAddress) {
    const char* const text = line.data();
    const std::size_t size = line.size();
    std::size_t scanPos = 0;      // where the search for the next dot begins
    int gathered = 0;             // octets of the address being built (0 to 3)
    std::size_t start = 0;        // where that address begins
    std::size_t previousDot = 0;  // the dot after its last octet
    std::uint32_t address = 0;

    while (scanPos < size) {
        const void* hit = std::memchr(text + scanPos, '.', size - scanPos);
        if (hit == nullptr)
            return;
        const std::size_t dot = static_cast<std::size_t>(static_cast<const char*>(hit) - text);
        scanPos = dot + 1;

        // The octet before the dot: widest candidate first; where fewer
        // characters stand before the dot than the width, that width fails.
        int value = -1;
        std::size_t width = 3;
        for (; width >= 1; --width) {
            if (dot >= width && (value = detail::octetValue(text + dot - width, width)) >= 0)
                break;
        }
        if (value < 0) {
            gathered = 0;
            continue;
        }
        const std::size_t octetStart = dot - width;
        if (gathered > 0 && octetStart != previousDot + 1)
            gathered = 0;
        if (gathered == 0) {
            start = octetStart;
            address = 0;
        }
        address = (address << 8) | static_cast<std::uint32_t>(value);
        previousDot = dot;
        if (++gathered < 3)
            continue;

        // Three octets: the fourth begins right after this (third) dot. Near
        // the line's end the candidates are shorter; an empty one (the dot
        // ends the line) fails like any other.
        gathered = 0;
        const std::size_t rest = size - dot - 1;
        int fourth = -1;
        std::size_t fourthWidth = 3;
        for (; fourthWidth >= 1; --fourthWidth) {
            const std::size_t length = fourthWidth < rest ? fourthWidth : rest;
            if ((fourth = detail::octetValue(text + dot + 1, length)) >= 0)
                break;
        }
        if (fourth < 0)
            continue;
        const std::size_t octetEnd = dot + 1 + (fourthWidth < rest ? fourthWidth : rest);

        // The port: a colon right after the fourth octet or one character
        // later. The colon is searched from the fourth octet's last position
        // of its accepted width; that octet holds digits, so the colon can
        // only be one or two places beyond it.
        std::string_view port;
        const std::size_t portFrom = dot + fourthWidth;  // last position of the accepted width
        for (std::size_t offset = 1; offset <= 2; ++offset) {
            const std::size_t colon = portFrom + offset;
            if (colon >= size)
                break;
            if (text[colon] != ':')
                continue;
            std::size_t digits = 0;
            const std::size_t available = size - colon - 1;
            while (digits < 5 && digits < available && detail::isDigit(text[colon + 1 + digits]))
                ++digits;
            // ":" alone when the colon ends the line; no port when a non-digit follows it.
            if (digits > 0 || available == 0)
                port = std::string_view(text + colon, digits + 1);
            break;
        }

        FoundAddress found;
        found.dottedText = std::string_view(text + start, octetEnd - start);
        found.portText = port;
        found.address = (address << 8) | static_cast<std::uint32_t>(fourth);
        onAddress(found);
    }
}

// The same, collected; for tests and tools.
inline std::vector<FoundAddress> scanLine(std::string_view line) {
    std::vector<FoundAddress> found;
    scanLine(line, [&found](const FoundAddress& address) { found.push_back(address); });
    return found;
}

}  // namespace ipcountry::analysis
