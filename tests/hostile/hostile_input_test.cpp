// Files a user did not write: every one gives a clear message or the quiet
// skip the analyses document, and leaves the grid, the counts and the files
// as they were.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "analysis/fakes.h"
#include "lookup/error.h"

namespace ipcountry::analysis::testing {
namespace {

namespace fs = std::filesystem;

// A grid and counts that an earlier analysis left, which no failure may touch.
void seedEarlierResults(Fixture& f) {
    f.grid.appendRow({"10.0.0.1", ":80", {0, false}});
    f.table.addHit(0);
}

void expectEarlierResultsKept(const Fixture& f) {
    ASSERT_EQ(f.grid.rows.size(), 1u);
    EXPECT_EQ(f.grid.rows[0].ip, "10.0.0.1");
    EXPECT_EQ(f.table.totalHits(), 1);
    EXPECT_EQ(f.table.slotHits(0), 1);
}

// ReadFails: the file opens, but reading it fails (an I/O error).
enum class BadPath { Empty, Folder, Missing, NoPermission, ReadFails };

class UnusableInput : public ::testing::TestWithParam<BadPath> {
protected:
    std::string pathFor(Fixture& f) {
        switch (GetParam()) {
            case BadPath::Empty:
                return "";
            case BadPath::Folder:
                return f.dir.path().string();
            case BadPath::Missing:
                return (f.dir.path() / "no such file.txt").string();
            case BadPath::ReadFails:
                return "/proc/self/mem";
            case BadPath::NoPermission: {
                const auto path = f.dir.write("secret.txt", "10.1.2.3:80\r\n");
                fs::permissions(path, fs::perms::none);
                return path;
            }
        }
        return {};
    }
    void SetUp() override {
        if (GetParam() == BadPath::NoPermission && ::geteuid() == 0)
            GTEST_SKIP() << "root reads any file";
    }
};

// On one thread the single loop reads, on two the pipeline's reader thread.
TEST_P(UnusableInput, formattedListAsksOnceAndEndsWhateverTheAnswer) {
    for (const auto& [answer, threads] :
         {std::pair{true, 1u}, {false, 1u}, {true, 2u}, {false, 2u}}) {
        SCOPED_TRACE(threads);
        Fixture f(kExampleRanges);
        f.threads = threads;
        seedEarlierResults(f);
        f.prompter.answers = {answer};
        auto context = f.context();
        const auto result = runFormattedList(pathFor(f), context);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        ASSERT_EQ(f.prompter.questions.size(), 1u);
        // The description says what is wrong.
        EXPECT_FALSE(f.prompter.questions[0].empty());
        expectEarlierResultsKept(f);
    }
}

TEST_P(UnusableInput, freeTextShowsTheErrorAndEnds) {
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        Fixture f(kExampleRanges);
        f.threads = threads;
        seedEarlierResults(f);
        auto context = f.context();
        const auto result = runFreeTextScan(pathFor(f), context);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        ASSERT_EQ(f.prompter.errors.size(), 1u);
        EXPECT_FALSE(f.prompter.errors[0].empty());
        expectEarlierResultsKept(f);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, UnusableInput,
                         ::testing::Values(BadPath::Empty, BadPath::Folder, BadPath::Missing,
                                           BadPath::NoPermission, BadPath::ReadFails));

TEST(HostileContent, binaryWithNulBytesIsScannedLikeText) {
    Fixture f(kExampleRanges);
    std::string binary =
        "\x7f"
        "ELF";
    binary += std::string("\0\0\x01\x02", 4) + "10.1.2.3:80" + std::string("\0", 1) +
              "\xff\xfe 11.0.0.9\r\n";
    auto result = f.freeText(binary);
    EXPECT_EQ(result.status, RunStatus::Completed);
    EXPECT_EQ(f.grid.rows.size(), 2u);
    result = f.formatted(binary);
    EXPECT_EQ(result.status, RunStatus::Completed);  // every bad line asked, all answered Yes
    EXPECT_EQ(f.table.totalHits(), static_cast<std::int64_t>(f.grid.rows.size()));
}

TEST(HostileContent, mixedLineEndsSplitLinesAlike) {
    Fixture f(kExampleRanges);
    const auto result = f.formatted("10.1.2.3:1\r11.0.0.9:2\n10.1.2.4:3\r\n\n10.0.0.9:4");
    EXPECT_EQ(result.status, RunStatus::Completed);
    ASSERT_EQ(f.grid.rows.size(), 4u);
    EXPECT_EQ(f.grid.rows[3].port, ":4");
    EXPECT_EQ(f.prompter.questions.size(), 1u);  // the empty line only
}

TEST(HostileContent, linesOfManyMegabytesFindTheirAddresses) {
    Fixture f(kExampleRanges);
    std::string text(8 << 20, 'x');
    text += " 10.1.2.3:8080 ";
    text += std::string(8 << 20, '.');
    text += "\n11.0.0.9\n";
    const auto result = f.freeText(text);
    EXPECT_EQ(result.status, RunStatus::Completed);
    ASSERT_EQ(f.grid.rows.size(), 2u);
    EXPECT_EQ(f.grid.rows[0].port, ":8080");
}

#if !defined(__SANITIZE_ADDRESS__)
// One line of 300 MB without any line end: no crash, and memory stays flat
// (the reader hands the line over in pieces; the scanner holds a few characters).
TEST(HostileContent, threeHundredMegabytesOnOneLine) {
    Fixture f(kExampleRanges);
    const auto path = f.dir.path() / "oneline.txt";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block(1 << 20, '7');
        for (int i = 0; i < 300; ++i) out << block;
        out << " 10.1.2.3";
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    auto context = f.context();
    const auto result = runFreeTextScan(path.string(), context);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    fs::remove(path);
    EXPECT_EQ(result.status, RunStatus::Completed);
    ASSERT_EQ(f.grid.rows.size(), 1u);
    EXPECT_EQ(f.grid.rows[0].ip, "10.1.2.3");
    // ru_maxrss is in KiB: the run adds a few blocks, never the line.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024);
}
#endif

// Changes the file once, when the first block has been read: the run goes
// on reading a file that is no longer the one it began with.
class ChangeAfterFirstBlock final : public Progress {
public:
    ChangeAfterFirstBlock(std::string path, std::string append, std::uint64_t cutTo)
        : m_path(std::move(path)), m_append(std::move(append)), m_cutTo(cutTo) {}
    bool update(std::uint64_t, std::uint64_t) override {
        if (std::exchange(m_done, true)) return true;
        if (m_append.empty()) {
            EXPECT_EQ(::truncate(m_path.c_str(), static_cast<off_t>(m_cutTo)), 0);
        } else {
            std::ofstream(m_path, std::ios::binary | std::ios::app) << m_append;
        }
        return true;
    }

private:
    std::string m_path;
    std::string m_append;
    std::uint64_t m_cutTo;
    bool m_done = false;
};

struct ChangedFile {
    const char* what;
    std::uint64_t cutTo;  // when nothing is appended
    bool grows;
};

// A file cut short while it is read (through a memory map, pages of it gone)
// never crashes the run and never gives a row or a question from text the
// file did not hold: the rows are the first rows of the whole file, and the
// run completes or stops with the error that says why. A file that grows is
// read to its new end.
TEST(HostileContent, aFileThatChangesWhileReadGivesOnlyItsOwnRows) {
    std::string list;
    for (int i = 0; list.size() < (std::size_t{3} << 20); ++i)
        list += "1" + std::to_string(i % 3) + "." + std::to_string(i % 256) + ".7." +
                std::to_string(i % 199) + ":" + std::to_string(i) + "\r\n";
    const ChangedFile changes[] = {
        {"cut in half", list.size() / 2, false},
        {"cut to a line", 100, false},
        {"cut to nothing", 0, false},
        {"cut inside a page", 70001, false},
        {"grown by a copy of itself", 0, true},
    };
    const std::size_t blockSize = 64 << 10;
    for (const bool formatted : {true, false}) {
        for (const ChangedFile& change : changes) {
            for (const unsigned threads : {1u, 2u, 4u}) {
                SCOPED_TRACE(std::string(change.what) + (formatted ? ", list, " : ", text, ") +
                             std::to_string(threads) + " threads");
                const auto runOver = [&](const std::string& content, bool changeIt) {
                    auto f = std::make_unique<Fixture>(kExampleRanges);
                    f->threads = threads;
                    auto context = f->context();
                    context.blockSize = blockSize;
                    const std::string path = f->dir.write("changing.txt", content);
                    // At a line's end, so that a partial last line (a question,
                    // an address cut short) does not pass for damage.
                    const std::uint64_t cutTo =
                        change.cutTo == 0 ? 0 : content.rfind('\n', change.cutTo - 1) + 1;
                    ChangeAfterFirstBlock changer(path, change.grows ? content : "", cutTo);
                    if (changeIt) context.progress = &changer;
                    const RunResult result = formatted ? runFormattedList(path, context)
                                                       : runFreeTextScan(path, context);
                    return std::pair{std::move(f), result};
                };
                const auto [whole, wholeResult] = runOver(change.grows ? list + list : list, false);
                const auto [changed, result] = runOver(list, true);
                if (change.grows) {
                    EXPECT_EQ(result.status, RunStatus::Completed);
                    EXPECT_EQ(changed->grid.rows, whole->grid.rows);
                    continue;
                }
                const auto& rows = changed->grid.rows;
                ASSERT_LE(rows.size(), whole->grid.rows.size());
                EXPECT_TRUE(std::equal(rows.begin(), rows.end(), whole->grid.rows.begin()));
                const auto& said =
                    formatted ? changed->prompter.questions : changed->prompter.errors;
                ASSERT_LE(said.size(), 1u) << said[0] << "\n" << said[1];
                if (said.size() == 1) {
                    EXPECT_NE(said[0].find("the file shrank while it was read"), std::string::npos)
                        << said[0] << " after " << rows.size() << " rows";
                    EXPECT_EQ(result.status, RunStatus::Stopped);
                } else {
                    EXPECT_EQ(result.status, RunStatus::Completed);
                }
            }
        }
    }
}

// Each answer is what the pairs of consecutive lines give, read in file order.
struct RangeCase {
    const char* what;
    std::string content;
    std::string address;
    std::string country;  // empty: no row
};

TEST(HostileRangeFile, brokenRangeFilesAnswerByTheRuleWithoutFailing) {
    const RangeCase cases[] = {
        {"empty", "", "10.1.2.3", ""},
        {"unsorted", "00000000ZZ\r\n0C000000FR\r\n0A000000DE\r\n0D000000ZZ\r\n", "12.0.0.1",
         "Germany"},
        {"short lines", "00000000ZZ\r\nDE\r\n0A000000DE\r\n0B000000ZZ\r\n", "10.1.2.3", ""},
        {"lower-case hex", "00000000ZZ\r\n0a000000DE\r\n0b000000ZZ\r\n", "10.1.2.3", ""},
        {"no final line end", "00000000ZZ\r\n0A000000DE\r\n0B000000ZZ", "10.1.2.3", "Germany"},
    };
    for (const auto& c : cases) {
        Fixture f(c.content);
        const auto result = f.freeText(c.address + "\r\n");
        EXPECT_EQ(result.status, RunStatus::Completed) << c.what;
        if (c.country.empty()) {
            EXPECT_TRUE(f.grid.rows.empty()) << c.what;
        } else {
            ASSERT_EQ(f.grid.rows.size(), 1u) << c.what;
            EXPECT_EQ(f.grid.rows[0].country, c.country) << c.what;
        }
    }
}

}  // namespace
}  // namespace ipcountry::analysis::testing
