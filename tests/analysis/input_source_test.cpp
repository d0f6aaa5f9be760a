// Compressed logs as the analyses read them, good and damaged, and inputs
// that never end. The files in tests/data/compressed/ are written by its
// make-fixtures script.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/input_source.h"
#include "analysis/line_reader.h"
#include "archives.h"
#include "fakes.h"

namespace ipcountry::analysis::testing {
namespace {

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/compressed/";
constexpr std::string_view kRanges =
    "00000000ZZ\r\n0A000000DE\r\n0B000000FR\r\n0C000000DE\r\n0D000000ZZ\r\n";

// Log lines, one address each, in the ranges above; drawn at random so that
// they pack to about a quarter of their size, as real logs do.
std::string logText(int lines, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    for (int n = 0; n < lines; ++n) {
        const std::string address =
            std::to_string(10 + random() % 3) + "." + std::to_string(random() % 256) + "." +
            std::to_string(random() % 256) + "." + std::to_string(random() % 256);
        text += std::to_string(n) + " sshd[" + std::to_string(random() % 99999) +
                "]: Accepted from " + address + " port " + std::to_string(random() % 65536) +
                "\r\n";
    }
    return text;
}

// Two texts that pack to more than the reader's input buffer and read-ahead chunk.
const std::string& firstText() {
    static const std::string text = logText(12000, 1);
    return text;
}
const std::string& secondText() {
    static const std::string text = logText(6000, 2);
    return text;
}

const std::string& packed(Format format, int which) {
    static std::map<std::pair<Format, int>, std::string> cache;
    std::string& bytes = cache[{format, which}];
    if (bytes.empty()) bytes = pack(format, which == 1 ? firstText() : secondText());
    return bytes;
}

// A case's file, and the texts its rows are checked against.
struct Archive {
    Format format;
    std::string bytes;
    std::string text;   // all that the file was made from
    std::string first;  // its first member, stream or frame
};

Archive committed(const char* file, Format format) {
    std::ifstream in(kDir + file, std::ios::binary);
    std::ifstream log(kDir + "log.txt", std::ios::binary);
    return {format, std::string(std::istreambuf_iterator<char>(in), {}),
            std::string(std::istreambuf_iterator<char>(log), {}), ""};
}

// Where a file of two members, streams or frames ends.
enum class Cut {
    None,
    InFirstHeader,
    InSecondHeader,
    InSecondsMiddle,
    InEndMarker,  // the last bytes (trailer, checksum, end marker) missing
};

Archive twoParts(Format format, Cut cut) {
    const std::string& first = packed(format, 1);
    const std::string& second = packed(format, 2);
    std::string bytes = first + second;
    // Inside the header of each format, and the bytes of its end that
    // carry no text: gzip's trailer, bzip2's end marker, xz's stream
    // footer, zstd's checksum.
    const std::size_t header[] = {5, 12, 8, 5};
    const std::size_t end[] = {8, 9, 12, 4};
    const std::size_t at = static_cast<std::size_t>(format);
    switch (cut) {
        case Cut::None:
            break;
        case Cut::InFirstHeader:
            bytes.resize(header[at]);
            break;
        case Cut::InSecondHeader:
            bytes.resize(first.size() + header[at]);
            break;
        case Cut::InSecondsMiddle:
            bytes.resize(first.size() + second.size() / 2);
            break;
        case Cut::InEndMarker:
            bytes.resize(bytes.size() - end[at]);
            break;
    }
    return {format, bytes, firstText() + secondText(), firstText()};
}

// The bytes of a file of two parts, changed by `edit`.
template <class Edit>
std::function<Archive()> edited(Format format, Edit edit) {
    return [format, edit] {
        Archive archive = twoParts(format, Cut::None);
        edit(archive.bytes, packed(format, 1).size());
        return archive;
    };
}

enum class Rows {
    All,       // of the whole text
    None,      // none
    First,     // of the first member, stream or frame, exactly
    Unpacked,  // of the whole lines that the library itself unpacks before the damage
};

struct ArchiveCase {
    std::string name;
    std::function<Archive()> make;
    const char* error;  // what the message says, "" for a normal end
    Rows rows;
};

std::ostream& operator<<(std::ostream& os, const ArchiveCase& c) { return os << c.name; }

// The rows of the free-text run over `text` as a plain file.
std::vector<Row> rowsOf(std::string_view text) {
    Fixture f(kRanges);
    f.freeText(text);
    return f.grid.rows;
}

// The text up to its last line end; a CR that ends the text may be the
// first half of a CRLF, so the line before it is not yet whole.
std::string_view wholeLines(std::string_view text) {
    const std::size_t lf = text.rfind('\n');
    const std::size_t cr =
        text.size() < 2 ? std::string_view::npos : text.rfind('\r', text.size() - 2);
    if (lf == std::string_view::npos && cr == std::string_view::npos) return {};
    return text.substr(0, std::max(lf + 1, cr + 1));
}

class ArchiveTest : public ::testing::TestWithParam<ArchiveCase> {};

// A damaged archive ends the run with a message naming the file; the rows
// of the text unpacked before the damage stay, all of them, and it never
// ends as if the text were complete.
TEST_P(ArchiveTest, givesTheRowsOfItsTextOrSaysWhatIsWrong) {
    const ArchiveCase& c = GetParam();
    const Archive archive = c.make();
    std::string_view expected;
    std::string unpacked;
    switch (c.rows) {
        case Rows::All:
            expected = archive.text;
            break;
        case Rows::None:
            break;
        case Rows::First:
            expected = archive.first;
            break;
        case Rows::Unpacked:
            unpacked = unpackAsFarAsPossible(archive.format, archive.bytes);
            expected = wholeLines(unpacked);
            break;
    }
    Fixture f(kRanges);
    auto context = f.context();
    const std::string path = f.dir.write("input", archive.bytes);
    const RunResult result = runFreeTextScan(path, context);

    if (std::string(c.error).empty()) {
        EXPECT_EQ(result.status, RunStatus::Completed);
        EXPECT_TRUE(f.prompter.errors.empty()) << f.prompter.errors[0];
    } else {
        EXPECT_EQ(result.status, RunStatus::Stopped);
        ASSERT_EQ(f.prompter.errors.size(), 1u);
        EXPECT_NE(f.prompter.errors[0].find(path), std::string::npos) << f.prompter.errors[0];
        EXPECT_NE(f.prompter.errors[0].find(c.error), std::string::npos) << f.prompter.errors[0];
    }
    const std::vector<Row> rows = rowsOf(expected);
    if (c.rows == Rows::All || c.rows == Rows::First) {
        ASSERT_GT(rows.size(), 500u);
    }
    EXPECT_EQ(f.grid.rows.size(), rows.size());
    EXPECT_EQ(f.grid.rows, rows);
    EXPECT_EQ(f.table.totalHits(), static_cast<std::int64_t>(f.grid.rows.size()));
}

std::vector<ArchiveCase> archiveCases() {
    std::vector<ArchiveCase> cases = {
        {"log_gz", [] { return committed("log.gz", Format::Gzip); }, "", Rows::All},
        {"log_bz2", [] { return committed("log.bz2", Format::Bzip2); }, "", Rows::All},
        {"log_xz", [] { return committed("log.xz", Format::Xz); }, "", Rows::All},
        {"log_zst", [] { return committed("log.zst", Format::Zstd); }, "", Rows::All},
        {"two_members_gz", [] { return committed("two-members.gz", Format::Gzip); }, "", Rows::All},
        {"empty_gz", [] { return committed("empty.gz", Format::Gzip); }, "", Rows::None},
        {"empty_zst", [] { return committed("empty.zst", Format::Zstd); }, "", Rows::None},
        {"truncated_gz", [] { return committed("truncated.gz", Format::Gzip); }, "cut short",
         Rows::Unpacked},
        {"corrupt_second_member_gz",
         [] { return committed("corrupt-second-member.gz", Format::Gzip); }, "damaged",
         Rows::Unpacked},
        // The checksum is looked at once the whole text is out.
        {"bad_checksum_zst", [] { return committed("bad-checksum.zst", Format::Zstd); }, "damaged",
         Rows::All},
        {"garbage_after_member_gz",
         [] { return committed("garbage-after-member.gz", Format::Gzip); }, "damaged", Rows::All},
    };
    for (const auto& [format, name] : {std::pair{Format::Gzip, "gz"},
                                       {Format::Bzip2, "bz2"},
                                       {Format::Xz, "xz"},
                                       {Format::Zstd, "zst"}}) {
        const std::string suffix = std::string("_") + name;
        const auto cut = [format](Cut where) { return [=] { return twoParts(format, where); }; };
        cases.insert(
            cases.end(),
            {
                {"random_after_magic" + suffix,
                 [=] {
                     return committed(("random-after-magic." + std::string(name)).c_str(), format);
                 },
                 "damaged", Rows::None},
                {"two_joined" + suffix, cut(Cut::None), "", Rows::All},
                {"nothing_packed" + suffix,
                 [=] {
                     return Archive{format, pack(format, ""), "", ""};
                 },
                 "", Rows::None},
                // An empty part first and between: the first bytes are an empty one's.
                {"empty_parts_around" + suffix,
                 [=] {
                     const std::string empty = pack(format, "");
                     return Archive{format, empty + packed(format, 1) + empty + packed(format, 2),
                                    firstText() + secondText(), ""};
                 },
                 "", Rows::All},
                {"cut_in_first_header" + suffix, cut(Cut::InFirstHeader), "cut short", Rows::None},
                {"cut_in_second_header" + suffix, cut(Cut::InSecondHeader), "cut short",
                 Rows::First},
                {"cut_in_seconds_middle" + suffix, cut(Cut::InSecondsMiddle), "cut short",
                 Rows::Unpacked},
                {"cut_in_end_marker" + suffix, cut(Cut::InEndMarker), "cut short", Rows::All},
                {"damaged_in_second_header" + suffix,
                 edited(format,
                        [](std::string& bytes, std::size_t first) { bytes[first + 2] ^= 0x55; }),
                 "damaged", Rows::First},
            });
    }
    const std::string skippable("\x50\x2A\x4D\x18\x04\0\0\0skip", 12);
    cases.insert(cases.end(),
                 {
                     // gzip without -n keeps the file's name in the header.
                     {"member_with_file_name_gz",
                      edited(Format::Gzip,
                             [](std::string& bytes, std::size_t) {
                                 bytes[3] |= 0x08;
                                 bytes.insert(10, std::string("log.txt", 8));
                             }),
                      "", Rows::All},
                     {"second_member_of_unknown_block_type_gz",
                      edited(Format::Gzip, [](std::string& bytes,
                                              std::size_t first) { bytes[first + 10] |= 0x06; }),
                      "damaged", Rows::First},
                     {"second_members_checksum_wrong_gz",
                      edited(Format::Gzip, [](std::string& bytes,
                                              std::size_t) { bytes[bytes.size() - 8] ^= 0x55; }),
                      "damaged", Rows::All},
                     {"padding_between_streams_xz",
                      edited(Format::Xz,
                             [](std::string& bytes, std::size_t first) {
                                 bytes.insert(first, std::string(4, '\0'));
                             }),
                      "", Rows::All},
                     // pzstd writes one first; `zstd -d` reads past them anywhere.
                     {"skippable_frames_zst",
                      edited(Format::Zstd,
                             [skippable](std::string& bytes, std::size_t first) {
                                 bytes.insert(first, skippable);
                                 bytes.insert(0, skippable);
                             }),
                      "", Rows::All},
                     // Sixteen magics mark a skippable frame: 0x184D2A50 to 0x184D2A5F.
                     {"skippable_frame_of_the_last_magic_first_zst",
                      edited(Format::Zstd,
                             [](std::string& bytes, std::size_t first) {
                                 const std::string last("\x5E\x2A\x4D\x18\x03\0\0\0abc", 11);
                                 bytes.insert(first, last);
                                 bytes.insert(0, last);
                             }),
                      "", Rows::All},
                 });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, ArchiveTest, ::testing::ValuesIn(archiveCases()),
                         [](const auto& info) { return info.param.name; });

// Damage anywhere: the rows of every whole line that the library itself
// can unpack before it finds the damage, then the message. (zstd forgets
// what a failing call wrote: unpacking several blocks a call lost them all.)
TEST(Archive, damageAnywhereKeepsEveryLineUnpackedBeforeIt) {
    for (const Format format : {Format::Gzip, Format::Bzip2, Format::Xz, Format::Zstd}) {
        for (int eighths = 1; eighths < 8; ++eighths) {
            std::string bytes = twoParts(format, Cut::None).bytes;
            bytes.replace(bytes.size() * eighths / 8, 8, 8, '\xFF');
            Fixture f(kRanges);
            auto context = f.context();
            EXPECT_EQ(runFreeTextScan(f.dir.write("input", bytes), context).status,
                      RunStatus::Stopped);
            EXPECT_EQ(f.prompter.errors.size(), 1u);
            const std::vector<Row> rows = rowsOf(wholeLines(unpackAsFarAsPossible(format, bytes)));
            EXPECT_EQ(f.grid.rows.size(), rows.size())
                << static_cast<int>(format) << " at " << eighths << "/8";
            EXPECT_EQ(f.grid.rows, rows);
        }
    }
}

TEST(Archive, textThatOnlyLooksLikeAMagicNumberIsReadAsText) {
    Fixture f(kRanges);
    auto context = f.context();
    EXPECT_EQ(runFreeTextScan(kDir + "magic-looking.txt", context).status, RunStatus::Completed);
    ASSERT_EQ(f.grid.rows.size(), 2u);
    EXPECT_EQ(f.grid.rows[0], (Row{"10.1.2.3", ":80", "Germany", 0}));
}

// A formatted list that breaks off: the question names the line the text
// broke off in, whether that line was not yet read, or was already asked
// about for its length; the rows of the lines before it stay.
TEST(Archive, damagedFormattedListNamesTheLineItBrokeOffIn) {
    std::string lines;
    for (int i = 0; i < 500; ++i)
        lines += "10.1.2." + std::to_string(i % 256) + ":" + std::to_string(i) + "\r\n";
    const std::string longLine = "10.1.2.3:" + std::string(3 << 20, '8');
    struct Case {
        const char* name;
        std::string text;  // the list up to where it breaks off
        std::vector<std::int64_t> questionLines;
    };
    const Case cases[] = {
        {"inALine", lines + "10.1.2.3:4", {501}},
        {"atALineEnd", lines, {501}},
        {"betweenCrAndLf", lines.substr(0, lines.size() - 1), {500}},
        {"inALineOverTheLimit", lines + longLine.substr(0, 200 << 10), {501}},
        {"inALineOverABlock", lines + longLine.substr(0, 5 << 19), {501, 501}},
    };
    for (const Case& c : cases) {
        Fixture f(kRanges);
        // A second member cut in its header: the text ends exactly there.
        const std::string path = f.dir.write(
            "list.gz", pack(Format::Gzip, c.text) + pack(Format::Gzip, "8\r\n").substr(0, 5));
        auto context = f.context();
        EXPECT_EQ(runFormattedList(path, context).status, RunStatus::Stopped) << c.name;
        EXPECT_EQ(f.prompter.questionLines, c.questionLines) << c.name;
        ASSERT_FALSE(f.prompter.questions.empty());
        EXPECT_NE(f.prompter.questions.back().find("cut short"), std::string::npos) << c.name;
        EXPECT_EQ(f.grid.rows.size(), c.questionLines[0] - 1u) << c.name;
    }
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
        // Read once: two readings may differ, and a later one below the
        // baseline would wrap the unsigned difference.
        const std::uint64_t now = residentBytes();
        growth = std::max(growth, now - std::min(now, m_baseline));
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
    for (const auto& [formatted, threads] :
         {std::pair{false, 1u}, {true, 1u}, {false, 2u}, {true, 2u}}) {
        SCOPED_TRACE(threads);
        Fixture f(kRanges);
        f.threads = threads;
        WatchingProgress progress(100);
        auto context = f.context();
        context.progress = &progress;
        const std::string path = kDir + "zeros-10g.bz2";
        const RunResult result =
            formatted ? runFormattedList(path, context) : runFreeTextScan(path, context);
        EXPECT_EQ(result.status, RunStatus::Stopped);
        EXPECT_EQ(progress.updates, 100);
        EXPECT_LE(progress.lastRead, progress.lastTotal);
#if !defined(__SANITIZE_THREAD__)  // its shadow grows with every byte touched
        EXPECT_LT(progress.growth, std::uint64_t{16} << 20);
#endif
        // The formatted list asked about the overlong line once, at its start.
        EXPECT_EQ(f.prompter.questions.size(), formatted ? 1u : 0u);
    }
}

// Reads `path` three times with room for little more than is mapped now, so
// that no unpacker thread's stack fits; exits 0 when every read failed with
// an exception and the input still knows its size and the bytes it read.
[[noreturn]] void readWithoutRoom(const std::string& path, std::uint64_t size) {
    const std::unique_ptr<InputSource> input = openInput(path);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto limit = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE) + (1 << 20));
    const rlimit cap{limit, limit};
    ::setrlimit(RLIMIT_AS, &cap);
    int failures = 0;
    for (int read = 0; read < 3; ++read) {
        char buffer[64];
        std::size_t got = 0;
        try {
            input->read(buffer, sizeof buffer, got);
        } catch (const std::exception&) {
            ++failures;
        }
    }
    const bool known = input->fileSize() == size && input->bytesRead() == 10;
    std::_Exit(failures == 3 && known ? 0 : 1);
}

// An archive whose unpacker cannot start (no thread, no memory) fails the
// read with the reason, and every later read too, while its size and what
// was read of it stay known: the progress asks for them after a failure.
TEST(Archive, unpackerThatCannotStartFailsEveryReadAndKeepsTheSize) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here";
#endif
    // In a fresh process: one that has run threads before keeps their stacks
    // for the next ones, and the limit would not stop them.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* name : {"log.gz", "log.xz"}) {
        SCOPED_TRACE(name);
        const std::string path = kDir + name;
        EXPECT_EXIT(readWithoutRoom(path, std::filesystem::file_size(path)),
                    ::testing::ExitedWithCode(0), "");
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
