// The engine's block and hold contract, held to a literal line splitter:
// whole texts split by WholeLines and forEachLine, the reader's blocks of
// whole lines and pieces over reads cut anywhere (inside a CR LF above all),
// held text that outlives the reader's next reads, and runOrderedPipeline
// with its failures: a scanner that throws, a reader that fails mid-block, a
// line work that throws, and a cancel, on 1, 2 and 4 threads.
#include "analysis/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/formatted_list.h"
#include "analysis/line_reader.h"
#include "analysis/run_loop.h"
#include "fakes.h"
#include "lookup/error.h"
#include "lookup/line_ends.h"

namespace ipcountry::analysis {
namespace {

using testing::Fixture;
using testing::kExampleRanges;

// The line-end rule written out literally, one character at a time.
std::vector<std::string> referenceLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') {
            current += c;
            open = true;
            continue;
        }
        lines.push_back(current);
        current.clear();
        open = false;
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (open) lines.push_back(current);
    return lines;
}

// Texts whose line ends stand anywhere: CR, LF and CR LF next to each other,
// empty lines, no end at the end.
std::string randomText(std::mt19937& rng, std::size_t most) {
    static constexpr char kAlphabet[] = {'a', 'b', '\r', '\n', '\r', '\n', 'c'};
    std::string text(rng() % (most + 1), ' ');
    for (char& c : text) c = kAlphabet[rng() % sizeof kAlphabet];
    return text;
}

// Hands its text in reads of the given sizes, in turn; from `failAt` bytes on
// a read fails as a disk does.
class ChunkedSource final : public InputSource {
public:
    ChunkedSource(std::string text, std::vector<std::size_t> chunks,
                  std::optional<std::size_t> failAt = std::nullopt)
        : m_text(std::move(text)), m_chunks(std::move(chunks)), m_failAt(failAt) {}

    Status read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        if (m_failAt && m_at >= *m_failAt)
            throw lookup::Error(lookup::ErrorKind::FileUnreadable, "input: the disk failed");
        if (m_at == m_text.size()) return Status::End;
        std::size_t n =
            std::min({capacity, m_chunks[m_next++ % m_chunks.size()], m_text.size() - m_at});
        if (m_failAt) n = std::min(n, *m_failAt - m_at);
        std::memcpy(buffer, m_text.data() + m_at, n);
        m_at += n;
        got = n;
        return Status::Data;
    }
    std::uint64_t bytesRead() const noexcept override { return m_at; }
    std::uint64_t fileSize() const noexcept override { return m_text.size(); }

private:
    std::string m_text;
    std::vector<std::size_t> m_chunks;
    std::optional<std::size_t> m_failAt;
    std::size_t m_at = 0;
    std::size_t m_next = 0;
};

TEST(WholeLines, splitsAsTheLiteralRuleForAnyText) {
    std::mt19937 rng(25);
    for (int i = 0; i < 3000; ++i) {
        // Short texts, and some over several of the search's 16-byte steps.
        const std::string text = randomText(rng, i % 3 == 0 ? 200 : 40);
        std::vector<std::string> whole;
        lookup::WholeLines split(text);
        for (std::string_view line; split.next(line);) whole.emplace_back(line);
        std::vector<std::string> each;
        lookup::forEachLine(text, [&](std::string_view line) { each.emplace_back(line); });
        const std::vector<std::string> expected = referenceLines(text);
        ASSERT_EQ(whole, expected) << ::testing::PrintToString(text);
        ASSERT_EQ(each, expected) << ::testing::PrintToString(text);
    }
}

// What nextLines (alternating with next) hands out, joined into lines; each
// text of whole lines is held to its limit and to ending where a line does.
std::vector<std::string> readByBlocks(LineReader& reader, std::size_t limit, bool alternate) {
    std::vector<std::string> lines;
    bool starts = true;
    for (int call = 0;; ++call) {
        std::string_view text;
        bool whole = false;
        bool ends = false;
        const LineReader::Next next = alternate && call % 3 == 2
                                          ? reader.next(text, ends)
                                          : reader.nextLines(text, whole, ends, limit);
        if (next == LineReader::Next::End) break;
        if (next == LineReader::Next::Idle) continue;
        if (whole) {
            EXPECT_TRUE(starts) << "whole lines in the middle of a line";
            EXPECT_LE(text.size(), std::max<std::size_t>(limit, 1));
            // A CR handed on before the read that tells whether an LF
            // follows it would show here as an empty line too many.
            lookup::WholeLines split(text);
            for (std::string_view line; split.next(line);) lines.emplace_back(line);
            continue;
        }
        if (starts) lines.emplace_back();
        lines.back() += text;
        starts = ends;
    }
    return lines;
}

struct BlockCase {
    const char* name;
    std::string text;
    std::vector<std::size_t> chunks;
    std::size_t blockSize;
    std::size_t limit;
};

class ReaderBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ReaderBlocks, handOutTheLinesOfTheLiteralRule) {
    const BlockCase& c = GetParam();
    for (const bool alternate : {false, true}) {
        LineReader reader;
        reader.open(std::make_unique<ChunkedSource>(c.text, c.chunks), c.blockSize);
        EXPECT_EQ(readByBlocks(reader, c.limit, alternate), referenceLines(c.text))
            << (alternate ? "alternating with next()" : "nextLines() alone");
    }
}

const std::string kLongLine(70, 'x');

INSTANTIATE_TEST_SUITE_P(
    Borders, ReaderBlocks,
    ::testing::Values(
        // The read ends between the CR and the LF of one line end.
        BlockCase{"crLfAcrossReads", "one\r\ntwo\r\nthree", {4, 1, 100}, 16, 100},
        BlockCase{"crLfAcrossReadsAtTheEnd", "one\r\ntwo\r\n", {4, 5, 1}, 16, 100},
        BlockCase{"crAloneAtAReadsEnd", "one\rtwo\r", {4, 4}, 16, 100},
        BlockCase{"crLfAcrossTheBlock", std::string(15, 'a') + "\r\n" + "b\r\n", {16}, 16, 100},
        // A line longer than the limit and than the reader's block.
        BlockCase{"lineLongerThanTheLimit", "a\r\n" + kLongLine + "\r\nb\r\n", {7}, 16, 8},
        BlockCase{"lineLongerThanTheBlock", kLongLine + "\r\n" + kLongLine, {16}, 16, 1000},
        BlockCase{"lineLongerThanTheBlockEndsInCrLf", kLongLine + "\r\n", {31, 1}, 16, 4},
        BlockCase{"onlyLineEnds", "\r\n\r\r\n\n\r", {1}, 16, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderBlocks, handOutTheLiteralLinesForReadsCutAnywhere) {
    std::mt19937 rng(2025);
    for (int i = 0; i < 600; ++i) {
        const std::string text = randomText(rng, 300);
        const std::vector<std::size_t> chunks{1 + rng() % 7, 1 + rng() % 40, 1 + rng() % 3};
        const std::size_t blockSize = 16 + rng() % 20;
        const std::size_t limit = 1 + rng() % 24;
        LineReader reader;
        reader.open(std::make_unique<ChunkedSource>(text, chunks), blockSize);
        ASSERT_EQ(readByBlocks(reader, limit, i % 2 == 1), referenceLines(text))
            << ::testing::PrintToString(text) << " block " << blockSize << " limit " << limit;
    }
}

// A hold keeps a text as it was handed out while the reader reads on, and
// the reader's memory stays bounded once the hold is released.
TEST(ReaderHold, heldTextOutlivesLaterReads) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\r\n";
    LineReader reader;
    reader.open(std::make_unique<ChunkedSource>(text, std::vector<std::size_t>{5, 9}), 32);
    struct Held {
        std::string_view text;
        std::string copy;
        LineReader::Buffer* buffer;
    };
    std::vector<Held> held;
    std::vector<std::string> lines;
    for (int call = 0;; ++call) {
        std::string_view piece;
        bool whole = false, ends = false;
        const LineReader::Next next = reader.nextLines(piece, whole, ends, 20);
        if (next == LineReader::Next::End) break;
        ASSERT_TRUE(whole);
        lookup::WholeLines split(piece);
        for (std::string_view line; split.next(line);) lines.emplace_back(line);
        if (call % 4 == 0) held.push_back({piece, std::string(piece), reader.hold()});
        // The oldest hold goes once a few later ones are in place.
        if (held.size() > 3) {
            EXPECT_EQ(held.front().text, held.front().copy);
            LineReader::release(held.front().buffer);
            held.erase(held.begin());
        }
    }
    for (const Held& h : held) {
        EXPECT_EQ(h.text, h.copy);
        LineReader::release(h.buffer);
    }
    EXPECT_EQ(lines, referenceLines(text));
}

// The plainest work: the lines of every block, in the order applied.
struct LinesResult final : BlockResult {
    std::vector<std::string> lines;
};

class RecordingWork final : public OrderedWork {
public:
    // A scanner throws on the block that holds `failOn` and tells which line began it.
    explicit RecordingWork(std::string failOn = {}) : m_failOn(std::move(failOn)) {}

    std::unique_ptr<BlockScanner> makeScanner() override {
        return std::make_unique<Scanner>(*this);
    }
    std::unique_ptr<BlockResult> makeResult() override { return std::make_unique<LinesResult>(); }
    bool apply(BlockResult& result) override {
        auto& block = static_cast<LinesResult&>(result);
        for (std::string& line : block.lines) applied.push_back(std::move(line));
        block.lines.clear();
        return true;
    }
    bool piece(std::string_view piece, bool lineEnds) override {
        if (m_starts) applied.emplace_back();
        applied.back() += piece;
        m_starts = lineEnds;
        return true;
    }

    std::vector<std::string> applied;
    std::mutex firstOfFailingBlockMutex;
    std::string firstOfFailingBlock;

private:
    class Scanner final : public BlockScanner {
    public:
        explicit Scanner(RecordingWork& work) : m_work(work) {}
        void scanLines(std::string_view lines, BlockResult& result) override {
            auto& block = static_cast<LinesResult&>(result);
            lookup::WholeLines split(lines);
            for (std::string_view line; split.next(line);) {
                if (!m_work.m_failOn.empty() && line == m_work.m_failOn) {
                    const std::lock_guard lock(m_work.firstOfFailingBlockMutex);
                    m_work.firstOfFailingBlock = referenceLines(lines).front();
                    throw std::runtime_error("scanner failed");
                }
                block.lines.emplace_back(line);
            }
        }

    private:
        RecordingWork& m_work;
    };

    std::string m_failOn;
    bool m_starts = true;
};

TEST(OrderedPipeline, appliesTheLiteralLinesInOrderOnEveryThreadCount) {
    std::mt19937 rng(64);
    for (int i = 0; i < 120; ++i) {
        const std::string text = randomText(rng, 2000);
        for (const unsigned threads : {1u, 2u, 4u}) {
            for (const std::size_t blockSize : {16u, 64u, 257u}) {
                LineReader reader;
                reader.open(std::make_unique<ChunkedSource>(
                                text, std::vector<std::size_t>{1 + rng() % 50, 1 + rng() % 5}),
                            blockSize);
                RecordingWork work;
                EXPECT_EQ(runOrderedPipeline(reader, work, {threads, blockSize}, nullptr),
                          PipelineEnd::Completed);
                ASSERT_EQ(work.applied, referenceLines(text))
                    << threads << " threads, block " << blockSize;
            }
        }
    }
}

std::string numberedLines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

// A scanner's failure reaches the caller after every block before its own,
// and nothing of its block or later ones is applied.
TEST(OrderedPipeline, throwsAScannersFailureAfterTheBlocksBeforeIt) {
    const std::string text = numberedLines(1, 50) + "boom\n" + numberedLines(51, 100);
    for (const unsigned threads : {2u, 4u}) {
        for (const std::size_t blockSize : {64u, 256u}) {
            LineReader reader;
            reader.open(std::make_unique<ChunkedSource>(text, std::vector<std::size_t>{64}),
                        blockSize);
            RecordingWork work("boom");
            EXPECT_THROW(runOrderedPipeline(reader, work, {threads, blockSize}, nullptr),
                         std::runtime_error);
            const std::vector<std::string> all = referenceLines(text);
            const auto first = std::find(all.begin(), all.end(), work.firstOfFailingBlock);
            ASSERT_NE(first, all.end());
            EXPECT_EQ(work.applied, std::vector<std::string>(all.begin(), first))
                << threads << " threads, block " << blockSize;
        }
    }
}

// A reader that fails in the middle of a block: the lines before the failure
// that it had handed on are applied, then its error reaches the caller.
TEST(OrderedPipeline, throwsAReadersFailureAfterTheLinesReadBeforeIt) {
    const std::string text = numberedLines(1, 60);
    for (const std::size_t failAt : {std::size_t{0}, std::size_t{5}, std::size_t{100},
                                     text.find("line 31\n") + 3, text.size() - 1}) {
        for (const unsigned threads : {1u, 2u, 4u}) {
            LineReader reader;
            reader.open(
                std::make_unique<ChunkedSource>(text, std::vector<std::size_t>{13, 40}, failAt),
                256);
            RecordingWork work;
            try {
                runOrderedPipeline(reader, work, {threads, 256}, nullptr);
                ADD_FAILURE() << "no error at " << failAt;
            } catch (const lookup::Error& error) {
                EXPECT_EQ(error.kind(), lookup::ErrorKind::FileUnreadable);
            }
            // Every whole line read before the failure, and nothing after it.
            const std::size_t lastEnd = text.rfind('\n', failAt == 0 ? 0 : failAt - 1);
            const std::vector<std::string> before =
                lastEnd == std::string::npos || failAt == 0
                    ? std::vector<std::string>{}
                    : referenceLines(std::string_view(text).substr(0, lastEnd + 1));
            EXPECT_EQ(work.applied, before) << "failing at " << failAt << ", " << threads;
        }
    }
}

// A line work that throws on a line of its own (a scanner's failure inside
// the analyses), for runLines' message of the line it broke off at.
struct ThrowingWork {
    struct ViewOf {
        const ThrowingWork& owner;
    };
    ThrowingWork() = default;
    explicit ThrowingWork(ViewOf) {}
    void begin() {}
    template <class Out>
    Flow piece(std::string_view piece, const LinePlace&, Out& out) {
        if (piece == "boom") throw std::runtime_error("the scan broke");
        return out.row(ResultRow{piece, {}, Resolution{0, false}});
    }
    template <class Out>
    Flow finish(const DeferredLine&, Out&) {
        return Flow::GoOn;
    }
};

TEST(RunLines, reportsALineWorksFailureAtItsOwnLine) {
    std::string text;
    for (int i = 1; i <= 30; ++i) text += "10.1.2." + std::to_string(i) + "\r\n";
    text += "boom\r\n10.1.2.32\r\n";
    for (const unsigned threads : {1u, 2u, 4u}) {
        for (const std::size_t blockSize :
             {std::size_t{16}, std::size_t{64}, std::size_t{1} << 20}) {
            Fixture f(kExampleRanges);
            f.threads = threads;
            AnalysisContext context = f.context();
            context.blockSize = blockSize;
            ThrowingWork work;
            const RunResult result =
                runLines(f.dir.write("in.txt", text), context, work, RunError::AsFailingLine);
            const std::string where =
                std::to_string(threads) + " threads, block " + std::to_string(blockSize);
            EXPECT_EQ(result.status, RunStatus::Stopped) << where;
            EXPECT_EQ(result.rowsAdded, 30) << where;
            EXPECT_EQ(f.prompter.questionLines, std::vector<std::int64_t>{31}) << where;
            EXPECT_EQ(f.prompter.questions, std::vector<std::string>{"the scan broke"}) << where;
        }
    }
}

// Cancels at its n-th update.
struct CancelAt final : Progress {
    int at;
    int updates = 0;
    explicit CancelAt(int n) : at(n) {}
    bool update(std::uint64_t, std::uint64_t) override { return ++updates < at; }
};

// A cancel at the second block read keeps the rows of the first block, as
// the single loop keeps them, whatever the thread count.
TEST(RunLines, cancelKeepsTheRowsOfOneThreadOnEveryThreadCount) {
    std::string list;
    for (int i = 1; i <= 40; ++i) list += "10.1.2." + std::to_string(i) + ":80\n";
    struct Case {
        std::size_t blockSize;
        std::size_t rows;  // the single loop's
    };
    for (const Case c : {Case{16, 2}, Case{40, 4}, Case{64, 6}, Case{128, 11}, Case{1024, 40}}) {
        for (const unsigned threads : {1u, 2u, 4u}) {
            Fixture f(kExampleRanges);
            f.threads = threads;
            CancelAt progress(2);
            AnalysisContext context = f.context();
            context.progress = &progress;
            context.blockSize = c.blockSize;
            const RunResult result = runFormattedList(f.dir.write("list.txt", list), context);
            const std::string where =
                std::to_string(threads) + " threads, block " + std::to_string(c.blockSize);
            EXPECT_EQ(f.grid.rows.size(), c.rows) << where;
            EXPECT_EQ(result.rowsAdded, static_cast<std::int64_t>(c.rows)) << where;
            EXPECT_EQ(result.status, c.rows < 40 ? RunStatus::Stopped : RunStatus::Completed)
                << where;
        }
    }
}

}  // namespace
}  // namespace ipcountry::analysis
