#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "analysis/row_rules.h"
#include "batch_messages.h"
#include "batch_options.h"
#include "formats/row_writer.h"
#include "lookup/network_set.h"

namespace ipcountry::batch {

// Prompts become messages on standard error, each naming its file (and its
// line); the answer comes from the options. `atOnce`: each message is written
// as it comes, for a caller that writes standard output its own way.
class BatchPrompter final : public analysis::Prompter {
public:
    BatchPrompter(Output& out, bool stopOnError, bool atOnce = false)
        : m_out(out), m_stopOnError(stopOnError), m_atOnce(atOnce) {}

    void startFile(std::string_view path) override { m_file = path; }
    // True once a prompt was answered No, or a file failed under
    // --stop-on-error: the whole run ends there.
    bool toldToStop() const { return m_toldToStop; }
    // True once a line was wrong: the run's exit status says so, as find's does.
    bool sawWrongLine() const { return m_wrongLine; }

    bool askContinue(const analysis::FailingLine& line) override {
        // "Do you want continue?" is answered by the options.
        m_wrongLine = true;
        say(line.lineNumber, problemText(line));
        m_toldToStop = m_stopOnError;
        return !m_stopOnError;
    }
    void showError(const lookup::Error& error) override {
        m_toldToStop = m_stopOnError;
        say(0, problemText(error));
    }

private:
    void say(std::int64_t line, std::string_view problem) {
        sayProblem(m_out, m_file, line, problem);
        if (m_atOnce) m_out.flush();
    }

    Output& m_out;
    bool m_stopOnError;
    bool m_atOnce;
    bool m_wrongLine = false;
    bool m_toldToStop = false;
    std::string m_file;
};

// A network of --only or --exclude that cannot be read: wrong usage.
class BadNetwork : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The row rules the options ask for, with the network sets they point into.
// Throws BadNetwork naming the network, or the file and line of a list.
class RowChoice {
public:
    explicit RowChoice(const Options& options);
    RowChoice(const RowChoice&) = delete;
    RowChoice& operator=(const RowChoice&) = delete;
    analysis::RowRules rules;
    // The networks of --exclude, sealed (empty when none was given).
    const lookup::NetworkSet& excluded() const noexcept { return m_exclude; }

private:
    lookup::NetworkSet m_only;
    lookup::NetworkSet m_exclude;
};

// `formatted` and `unformatted`: the files in the order given, their rows one
// after the other as if they were one file, and one statistics block over all
// of them. A file that cannot be read is reported and the next one is read;
// the result is then 1, and the statistics count the others and say which
// they leave out (none when the run ended early). Returns the exit status.
int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths);

}  // namespace ipcountry::batch
