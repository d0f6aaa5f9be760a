#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "common/error_text.h"
#include "formats/row_writer.h"
#include "lookup/range_file.h"

namespace ipcountry::batch {

// An operand of find in a message, cut to this many characters: a message
// stays one short line whatever was typed. File names are given whole.
inline constexpr std::size_t kLongestOperandInMessage = 64;

inline std::string operandInMessage(std::string_view operand) {
    if (operand.size() <= kLongestOperandInMessage) return std::string(operand);
    return std::string(operand.substr(0, kLongestOperandInMessage)) + "...";
}

// The driver's one form of message, as compilers and grep write theirs:
// "ipcountry-batch: WHERE: problem", where WHERE is FILE or FILE:LINE (an
// operand of find names itself; standard input is "-"), or nothing when the
// problem names its own file. A `problem` that already begins with WHERE's
// file ("FILE: reason") is not named twice. It goes out after the rows
// written before it when both streams go to one place (see Output).
inline void sayProblem(Output& out, std::string_view file, std::int64_t line,
                       std::string_view problem) {
    std::string& text = out.messages();
    text += "ipcountry-batch: ";
    if (!file.empty()) {
        if (problem.starts_with(file) && problem.substr(file.size()).starts_with(": "))
            problem.remove_prefix(file.size() + 2);
        text += file;
        if (line > 0) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, line).ptr;
            text += ':';
            text.append(digits, end);
        }
        text += ": ";
    }
    text += problem;
    text += '\n';
    out.messageDone();
}

// The command line's words for an error of the core, shared with the data
// programs.
using output::problemText;

// The problem of a failing line of a list.
inline std::string problemText(const analysis::FailingLine& line) {
    return problemText(line.error);
}

// The note under statistics that leave out the inputs in `unread`.
inline void sayStatisticsIncomplete(Output& out, const std::vector<std::string>& unread) {
    std::string problem = "the statistics are incomplete: they leave out";
    for (std::size_t i = 0; i < unread.size(); ++i) {
        problem += i == 0 ? " " : ", ";
        problem += unread[i];
    }
    problem += ", not read to the end";
    sayProblem(out, "", 0, problem);
}

// A damaged saved index beside a range file: the run read the text instead,
// and says so once, with whether a sound index took its place. A warning:
// the answers are the text's, so the exit status stays what the run made it.
template <class Family>
void saySavedIndexDamaged(Output& out, const lookup::BasicRangeFile<Family>& ranges) {
    if (ranges.savedIndex() != lookup::SavedIndex::Damaged) return;
    const std::string text = ranges.path().string();
    sayProblem(out, lookup::rangeIndexPath(ranges.path()).string(), 0,
               ranges.indexSaved()
                   ? "damaged saved index, rebuilt from " + text
                   : "damaged saved index, not used (" + text + " was read instead)");
}

// Told after each block read and whenever the input pauses: what waits goes
// out then, so that a pipe fed now and then (tail -f | find -) or someone
// typing gets the rows and messages of their lines as the lines come, not
// when 64 KiB have gathered. A run whose rows nobody can take any more (a
// full disk, a closed output, a reader that left) ends there.
class FlushWhileWaiting final : public analysis::Progress {
public:
    explicit FlushWhileWaiting(Output& out) : m_out(out) {}
    bool update(std::uint64_t, std::uint64_t) override {
        m_out.flush();
        return Output::writeError() == 0;
    }

private:
    Output& m_out;
};

}  // namespace ipcountry::batch
