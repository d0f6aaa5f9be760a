#pragma once

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "batch_options.h"
#include "batch_output.h"

namespace ipcountry::batch {

// The driver's words for a failing line or a run-time error: the window's
// prompt without its question.
inline std::string wrongDataMessage(std::string_view reason) {
    std::string text = "Error due to wrong data entered! ";
    text += reason;
    return text;
}

// Prompts become messages on standard error; the answer comes from the
// options. With several files each message names its file first.
class BatchPrompter final : public analysis::Prompter {
public:
    BatchPrompter(Output& out, bool stopOnError) : m_out(out), m_stopOnError(stopOnError) {}

    void setFile(std::string name) { m_file = std::move(name); }
    // True once a prompt was answered No, or a file failed under
    // --stop-on-error: the whole run ends there.
    bool toldToStop() const { return m_toldToStop; }

    bool askContinue(const analysis::FailingLine& line) override {
        // "Do you want continue?" is answered by the options.
        m_out.flush();  // rows before the message stay before it when both streams go to one place
        if (!m_file.empty()) std::cerr << m_file << ": ";
        if (line.lineNumber > 0) std::cerr << "line " << line.lineNumber << ": ";
        std::cerr << wrongDataMessage(line.reason) << '\n';
        m_toldToStop = m_stopOnError;
        return !m_stopOnError;
    }
    void showError(std::string_view reason) override {
        m_toldToStop = m_stopOnError;
        m_out.flush();
        if (!m_file.empty()) std::cerr << m_file << ": ";
        std::cerr << wrongDataMessage(reason) << '\n';
    }

private:
    Output& m_out;
    bool m_stopOnError;
    bool m_toldToStop = false;
    std::string m_file;
};

// `formatted` and `unformatted`: the files in the order given, their rows one
// after the other as if they were one file, and one statistics block over all
// of them when every file was read to its end. A file that cannot be read is
// reported and the next one is read; the result is then 1. Returns the exit
// status.
int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths);

}  // namespace ipcountry::batch
