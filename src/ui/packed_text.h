#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ipcountry::ui {

// The IP and Port texts of a results row as four bits a character, first
// character lowest, 0 ending the text: the characters '-' to ':' (the
// digits, '.', '/', ':' and '-') and the blank. Every IPv4 address the
// scans find and most formatted lists pack; a text packs one way only, so
// equal packed values mean equal texts. Packing runs once per row on the
// window's thread, so it takes eight characters at a time where it can.
namespace packed {

// The characters by their code; 0 ends the text.
inline constexpr char kChars[16] = {'\0', '-', '.', '/', '0', '1', '2', '3',
                                    '4',  '5', '6', '7', '8', '9', ':', ' '};

inline constexpr std::array<std::uint8_t, 256> kCodes = [] {
    std::array<std::uint8_t, 256> codes{};
    for (std::uint8_t code = 1; code < 16; ++code) {
        codes[static_cast<unsigned char>(kChars[code])] = code;
    }
    return codes;
}();

// One character at a time: the blank, and texts shorter than four.
template <class Int>
bool packEach(std::string_view text, Int& packed) {
    Int value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Int code = kCodes[static_cast<unsigned char>(text[i])];
        if (code == 0) {
            return false;
        }
        value |= code << (4 * i);
    }
    packed = value;
    return true;
}

inline constexpr std::uint64_t kEachByte = 0x0101010101010101;

// Eight characters in the bytes of `bytes` (first lowest) to their codes in
// the low nibbles of the same bytes; false unless every one is '-' to ':'.
inline bool codesOf8(std::uint64_t bytes, std::uint64_t& codes) {
    constexpr std::uint64_t kHigh = 0x80 * kEachByte;
    // Below 0x80 a byte plus 0x53 reaches 0x80 from '-' (0x2D) on, and plus
    // 0x45 from past ':' (0x3A) on; no sum carries into the next byte.
    const bool inRange = (bytes & kHigh) == 0 && ((bytes + 0x53 * kEachByte) & kHigh) == kHigh &&
                         ((bytes + 0x45 * kEachByte) & kHigh) == 0;
    codes = bytes - 0x2C * kEachByte;
    return inRange;
}

// The eight low nibbles of the bytes of `codes`, side by side.
inline std::uint32_t nibblesOf8(std::uint64_t codes) {
    codes = (codes | (codes >> 4)) & 0x00FF00FF00FF00FF;
    codes = (codes | (codes >> 8)) & 0x0000FFFF0000FFFF;
    codes = (codes | (codes >> 16)) & 0x00000000FFFFFFFF;
    return static_cast<std::uint32_t>(codes);
}

template <class Int>
Int loadBytes(const char* at) {
    Int bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

// Packs `text` into `packed` when every character has a code and it fits
// (8 characters for 32 bits, 16 for 64).
template <class Int>
bool pack(std::string_view text, Int& packed) {
    static_assert(sizeof(Int) == 4 || sizeof(Int) == 8);
    const std::size_t n = text.size();
    if (n > 2 * sizeof(Int)) {
        return false;
    }
    if constexpr (std::endian::native == std::endian::little) {
        const char* p = text.data();
        std::uint64_t codes = 0;
        if (n >= 8) {
            // The first eight and the last eight, which overlap unless n is 16.
            std::uint64_t tail = 0;
            const bool head = codesOf8(loadBytes<std::uint64_t>(p), codes);
            if (codesOf8(loadBytes<std::uint64_t>(p + n - 8), tail) && head) {
                const std::uint64_t last = std::uint64_t{nibblesOf8(tail)} >> (4 * (16 - n));
                packed = static_cast<Int>(nibblesOf8(codes) | (last << 32));
                return true;
            }
        } else if (n >= 4) {
            // The first four and the last four, in one word.
            const std::uint64_t both = loadBytes<std::uint32_t>(p) |
                                       std::uint64_t{loadBytes<std::uint32_t>(p + n - 4)} << 32;
            if (codesOf8(both, codes)) {
                const std::uint32_t nibbles = nibblesOf8(codes);
                packed =
                    static_cast<Int>((nibbles & 0xFFFF) | ((nibbles >> 16) >> (4 * (8 - n))) << 16);
                return true;
            }
        }
    }
    return packEach(text, packed);
}

template <class Int>
void appendUnpacked(Int packed, std::string& out) {
    for (; packed != 0; packed >>= 4) {
        out.push_back(kChars[packed & 0xF]);
    }
}

}  // namespace packed
}  // namespace ipcountry::ui
