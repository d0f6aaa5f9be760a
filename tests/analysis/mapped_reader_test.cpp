// A regular file read in place against the same file read with read(): the
// same pieces, lines and progress at every window border, and a file that
// shrinks under the map gives an error or an early end, never zeros and
// never SIGBUS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/line_reader.h"
#include "analysis/mapped_file.h"
#include "fakes.h"
#include "lookup/error.h"

namespace ipcountry::analysis {
namespace {

using testing::TempDir;

const std::size_t kPage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));

// What a reader hands out, call by call, and what it says of its progress.
struct Step {
    std::string text;
    bool wholeLines = false;
    bool lineEnds = false;
    bool blockWasRead = false;
    std::uint64_t bytesRead = 0;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << '{' << s.text.size() << " bytes, whole " << s.wholeLines << ", ends " << s.lineEnds
              << ", read " << s.blockWasRead << ", at " << s.bytesRead << '}';
}

// Whole lines and pieces in turn, at two limits, as the pipeline's reader
// and the single loop ask for them.
std::vector<Step> readSteps(const std::string& path, std::size_t blockSize, bool inPlace,
                            const std::function<void(int call)>& between = {}) {
    LineReader reader;
    reader.open(path, blockSize, false, inPlace);
    std::vector<Step> steps;
    for (int call = 0;; ++call) {
        Step step;
        std::string_view text;
        LineReader::Next next;
        if (call % 3 == 2) {
            next = reader.next(text, step.lineEnds);
        } else {
            const std::size_t limit = call % 3 == 0 ? blockSize / 8 + 1 : blockSize;
            next = reader.nextLines(text, step.wholeLines, step.lineEnds, limit);
        }
        if (next == LineReader::Next::End) break;
        EXPECT_EQ(next, LineReader::Next::Piece);
        step.text = std::string(text);
        step.blockWasRead = reader.blockWasRead();
        step.bytesRead = reader.bytesRead();
        steps.push_back(std::move(step));
        if (between) between(call);
    }
    EXPECT_EQ(reader.fileSize(), std::filesystem::file_size(path));
    return steps;
}

// Lines as the reader's rules split them, written without the reader.
std::vector<std::string> referenceLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(std::exchange(line, {}));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::vector<std::string> linesOf(const std::vector<Step>& steps) {
    std::string joined;
    for (const Step& step : steps) {
        joined += step.text;
        // A piece that ends its line lost its line end on the way out.
        if (!step.wholeLines && step.lineEnds) joined += '\n';
    }
    return referenceLines(joined);
}

struct Geometry {
    const char* name;
    // The content, for a reader whose window is `window` bytes (two blocks).
    std::string (*content)(std::size_t window);
};

std::string linesOfLength(std::size_t total, std::size_t length, const char* end) {
    std::string text;
    for (int i = 0; text.size() < total; ++i)
        text += std::string(length - i % 3, static_cast<char>('a' + i % 26)) + end;
    text.resize(total);
    return text;
}

const Geometry kGeometries[] = {
    {"empty", [](std::size_t) { return std::string(); }},
    {"exactlyAWindow", [](std::size_t w) { return linesOfLength(w, 40, "\n"); }},
    {"aWindowLessOne", [](std::size_t w) { return linesOfLength(w - 1, 40, "\r\n"); }},
    {"aWindowAndOne", [](std::size_t w) { return linesOfLength(w + 1, 40, "\n"); }},
    {"manyWindowsOfShortLines", [](std::size_t w) { return linesOfLength(7 * w + 3, 23, "\r\n"); }},
    {"linesLongerThanAWindow",
     [](std::size_t w) {
         return std::string(3 * w + 5, 'x') + "\n1.2.3.4\n" + std::string(w, 'y') + "\r\n" +
                std::string(w + 1, 'z');
     }},
    {"crlfOnEveryWindowBorder",
     [](std::size_t w) {
         // A CR as the last byte of each block and window, its LF the first of the next.
         std::string text;
         for (int i = 1; i <= 8; ++i) {
             text += std::string(w / 2 * i - text.size() - 1, 'q') + "\r\n";
             text += "x\r";
         }
         return text;
     }},
    {"noFinalLineEndOnAPageBorder",
     [](std::size_t w) { return linesOfLength(2 * w + kPage, 61, "\n") + "tail"; }},
    {"randomLinesAndEnds",
     [](std::size_t w) {
         std::mt19937 rng(static_cast<unsigned>(w));
         const char* const ends[] = {"\n", "\r\n", "\r", "\r\r\n"};
         std::string text;
         while (text.size() < 5 * w) {
             const std::size_t length = rng() % 5 == 0 ? rng() % (2 * w) : rng() % 80;
             text += std::string(length, static_cast<char>('0' + rng() % 10)) + ends[rng() % 4];
         }
         return text;
     }},
};

class InPlaceGeometry : public ::testing::TestWithParam<Geometry> {};

// Blocks of a page, of an odd size, and the least the reader takes, so that
// windows begin on page borders and off them.
TEST_P(InPlaceGeometry, givesWhatReadGivesStepByStep) {
    TempDir dir;
    for (const std::size_t blockSize : {kPage, std::size_t{5000}, std::size_t{16}}) {
        SCOPED_TRACE(blockSize);
        const std::string content = GetParam().content(2 * blockSize);
        const std::string path = dir.write("input.txt", content);
        const std::vector<Step> copied = readSteps(path, blockSize, false);
        const std::vector<Step> inPlace = readSteps(path, blockSize, true);
        EXPECT_EQ(inPlace, copied);
        EXPECT_EQ(linesOf(inPlace), referenceLines(content));
        if (!inPlace.empty()) {
            EXPECT_EQ(inPlace.back().bytesRead, content.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, InPlaceGeometry, ::testing::ValuesIn(kGeometries),
                         [](const auto& info) { return std::string(info.param.name); });

// With every window of the process taken midway (no memory, no address
// space), read() takes over where the map stopped.
TEST(InPlace, readGoesOnWhenNoMoreWindowsCanBeMapped) {
    TempDir dir;
    const std::string path = dir.write("input.txt", linesOfLength(40 * kPage + 3, 37, "\r\n"));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<std::unique_ptr<MappedWindow>> taken;
    const auto takeEveryWindow = [&](int call) {
        if (call != 20) return;
        for (auto window = std::make_unique<MappedWindow>(); window->map(fd, 0, 1);
             window = std::make_unique<MappedWindow>())
            taken.push_back(std::move(window));
    };
    EXPECT_EQ(readSteps(path, kPage, true, takeEveryWindow), readSteps(path, kPage, false));
    EXPECT_GT(taken.size(), 0u);
    EXPECT_LT(taken.size(), static_cast<std::size_t>(MappedWindow::kMostWindows));
    taken.clear();
    ::close(fd);
}

// Whether the process maps the file now: /proc/self/maps names every file it maps.
bool isMapped(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    return false;
}

TEST(InPlace, mapsRegularFilesAndNothingElse) {
    TempDir dir;
    const std::string text = linesOfLength(100000, 30, "\n");
    const std::string plain = dir.write("plain.txt", text);
    const std::string gz = plain + ".gz";
    ASSERT_EQ(std::system(("gzip -c '" + plain + "' > '" + gz + "'").c_str()), 0);
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = dir.write("empty.txt", "");
    struct Case {
        const char* what;
        std::string path;
        bool inPlace;
        bool mapped;
    } const cases[] = {
        {"a regular file", plain, true, true},
        {"a regular file read with read()", plain, false, false},
        {"an archive", gz, true, false},
        {"a pipe", fifo, true, false},
        {"an empty file", empty, true, false},
        {"a file that reports no size", "/proc/self/status", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The pipe's writer comes and goes at once: the reader sees its end.
        const int writer = c.path == fifo ? ::open(fifo.c_str(), O_RDWR | O_NONBLOCK) : -1;
        if (writer >= 0) {
            EXPECT_EQ(::write(writer, "1.2.3.4\n", 8), 8);
        }
        LineReader reader;
        reader.open(c.path, 4096, false, c.inPlace);
        if (writer >= 0) ::close(writer);
        std::string_view piece;
        bool lineEnds = false;
        LineReader::Next next;
        while ((next = reader.next(piece, lineEnds)) == LineReader::Next::Idle) {
        }
        EXPECT_EQ(isMapped(c.path), c.mapped);
    }
}

// Truncates the file at `size`, keeping its name.
void cutTo(const std::string& path, std::uint64_t size) {
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

TEST(MappedWindow, aPageCutOffReadsAsZerosAndIsRecorded) {
    TempDir dir;
    const std::string path = dir.write("three-pages.txt", std::string(3 * kPage, 'a'));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    MappedWindow window;
    ASSERT_TRUE(window.map(fd, 10, 3 * kPage - 10));
    const char* data = window.data();
    EXPECT_EQ(data[0], 'a');
    cutTo(path, kPage + 7);
    // The page the file now ends in is still there, its end zeros as POSIX has it.
    EXPECT_EQ(data[kPage - 10], 'a');
    const volatile char* far = data + 2 * kPage;
    EXPECT_EQ(*far, '\0');  // SIGBUS, caught
    EXPECT_FALSE(window.faultBefore(data + kPage).has_value());
    ASSERT_TRUE(window.faultBefore(data + 3 * kPage - 10).has_value());
    EXPECT_EQ(*window.faultBefore(data + 3 * kPage - 10), 2 * kPage);
    window.unmap();
    ::close(fd);
}

// The handler takes faults in its windows alone: a bug elsewhere still ends
// the program with SIGBUS.
TEST(MappedWindowDeathTest, aFaultOutsideEveryWindowStillEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    const std::string path = dir.write("short.txt", "x");
    EXPECT_EXIT(
        {
            const int fd = ::open(path.c_str(), O_RDONLY);
            MappedWindow window;  // the handler is in place from the first window on
            if (fd < 0 || !window.map(fd, 0, 1)) std::_Exit(3);
            void* other = ::mmap(nullptr, 2 * kPage, PROT_READ, MAP_PRIVATE, fd, 0);
            if (other == MAP_FAILED) std::_Exit(4);
            const volatile char* beyond = static_cast<const char*>(other) + kPage;
            std::_Exit(*beyond);
        },
        [](int status) {
            // Ended by the fault: killed by SIGBUS, or, in a sanitizer's
            // build, by its own handler (there before ours), which exits with
            // its status (1 for ASan, 66 for TSan) or aborts. A handler that
            // took the fault for a window's would have read a zero: exit 0.
            if (WIFSIGNALED(status))
                return WTERMSIG(status) == SIGBUS || WTERMSIG(status) == SIGABRT;
            return WIFEXITED(status) && (WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 66);
        },
        "");
}

// Reads the file's lines, and when `at` lines have come cuts the file at
// `cut(bytesRead)`; the lines, and the error if one ends the reading.
struct Cut {
    std::vector<std::string> lines;
    std::string error;
};

Cut readWhileCutting(const std::string& path, std::size_t blockSize, bool inPlace, int at,
                     std::uint64_t (*cut)(std::uint64_t bytesRead)) {
    Cut result;
    LineReader reader;
    reader.open(path, blockSize, false, inPlace);
    std::string_view piece;
    bool lineEnds = false;
    try {
        bool starts = true;
        while (reader.next(piece, lineEnds) == LineReader::Next::Piece) {
            if (starts) result.lines.emplace_back();
            result.lines.back() += piece;
            starts = lineEnds;
            if (lineEnds && static_cast<int>(result.lines.size()) == at)
                cutTo(path, cut(reader.bytesRead()));
        }
    } catch (const lookup::Error& error) {
        EXPECT_EQ(error.kind(), lookup::ErrorKind::FileUnreadable);
        result.error = error.what();
    }
    return result;
}

// Where the file is cut, set against what the reader has read of it.
struct CutCase {
    const char* name;
    std::uint64_t (*cut)(std::uint64_t bytesRead);
    bool endsAsRead;  // read() gives the same lines, no error
};

const CutCase kCuts[] = {
    // Not yet read: both end where the file now ends.
    {"pastWhatWasRead", [](std::uint64_t read) { return read + 3 * kPage + 11; }, true},
    {"rightAfterWhatWasRead", [](std::uint64_t read) { return read; }, true},
    // Read, its pages mapped and not yet searched: read() has a copy, the
    // map has nothing left.
    {"insideTheWindow", [](std::uint64_t read) { return read > 2 * kPage ? read - 2 * kPage : 0; },
     false},
    {"toNothing", [](std::uint64_t) { return std::uint64_t{0}; }, false},
};

class FileCutWhileRead : public ::testing::TestWithParam<CutCase> {};

TEST_P(FileCutWhileRead, givesAnErrorOrTheEndButNeverZeros) {
    TempDir dir;
    std::string content;
    for (int i = 0; content.size() < (std::size_t{1} << 20); ++i)
        content += "line " + std::to_string(i) + " 10.0." + std::to_string(i % 256) + ".1\n";
    const std::vector<std::string> original = referenceLines(content);
    const std::size_t blockSize = 16 * kPage;
    const std::string path = dir.write("cut.txt", content);
    const Cut inPlace = readWhileCutting(path, blockSize, true, 100, GetParam().cut);
    dir.write("cut.txt", content);
    const Cut copied = readWhileCutting(path, blockSize, false, 100, GetParam().cut);
    EXPECT_EQ(copied.error, "");
    // Every line read in place is the file's own, in order: no zeros.
    ASSERT_LE(inPlace.lines.size(), original.size());
    for (std::size_t i = 0; i < inPlace.lines.size(); ++i) {
        const std::string& line = inPlace.lines[i];
        EXPECT_TRUE(line == original[i] || (i + 1 == inPlace.lines.size() &&
                                            original[i].compare(0, line.size(), line) == 0))
            << "line " << i << " of " << line.size() << " bytes, "
            << std::count(line.begin(), line.end(), '\0') << " of them zeros";
    }
    if (GetParam().endsAsRead) {
        EXPECT_EQ(inPlace.error, "");
        EXPECT_EQ(inPlace.lines, copied.lines);
    } else {
        EXPECT_EQ(inPlace.error, path + ": the file shrank while it was read");
        EXPECT_GE(inPlace.lines.size(), 100u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cuts, FileCutWhileRead, ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ipcountry::analysis
