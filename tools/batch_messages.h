#pragma once

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

#include "formats/row_writer.h"

namespace ipcountry::batch {

// A name in a message cut to this many characters: an operand or a line
// can be huge, a message stays one short line.
inline constexpr std::size_t kLongestNameInMessage = 64;

inline std::string nameInMessage(std::string_view name) {
    if (name.size() <= kLongestNameInMessage) return std::string(name);
    return std::string(name.substr(0, kLongestNameInMessage)) + "...";
}

// The driver's one form of message, as compilers and grep write theirs:
// "ipcountry-batch: WHERE: problem", where WHERE is FILE or FILE:LINE (an
// operand of find names itself; standard input is "-"), or nothing when the
// problem names its own file. A `problem` that already begins with WHERE's
// file ("FILE: reason") is not named twice. The rows written before go out
// first, so that both streams in one place keep their order.
inline void sayProblem(Output& out, std::string_view file, std::int64_t line,
                       std::string_view problem) {
    out.flush();
    std::string text = "ipcountry-batch: ";
    if (!file.empty()) {
        const std::string name = nameInMessage(file);
        const bool named = problem.starts_with(name + ": ");
        if (named) problem.remove_prefix(name.size() + 2);
        text += name;
        if (line > 0) text += ":" + std::to_string(line);
        text += ": ";
    }
    text += problem;
    text += '\n';
    std::cerr << text << std::flush;
}

}  // namespace ipcountry::batch
