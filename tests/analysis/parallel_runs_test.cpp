// The analyses on several threads against the single loop: every input gives
// the same rows, counts, prompts, errors and result on 1, 2 and 4 threads,
// with blocks so small that lines cross their borders everywhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/line_reader.h"
#include "fakes.h"
#include "support/deadline.h"

namespace ipcountry::analysis::testing {
namespace {

namespace fs = std::filesystem;

enum class Analysis { Formatted, FreeText };

const char* nameOf(Analysis analysis) {
    return analysis == Analysis::Formatted ? "formatted" : "free text";
}

// Everything a run leaves behind.
struct Outcome {
    std::vector<Row> rows;
    std::vector<std::int64_t> hits;
    std::vector<std::string> questions;
    std::vector<std::int64_t> questionLines;
    std::vector<std::string> errors;
    RunStatus status = RunStatus::Stopped;
    std::int64_t rowsAdded = 0;
    std::chrono::nanoseconds elapsed{0};
    std::vector<std::int64_t> rowLines;  // the line each row stands on
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << o.rows.size() << " rows, " << o.questions.size() << " questions, " << o.errors.size()
       << " errors, status " << (o.status == RunStatus::Completed ? "completed" : "stopped")
       << ", rowsAdded " << o.rowsAdded;
    for (std::size_t i = 0; i < std::min<std::size_t>(o.questions.size(), 3); ++i)
        os << "\n  line " << o.questionLines[i] << ": " << o.questions[i];
    for (const std::string& error : o.errors) os << "\n  error: " << error;
    return os;
}

// Ranges on every /8, so that most addresses of random text get a country.
std::string everySlashEight() {
    static const char* const codes[] = {"DE", "FR", "US", "IT", "ZZ"};
    std::string lines;
    char key[9];
    for (unsigned i = 0; i < 256; ++i) {
        std::snprintf(key, sizeof key, "%02X000000", i);
        lines += std::string(key) + codes[i % 5] + "\r\n";
    }
    return lines;
}

struct DataFiles {
    bool ipv4 = true;
    bool ipv6 = true;
};

struct RunSetup {
    unsigned threads = 1;
    std::size_t blockSize = LineReader::kBlockSize;
    std::deque<bool> answers;  // Yes once they run out
    DataFiles data;
    RowRules rows;
    bool inPlace = true;  // a regular file through a memory map, or read()
};

Outcome run(Analysis analysis, const std::string& path, const RunSetup& setup) {
    Fixture f(everySlashEight(), "DEGermany\r\nFRFrance\r\nITItaly\r\n");
    if (setup.data.ipv6) f.dir.write("IP6_db.dbf", kExample6Ranges);
    if (!setup.data.ipv4) fs::remove(f.dir.path() / "IP_db.dbf");
    f.prompter.answers = setup.answers;
    AnalysisContext context = f.context();
    context.threads = setup.threads;
    context.blockSize = setup.blockSize;
    context.rows = setup.rows;
    context.readInPlace = setup.inPlace;
    const RunResult result = analysis == Analysis::Formatted ? runFormattedList(path, context)
                                                             : runFreeTextScan(path, context);
    Outcome o{std::move(f.grid.rows),
              {},
              std::move(f.prompter.questions),
              std::move(f.prompter.questionLines),
              std::move(f.prompter.errors),
              result.status,
              result.rowsAdded,
              result.elapsed,
              std::move(f.grid.lines)};
    for (int slot = 0; slot < lookup::kSlotCount; ++slot) o.hits.push_back(f.table.slotHits(slot));
    // Each run has a data folder of its own.
    const std::string folder = f.dir.path().string();
    for (auto* texts : {&o.questions, &o.errors})
        for (std::string& text : *texts)
            for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
                text.replace(at, folder.size(), "DATA");
    return o;
}

// Blocks of 16 bytes (the least the reader takes), of an odd size, of about
// a line, and the program's own.
constexpr std::size_t kBlockSizes[] = {16, 61, 1000, LineReader::kBlockSize};

// Each thread count and block size against one thread with the same blocks
// (a formatted line longer than a block fails, and a damaged archive is read
// up to its damage in the reader's pieces), and free text against the
// program's own blocks as well, since a complete text gives the same rows
// whatever the blocks. The single loop reads with read(); every run is made
// again reading the file in place.
void expectSameOnEveryThreadCount(Analysis analysis, const std::string& path, RunSetup setup = {},
                                  bool complete = true) {
    setup.threads = 1;
    setup.blockSize = LineReader::kBlockSize;
    setup.inPlace = false;
    const Outcome whole = run(analysis, path, setup);
    for (const std::size_t blockSize : kBlockSizes) {
        setup.blockSize = blockSize;
        setup.threads = 1;
        setup.inPlace = false;
        const Outcome single =
            blockSize == LineReader::kBlockSize ? whole : run(analysis, path, setup);
        if (analysis == Analysis::FreeText && complete) {
            EXPECT_EQ(single, whole) << nameOf(analysis) << ", block size " << blockSize;
        }
        for (const bool inPlace : {false, true}) {
            setup.inPlace = inPlace;
            for (const unsigned threads : {1u, 2u, 4u}) {
                if (threads == 1 && !inPlace) continue;
                setup.threads = threads;
                EXPECT_EQ(run(analysis, path, setup), single)
                    << nameOf(analysis) << ", " << threads << " threads, block size " << blockSize
                    << (inPlace ? ", in place, " : ", read(), ") << path;
            }
        }
    }
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The fuzz corpora of the scanners and of the formatted line, each file as
// an input of its own would be too slow to run 14 times: they are joined,
// a line end between some of them and none between others.
TEST(ParallelRuns, fuzzCorporaGiveTheSameOutcome) {
    const fs::path root = fs::path(IPCOUNTRY_TEST_DATA_DIR) / "../fuzz/corpus";
    TempDir dir;
    for (const char* corpus : {"free_text_scan", "free_text_scan6", "formatted_line"}) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(root / corpus))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        ASSERT_FALSE(files.empty()) << corpus;
        std::string joined;
        for (std::size_t i = 0; i < files.size(); ++i) {
            joined += slurp(files[i]);
            if (i % 3 != 0) joined += i % 2 == 0 ? "\r\n" : "\n";
        }
        const std::string path = dir.write(std::string(corpus) + ".txt", joined);
        for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted})
            expectSameOnEveryThreadCount(analysis, path);
        if (HasFailure()) return;
    }
}

// Edges of the input and of its lines.
TEST(ParallelRuns, edgeInputsGiveTheSameOutcome) {
    const std::string longLine = [] {
        std::string line;
        for (int i = 0; line.size() < 5000; ++i)
            line += "10." + std::to_string(i % 256) + ".1.2:" + std::to_string(i) +
                    " [2001:db8::" + std::to_string(i % 99) + "]:8" + " x";
        return line;
    }();
    const std::pair<const char*, std::string> inputs[] = {
        {"empty", ""},
        {"only a line end", "\r\n"},
        {"no final line end", "10.1.2.3:80\r\n11.0.0.1:8"},
        {"CR alone", "10.1.2.3:80\r11.0.0.1:8\r\r12.1.1.1:1"},
        {"CRLF on every border",
         std::string(14, 'x') + "\r\n10.0.0.1:1\r\n" + std::string(13, 'y') + "\r\n12.0.0.1:2\r\n"},
        {"line longer than blocks", longLine + "\r\n11.0.0.1:5\r\n" + longLine},
        {"long line cut by its CRLF", longLine + "\r" + "\n" + longLine + "\r"},
        {"formatted list with TABs and IPv6",
         "10.1.2.3\t:80\r\n[2001:db8::1]:443\r\n2001:db8:8000::5\r\nfe80::1%eth0\r\n"
         "x:1\r\n:1\r\n10.1.2:3\r\n\r\n[2001:db8::1]x80\r\n::ffff:10.0.0.1\r\n"},
        {"a line just over a formatted line's limit",
         std::string(kLongestFormattedLine + 1, '1') + "\r\n10.0.0.1:1\r\n"},
    };
    TempDir dir;
    for (const auto& [name, content] : inputs) {
        SCOPED_TRACE(name);
        const std::string path = dir.write("input.txt", content);
        for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted})
            expectSameOnEveryThreadCount(analysis, path);
    }
}

// Random lines of every length, with every kind of line end.
TEST(ParallelRuns, randomTextGivesTheSameOutcome) {
    std::mt19937 rng(17);
    const std::string fragments[] = {"10.1.2.3", ":8080", " ", ".",     "1.2.3.", "4",   "x",
                                     "999",      "\r\n",  ":", "55",    "\n",     "\r",  "\t",
                                     "2001:db8", "::1",   "[", "]:443", "fe80::", "%e0", "64."};
    TempDir dir;
    for (int round = 0; round < 4; ++round) {
        std::string content;
        const int count = 2000 + static_cast<int>(rng() % 4000);
        for (int n = 0; n < count; ++n) content += fragments[rng() % std::size(fragments)];
        const std::string path = dir.write("random.txt", content);
        for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted})
            expectSameOnEveryThreadCount(analysis, path);
        if (HasFailure()) return;
    }
}

// The row rules on random text: the first address of a line cut into
// pieces by every block size is the first of the whole line, and the filters
// and the rows without a country hold on every thread count.
TEST(ParallelRuns, rowRulesGiveTheSameOutcome) {
    std::mt19937 rng(2412);
    const std::string fragments[] = {"10.1.2.3", ":8080",  " ",    "1.2.3.4",  "\n",        "x",
                                     "192.168.", "7",      "\r\n", "2001:db8", "::1",       "]:443",
                                     "[",        "fe80::", "%e0",  "64.0.0.9", "127.0.0.1 "};
    std::string why;
    lookup::NetworkSet only;
    only.add(*lookup::parseNetwork("0.0.0.0/1", why));
    only.add(*lookup::parseNetwork("2001:db8::/33", why));
    only.seal();
    lookup::NetworkSet exclude;
    exclude.add(*lookup::parseNetwork("10.1.0.0/16", why));
    exclude.seal();
    TempDir dir;
    for (int round = 0; round < 2; ++round) {
        std::string content;
        const int count = 2000 + static_cast<int>(rng() % 3000);
        for (int n = 0; n < count; ++n) content += fragments[rng() % std::size(fragments)];
        // A line far longer than any block, whose first address comes late.
        content += "\n" + std::string(5000, 'x') + " 64.1.2.3 then 1.2.3.4\n";
        content +=
            std::string(4999, '7') + ".1.2.3 " + std::string(3000, ' ') + "9.8.7.6.in 5.6.7.8\n";
        const std::string path = dir.write("rules.txt", content);
        RunSetup setup;
        setup.rows = RowRules{true, nullptr, nullptr, true};
        expectSameOnEveryThreadCount(Analysis::FreeText, path, setup);
        setup.rows = RowRules{true, &only, &exclude, false};
        expectSameOnEveryThreadCount(Analysis::FreeText, path, setup);
        setup.rows = RowRules{false, &only, &exclude, true};
        expectSameOnEveryThreadCount(Analysis::Formatted, path, setup);
        // Addresses that stand alone: the bytes around one are seen across
        // the pieces of the long line and at every block's end.
        setup.rows = RowRules{true, nullptr, nullptr, true, true};
        expectSameOnEveryThreadCount(Analysis::FreeText, path, setup);
        setup.rows = RowRules{false, &only, nullptr, true, true};
        expectSameOnEveryThreadCount(Analysis::FreeText, path, setup);
        if (HasFailure()) return;
    }
}

// A prompt comes at its line, in order, and No ends the run there: the rows
// before it stay, none after it come.
TEST(ParallelRuns, noAtAPromptEndsTheRunAtTheSameLine) {
    std::string list;
    for (int i = 0; i < 3000; ++i) {
        list += "10.1.2." + std::to_string(i % 256) + ":" + std::to_string(i) + "\r\n";
        if (i % 97 == 0) list += "not an address\r\n";
        if (i % 331 == 0) list += "[2001:db8::" + std::to_string(i) + "]:1\r\n";
    }
    TempDir dir;
    const std::string path = dir.write("list.txt", list);
    for (const std::size_t stopAt : {1u, 2u, 7u, 30u}) {
        RunSetup setup;
        setup.answers.assign(stopAt - 1, true);
        setup.answers.push_back(false);
        expectSameOnEveryThreadCount(Analysis::Formatted, path, setup);
        const Outcome outcome = run(Analysis::Formatted, path, {2, 61, setup.answers, {}, {}});
        EXPECT_EQ(outcome.questions.size(), stopAt);
        EXPECT_EQ(outcome.status, RunStatus::Stopped);
    }
}

// Without IP_db.dbf every IPv4 line of a list asks, and free text stops at
// its first address; without IP6_db.dbf the IPv6 lines ask and free text
// passes them over.
TEST(ParallelRuns, missingRangeFilesGiveTheSameOutcome) {
    const std::string text =
        "no address\r\n10.0.0.1:1\r\n[2001:db8::1]:2\r\n11.0.0.1:3\r\n2001:db8:8000::1\r\n";
    TempDir dir;
    const std::string path = dir.write("input.txt", text);
    for (const DataFiles data : {DataFiles{false, true}, DataFiles{true, false}}) {
        RunSetup setup;
        setup.data = data;
        for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted})
            expectSameOnEveryThreadCount(analysis, path, setup);
    }
}

// Every archive of the input tables, good and damaged: the same rows before
// the damage, the same message.
TEST(ParallelRuns, archivesGiveTheSameOutcome) {
    const fs::path dir = fs::path(IPCOUNTRY_TEST_DATA_DIR) / "compressed";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == "make-fixtures" || name == "zeros-10g.bz2") continue;
        SCOPED_TRACE(name);
        for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted})
            expectSameOnEveryThreadCount(analysis, entry.path().string(), {}, false);
        ++files;
    }
    EXPECT_GT(files, 10);
}

// A compressed list cut inside a line: the question names the same line.
TEST(ParallelRuns, listCutShortNamesTheSameLine) {
    TempDir dir;
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list += "10.1.2." + std::to_string(i % 256) + ":" + std::to_string(i) + "\r\n";
    const std::string path = dir.write("list.txt", list);
    ASSERT_EQ(std::system(("gzip -9n '" + path + "' && head -c 20000 '" + path + ".gz' > '" + path +
                           ".cut'")
                              .c_str()),
              0);
    expectSameOnEveryThreadCount(Analysis::Formatted, path + ".cut", {}, false);
}

// A pipe that its writer fills slowly, in pieces that cut lines anywhere.
TEST(ParallelRuns, pipeGivesTheRowsOfTheSameText) {
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "GET from 10." + std::to_string(i % 256) + ".0.1:" + std::to_string(i) +
                (i % 5 == 0 ? " [2001:db8::7]:9\r\n" : "\n");
    TempDir dir;
    const std::string file = dir.write("text.txt", text);
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const Analysis analysis : {Analysis::FreeText, Analysis::Formatted}) {
        const Outcome expected = run(analysis, file, {});
        for (const unsigned threads : {2u, 4u}) {
            std::thread writer([&] {
                FILE* out = std::fopen(fifo.c_str(), "w");
                if (out == nullptr) return;
                std::mt19937 rng(threads);
                for (std::size_t at = 0; at < text.size();) {
                    const std::size_t n = std::min<std::size_t>(1 + rng() % 5000, text.size() - at);
                    std::fwrite(text.data() + at, 1, n, out);
                    std::fflush(out);
                    at += n;
                    if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                std::fclose(out);
            });
            const test_support::Deadline deadline("a run over a pipe");
            const Outcome piped = run(analysis, fifo, {threads, 4096, {}, {}, {}});
            writer.join();
            EXPECT_EQ(piped, expected) << nameOf(analysis) << ", " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace ipcountry::analysis::testing
