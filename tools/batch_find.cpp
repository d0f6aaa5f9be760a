#include "batch_find.h"

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/address_finder.h"
#include "analysis/analysis.h"
#include "analysis/line_reader.h"
#include "analysis/ordered_pipeline.h"
#include "batch_explain.h"
#include "batch_messages.h"
#include "lookup/address_text.h"
#include "lookup/as_file.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/line_ends.h"
#include "lookup/range_file.h"

namespace ipcountry::batch {

namespace {

using analysis::AddressFinder;

// A line of find - longer than this is no address whatever it holds (the
// longest address with a zone and a port is a few dozen characters): its row
// shows no text, so that neither a row nor a message grows with the line.
constexpr std::size_t kLongestFindLine = 4096;
// Addresses read before their lookups start, so that the memory reads of
// the lookups overlap.
constexpr std::size_t kBatch = 64;

void appendNumber(std::string& out, std::int64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, end);
}

std::string tooLongProblem() {
    return "line is longer than " + std::to_string(kLongestFindLine) + " characters";
}

// Blanks around an address are no part of it, nor of its row.
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A line's problem, to go out right after its row.
struct WrongLine {
    std::size_t position;  // in the block's rows, after the line's own row
    std::int64_t line;     // in the block, from 1
    std::string problem;
};

struct FoundBlock final : analysis::BlockResult {
    std::string rows;
    std::vector<WrongLine> wrong;
    // With -n: where each row's line number goes, counted in the block.
    std::vector<RowWriter::LineMark> lineMarks;
    std::int64_t lines = 0;
};

// Answers lines in batches into rows and the problems of the wrong ones.
class LineAnswers {
public:
    LineAnswers(AddressFinder& finder, Format format, const lookup::AsFile* networks,
                RowPlaces places)
        : m_finder(finder),
          m_rows(Output::Kept{}),
          m_writer(m_rows, format, false, networks, true, places),
          m_places(places) {
        m_writer.setFile(nameInRows("-"));
        if (places.line) m_writer.markLines(&m_lineMarks);
    }

    // `line` stays valid until flush(). Its row shows it without the blanks
    // around it, which are no part of an address.
    void add(std::string_view line, std::int64_t number) {
        Pending pending{number, trimmed(line), {}};
        if (line.size() > kLongestFindLine) {
            pending.shown = {};
            pending.problem = tooLongProblem();
        } else if (pending.shown.empty()) {
            pending.problem = "empty line";
        } else {
            lookup::AddressReading reading = lookup::readAddressText(pending.shown);
            if (reading.reason.empty())
                m_addresses.push_back(reading.typed);
            else
                pending.problem = std::move(reading.reason);
        }
        m_pending.push_back(std::move(pending));
        if (m_pending.size() == kBatch) flush();
    }

    // Writes the rows of every line added, in order.
    void flush() {
        m_finder.findEach(m_addresses, m_found);
        std::size_t next = 0;
        for (Pending& pending : m_pending) {
            m_writer.setLine(pending.number);
            if (pending.problem.empty()) {
                const lookup::TypedAddress& typed = m_addresses[next];
                const AddressFinder::Found& found = m_found[next++];
                if (!found.error) {
                    m_writer.findRow(pending.shown, found.answer, &typed);
                    continue;
                }
                pending.problem = problemText(*found.error);
            }
            m_writer.findWrongRow(pending.shown);
            m_wrong.push_back({m_rows.buffer().size(), pending.number, std::move(pending.problem)});
        }
        m_pending.clear();
        m_addresses.clear();
    }

    // The rows and problems so far, handed over.
    void takeInto(FoundBlock& block) {
        flush();
        block.rows.swap(m_rows.buffer());
        m_rows.buffer().clear();
        block.wrong.swap(m_wrong);
        m_wrong.clear();
        block.lineMarks.swap(m_lineMarks);
        m_lineMarks.clear();
    }

private:
    struct Pending {
        std::int64_t number;
        std::string_view shown;  // the row's text
        std::string problem;     // why the line has no answer; empty: it is looked up
    };

    AddressFinder& m_finder;
    Output m_rows;
    RowWriter m_writer;
    std::vector<Pending> m_pending;
    std::vector<lookup::TypedAddress> m_addresses;
    std::vector<AddressFinder::Found> m_found;
    std::vector<WrongLine> m_wrong;
    std::vector<RowWriter::LineMark> m_lineMarks;
    RowPlaces m_places;
};

// A worker's side: whole lines into a block of rows, with its own finder
// over the run's one snapshot of the range files.
class FindScanner final : public analysis::BlockScanner {
public:
    FindScanner(AddressFinder& owner, Format format, const lookup::AsFile* networks,
                RowPlaces places)
        : m_finder(owner), m_answers(m_finder, format, networks, places) {}

    void scanLines(std::string_view text, analysis::BlockResult& result) override {
        auto& block = static_cast<FoundBlock&>(result);
        lookup::WholeLines lines(text);
        std::string_view line;
        while (lines.next(line)) m_answers.add(line, ++block.lines);
        m_answers.takeInto(block);
    }

private:
    AddressFinder m_finder;
    LineAnswers m_answers;
};

// The calling thread's side: each block's rows and messages in the order of
// the input, line numbers counted on from the blocks before.
class FindWork final : public analysis::OrderedWork {
public:
    FindWork(AddressFinder& finder, Format format, const lookup::AsFile* networks, Output& out,
             bool typed, RowPlaces places)
        : m_finder(finder),
          m_format(format),
          m_networks(networks),
          m_out(out),
          m_writer(out, format, false, networks, true, places),
          m_typed(typed),
          m_places(places) {
        m_writer.setFile(nameInRows("-"));
    }

    bool failed() const { return m_failed; }

    std::unique_ptr<analysis::BlockScanner> makeScanner() override {
        return std::make_unique<FindScanner>(m_finder, m_format, m_networks, m_places);
    }
    std::unique_ptr<analysis::BlockResult> makeResult() override {
        return std::make_unique<FoundBlock>();
    }

    bool apply(analysis::BlockResult& result) override {
        auto& block = static_cast<FoundBlock&>(result);
        // The rows up to each place where a line number or a message goes
        // (a row's number lies inside it, its message after it).
        std::size_t from = 0;
        const auto rowsUpTo = [&](std::size_t to) {
            m_out.buffer().append(block.rows, from, to - from);
            from = to;
        };
        auto mark = block.lineMarks.begin();
        const auto numbersUpTo = [&](std::size_t to) {
            for (; mark != block.lineMarks.end() && mark->at <= to; ++mark) {
                rowsUpTo(mark->at);
                appendNumber(m_out.buffer(), m_linesBefore + mark->line);
            }
        };
        for (const WrongLine& wrong : block.wrong) {
            numbersUpTo(wrong.position);
            rowsUpTo(wrong.position);
            sayProblem(m_out, "-", m_linesBefore + wrong.line, wrong.problem);
            m_failed = true;
        }
        numbersUpTo(block.rows.size());
        rowsUpTo(block.rows.size());
        m_out.rowDone();
        m_linesBefore += block.lines;
        block.rows.clear();
        block.wrong.clear();
        block.lineMarks.clear();
        block.lines = 0;
        return goOn();
    }

    // A line longer than a block of lines: no address, told once it ends.
    bool piece(std::string_view, bool lineEnds) override {
        if (!m_inLongLine) {
            ++m_linesBefore;
            m_inLongLine = true;
        }
        if (lineEnds) {
            m_inLongLine = false;
            m_writer.setLine(m_linesBefore);
            m_writer.findWrongRow({});
            sayProblem(m_out, "-", m_linesBefore, tooLongProblem());
            m_failed = true;
        }
        return goOn();
    }

private:
    // Someone typing addresses wants each answer at once; a run whose rows
    // nobody takes any more (a full disk, a reader that left) ends here.
    bool goOn() {
        if (m_typed) m_out.flush();
        return Output::writeError() == 0;
    }

    AddressFinder& m_finder;
    Format m_format;
    const lookup::AsFile* m_networks;
    Output& m_out;
    RowWriter m_writer;
    bool m_typed;
    RowPlaces m_places;
    std::int64_t m_linesBefore = 0;
    bool m_inLongLine = false;
    bool m_failed = false;
};

// Standard input on the pipeline; false when a line was wrong. Throws what
// the reader or a worker threw, after the rows before it.
bool findStandardInput(AddressFinder& finder, const Options& options,
                       const lookup::AsFile* networks, Output& out) {
    analysis::LineReader reader;
    reader.open("-", analysis::LineReader::kBlockSize, true);
    FindWork work(finder, options.format, networks, out, ::isatty(STDIN_FILENO) != 0,
                  options.places);
    analysis::PipelineSettings settings;
    settings.threads = options.threads != 0 ? options.threads : analysis::defaultThreadCount();
    FlushWhileWaiting flush(out);
    analysis::runOrderedPipeline(reader, work, settings, &flush);
    return !work.failed();
}

}  // namespace

int runFind(const Options& options) {
    if (options.explain) return runExplain(options);
    auto table = lookup::loadCountryTable(options.countriesDir);
    lookup::addCountriesBeyondList(table);
    lookup::RangeFile ranges(options.rangesFolder());
    lookup::Range6File ranges6(options.rangesFolder());
    ranges.saveIndexBeside(options.rangeIndexSaved);
    ranges6.saveIndexBeside(options.rangeIndexSaved);
    // One snapshot of the range files for the whole run, as the analyses take.
    ranges.keepFirstLoad();
    ranges6.keepFirstLoad();
    AddressFinder finder(table, ranges, ranges6);
    // Read only when asked for: a run without networks costs what it did.
    std::optional<lookup::AsFile> networkFile;
    if (options.networks) networkFile.emplace(options.networksFile());
    const lookup::AsFile* networks = networkFile ? &*networkFile : nullptr;
    Output out;
    // An address typed on the command line comes from no file and no line.
    RowWriter writer(out, options.format, false, networks, true, options.places);
    writer.findHeader();
    bool failed = false;
    std::vector<AddressFinder::Found> found;
    for (const std::string& operand : options.operands) {
        if (operand == "-") {
            try {
                failed = !findStandardInput(finder, options, networks, out) || failed;
            } catch (const lookup::Error& error) {
                sayProblem(out, "", 0, problemText(error));
                return 1;
            }
            continue;
        }
        const lookup::AddressReading reading = lookup::readAddressText(operand);
        if (!reading.reason.empty()) {
            sayProblem(out, operandInMessage(operand), 0, reading.reason);
            failed = true;
            continue;
        }
        finder.findEach(std::span(&reading.typed, 1), found);
        if (found[0].error) {
            sayProblem(out, operandInMessage(operand), 0, problemText(*found[0].error));
            failed = true;
            continue;
        }
        writer.findRow(trimmed(operand), found[0].answer, &reading.typed);
    }
    saySavedIndexDamaged(out, ranges);
    saySavedIndexDamaged(out, ranges6);
    return failed ? 1 : 0;
}

}  // namespace ipcountry::batch
