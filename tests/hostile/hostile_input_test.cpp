// Files a user did not write: every one gives a clear message or the quiet
// skip the analyses document, and leaves the grid, the counts and the files
// as they were.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
