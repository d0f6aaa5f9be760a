// Compressed logs as the analyses read them, good and damaged, and inputs
// that never end. The files in tests/data/compressed/ are written by its
// make-fixtures script.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "analysis/line_reader.h"
#include "fakes.h"

namespace ipcountry::analysis::testing {
namespace {

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/compressed/";
constexpr std::string_view kRanges =
    "00000000ZZ\r\n0A000000DE\r\n0B000000FR\r\n0C000000DE\r\n0D000000ZZ\r\n";

const std::vector<Row>& plainRows() {
    static const std::vector<Row> rows = [] {
        Fixture f(kRanges);
        auto context = f.context();
        runFreeTextScan(kDir + "log.txt", context);
        return f.grid.rows;
    }();
    return rows;
}

enum class Rows { All, None, Prefix };

struct ArchiveCase {
    const char* file;
    const char* error;  // what the message says, "" for a normal end
    Rows rows;
};

std::ostream& operator<<(std::ostream& os, const ArchiveCase& c) { return os << c.file; }

class ArchiveTest : public ::testing::TestWithParam<ArchiveCase> {};

// A damaged archive ends the run with a message naming the file; the rows
// found before the damage stay, and it never ends as if the text were complete.
TEST_P(ArchiveTest, givesTheRowsOfItsTextOrSaysWhatIsWrong) {
    const ArchiveCase& c = GetParam();
    ASSERT_GT(plainRows().size(), 500u);
    Fixture f(kRanges);
    auto context = f.context();
    const RunResult result = runFreeTextScan(kDir + c.file, context);

    if (std::string(c.error).empty()) {
        EXPECT_EQ(result.status, RunStatus::Completed);
        EXPECT_TRUE(f.prompter.errors.empty()) << f.prompter.errors[0];
    } else {
        EXPECT_EQ(result.status, RunStatus::Stopped);
        ASSERT_EQ(f.prompter.errors.size(), 1u);
        EXPECT_NE(f.prompter.errors[0].find(kDir + c.file), std::string::npos)
            << f.prompter.errors[0];
        EXPECT_NE(f.prompter.errors[0].find(c.error), std::string::npos) << f.prompter.errors[0];
    }
    switch (c.rows) {
        case Rows::All:
            EXPECT_EQ(f.grid.rows, plainRows());
            break;
        case Rows::None:
            EXPECT_TRUE(f.grid.rows.empty());
            break;
        case Rows::Prefix:
            ASSERT_GT(f.grid.rows.size(), 0u);
            ASSERT_LT(f.grid.rows.size(), plainRows().size());
            EXPECT_TRUE(std::equal(f.grid.rows.begin(), f.grid.rows.end(), plainRows().begin()));
            break;
    }
    EXPECT_EQ(f.table.totalHits(), static_cast<std::int64_t>(f.grid.rows.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ArchiveTest,
    ::testing::Values(ArchiveCase{"log.gz", "", Rows::All}, ArchiveCase{"log.bz2", "", Rows::All},
                      ArchiveCase{"log.xz", "", Rows::All}, ArchiveCase{"log.zst", "", Rows::All},
                      ArchiveCase{"two-members.gz", "", Rows::All},
                      ArchiveCase{"empty.gz", "", Rows::None},
                      ArchiveCase{"empty.zst", "", Rows::None},
                      ArchiveCase{"truncated.gz", "cut short", Rows::Prefix},
                      ArchiveCase{"corrupt-second-member.gz", "damaged", Rows::Prefix},
                      ArchiveCase{"bad-checksum.zst", "damaged", Rows::None},
                      ArchiveCase{"garbage-after-member.gz", "damaged", Rows::All},
                      ArchiveCase{"random-after-magic.gz", "damaged", Rows::None},
                      ArchiveCase{"random-after-magic.bz2", "damaged", Rows::None},
                      ArchiveCase{"random-after-magic.xz", "damaged", Rows::None},
                      ArchiveCase{"random-after-magic.zst", "damaged", Rows::None}),
    [](const auto& info) {
        std::string name = info.param.file;
        std::replace_if(
            name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
        return name;
    });

TEST(Archive, textThatOnlyLooksLikeAMagicNumberIsReadAsText) {
    Fixture f(kRanges);
    auto context = f.context();
    EXPECT_EQ(runFreeTextScan(kDir + "magic-looking.txt", context).status, RunStatus::Completed);
    ASSERT_EQ(f.grid.rows.size(), 2u);
    EXPECT_EQ(f.grid.rows[0], (Row{"10.1.2.3", ":80", "Germany", 0}));
}

// A formatted list that breaks off gives today's answer to a file that can no
// longer be read: one question with the line it stopped at, and no statistics.
TEST(Archive, damagedFormattedListIsAFailureToReadIt) {
    Fixture f(kRanges);
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list += "10.1.2." + std::to_string(i % 256) + ":" + std::to_string(i) + "\r\n";
    const std::string path = f.dir.write("list.txt", list);
    ASSERT_EQ(std::system(("gzip -9n '" + path + "' && head -c 20000 '" + path + ".gz' > '" + path +
                           ".cut'")
                              .c_str()),
              0);
    auto context = f.context();
    EXPECT_EQ(runFormattedList(path + ".cut", context).status, RunStatus::Stopped);
    ASSERT_EQ(f.prompter.questions.size(), 1u);
    EXPECT_NE(f.prompter.questions[0].find("cut short"), std::string::npos);
    EXPECT_EQ(f.prompter.questionLines[0], static_cast<std::int64_t>(f.grid.rows.size()) + 1);
    EXPECT_GT(f.grid.rows.size(), 1000u);
}

// Reads the resident memory of this process from the system.
std::uint64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Cancels at a given update and watches memory meanwhile.
class WatchingProgress final : public Progress {
public:
    explicit WatchingProgress(int cancelAt) : m_cancelAt(cancelAt), m_baseline(residentBytes()) {}
    bool update(std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
        growth = std::max(growth, residentBytes() - std::min(residentBytes(), m_baseline));
        lastRead = bytesRead;
        lastTotal = bytesTotal;
        return ++updates < m_cancelAt;
    }
    int updates = 0;
    std::uint64_t growth = 0, lastRead = 0, lastTotal = 0;

private:
    int m_cancelAt;
    std::uint64_t m_baseline;
};

// 8 KB of bzip2 that unpack to 10 GB of zeros, one line without an end: the
// run reports progress as it unpacks, Cancel stops it, memory stays flat.
TEST(Archive, bombIsCancelledWithFlatMemory) {
    for (const bool formatted : {false, true}) {
        Fixture f(kRanges);
        WatchingProgress progress(100);
        auto context = f.context();
        context.progress = &progress;
        const std::string path = kDir + "zeros-10g.bz2";
        const RunResult result =
            formatted ? runFormattedList(path, context) : runFreeTextScan(path, context);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        EXPECT_EQ(progress.updates, 100);
        EXPECT_LE(progress.lastRead, progress.lastTotal);
        EXPECT_LT(progress.growth, std::uint64_t{16} << 20);
        // The formatted list asked about the overlong line once, at its start.
        EXPECT_EQ(f.prompter.questions.size(), formatted ? 1u : 0u);
    }
}

// A pipe that nobody writes to: the reader neither blocks in open nor in
// read, it says Idle until a writer comes, then reads what the writer wrote.
TEST(Fifo, waitsIdlyForAWriterAndThenReadsItsLines) {
    TempDir dir;
    const std::string path = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    LineReader reader;
    reader.open(path);
    std::string_view piece;
    bool lineEnds = false;
    EXPECT_EQ(reader.next(piece, lineEnds), LineReader::Next::Idle);
    EXPECT_EQ(reader.fileSize(), 0u);

    FILE* writer = std::fopen(path.c_str(), "w");
    ASSERT_NE(writer, nullptr);
    std::fputs("10.1.2.3\r\nlast", writer);
    std::fclose(writer);
    std::vector<std::string> lines;
    for (LineReader::Next next; (next = reader.next(piece, lineEnds)) != LineReader::Next::End;)
        if (next == LineReader::Next::Piece) lines.emplace_back(piece);
    EXPECT_EQ(lines, (std::vector<std::string>{"10.1.2.3", "last"}));
}

}  // namespace
}  // namespace ipcountry::analysis::testing
