// The index saved beside a range file: answers as the text it was built from,
// tied to that text, and a stale or damaged one never answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lookup/address_key.h"
#include "lookup/range_file.h"
#include "support/temp_dir.h"

namespace ipcountry::lookup {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kCodes[] = {"DE", "US", "FR", "AU", "ZZ"};

// A well-formed range file of `n` ascending starts drawn by `draw`, closed by ZZ.
template <class Family>
std::string rangeText(std::mt19937_64& rng, std::size_t n,
                      const std::function<typename Family::Address(std::mt19937_64&)>& draw) {
    std::vector<typename Family::Address> starts(n);
    for (auto& start : starts) start = draw(rng);
    std::sort(starts.begin(), starts.end());
    std::string text = Family::toKey(typename Family::Address{}) + "ZZ\r\n";
    for (const auto& start : starts) text += Family::toKey(start) + kCodes[rng() % 5] + "\r\n";
    return text;
}

// Every address drawn, and each start and its neighbours: the answers of the
// saved index against those of the parsed text, one by one and in batches.
template <class Family>
void expectSameAnswers(const BasicRangeIndex<Family>& saved, const BasicRangeIndex<Family>& parsed,
                       std::vector<typename Family::Address> addresses) {
    std::vector<std::uint16_t> fromSaved(addresses.size()), fromParsed(addresses.size());
    saved.findPackedCodes(addresses.data(), fromSaved.data(), addresses.size());
    parsed.findPackedCodes(addresses.data(), fromParsed.data(), addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        ASSERT_EQ(fromSaved[i], fromParsed[i]) << Family::toKey(addresses[i]);
        ASSERT_EQ(saved.findCountryCode(addresses[i]), parsed.findCountryCode(addresses[i]))
            << Family::toKey(addresses[i]);
    }
}

template <class Family>
struct SavedCase {
    const char* name;
    std::size_t starts;
    std::function<typename Family::Address(std::mt19937_64&)> draw;
};

template <class Family>
void checkSavedAgainstParsed(const SavedCase<Family>& c, std::uint64_t seed) {
    TempDir dir;
    std::mt19937_64 rng(seed);
    const std::string text = rangeText<Family>(rng, c.starts, c.draw);
    const auto parsed = BasicRangeIndex<Family>::fromContent(text);
    ASSERT_TRUE(parsed.usesIndex()) << c.name;
    const RangeTextStamp stamp{text.size(), 1234, 99};
    const fs::path path = dir.path() / "index";
    ASSERT_TRUE(parsed.saveIndex(path, stamp)) << c.name;
    SavedIndex found{};
    const auto saved = BasicRangeIndex<Family>::fromSavedIndex(path, stamp, found);
    ASSERT_TRUE(saved) << c.name;
    EXPECT_EQ(found, SavedIndex::Used);
    std::vector<typename Family::Address> addresses;
    for (const auto& line : splitRangeLines(text)) {
        const auto start = *Family::fromKey(std::string_view(line).substr(0, Family::kKeyLength));
        auto below = start, above = start;
        addresses.insert(addresses.end(), {start, --below, ++above});
    }
    for (int i = 0; i < 20000; ++i) addresses.push_back(c.draw(rng));
    typename Family::Address lowest{}, highest{};
    addresses.insert(addresses.end(), {lowest, --highest});
    expectSameAnswers(*saved, parsed, addresses);
}

TEST(SavedRangeIndex, answersAsTheParsedTextForIpv4) {
    const SavedCase<Ipv4Ranges> cases[] = {
        {"empty but for its first line", 0, [](auto& rng) { return std::uint32_t(rng()); }},
        {"one range", 1, [](auto& rng) { return std::uint32_t(rng()); }},
        {"spread over every bucket", 40000, [](auto& rng) { return std::uint32_t(rng()); }},
        // Thousands of starts in a few buckets: inner nodes on two levels.
        {"deep buckets", 30000,
         [](auto& rng) { return std::uint32_t((rng() % 3) << 16 | (rng() & 0xFFFF)); }},
        // The top of a bucket, which the padding of the nodes also uses.
        {"bucket tops", 3000,
         [](auto& rng) { return std::uint32_t((rng() % 50) << 16 | (0xFFFF - rng() % 3)); }},
    };
    for (const auto& c : cases) checkSavedAgainstParsed(c, 20261208);
}

TEST(SavedRangeIndex, answersAsTheParsedTextForIpv6) {
    const SavedCase<Ipv6Ranges> cases[] = {
        {"spread", 20000,
         [](auto& rng) {
             return Address6{rng(), rng()};
         }},
        // Starts that differ only below the tree's 64-bit prefix: the exact
        // search through the saved buckets decides.
        {"prefixes that cannot tell", 5000,
         [](auto& rng) {
             return Address6{0x2A02000000000000ULL | (rng() % 4) << 32,
                             (rng() % 2) << 48 | rng() % 7};
         }},
        {"one deep bucket", 20000,
         [](auto& rng) {
             return Address6{0x2A01000000000000ULL | (rng() >> 16), rng()};
         }},
    };
    for (const auto& c : cases) checkSavedAgainstParsed(c, 20261209);
}

class SavedIndexOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 rng(7);
        m_text = rangeText<Ipv4Ranges>(rng, 3000, [](auto& r) { return std::uint32_t(r()); });
        writeBytes(textPath(), m_text);
        m_parsed = RangeIndex::fromContent(m_text);
        for (int i = 0; i < 5000; ++i) m_addresses.push_back(static_cast<std::uint32_t>(rng()));
    }
    fs::path textPath() const { return m_dir.path() / "IP_db.dbf"; }
    fs::path indexPath() const { return m_dir.path() / "IP_db.dbf.index"; }
    // A fresh reader, as a new process would be; its answers against the text's.
    void expectAnswersOfText(RangeFile& ranges) {
        ranges.open();
        expectSameAnswers(ranges.index(), m_parsed, m_addresses);
    }

    TempDir m_dir;
    std::string m_text;
    RangeIndex m_parsed;
    std::vector<std::uint32_t> m_addresses;
};

TEST_F(SavedIndexOnDisk, isSavedAtTheFirstReadingAndUsedAfter) {
    RangeFile first(m_dir.path());
    first.saveIndexBeside(true);
    expectAnswersOfText(first);
    EXPECT_EQ(first.savedIndex(), SavedIndex::Missing);
    EXPECT_TRUE(first.indexSaved());
    ASSERT_TRUE(fs::exists(indexPath()));
    RangeFile second(m_dir.path());
    second.saveIndexBeside(true);
    expectAnswersOfText(second);
    EXPECT_EQ(second.savedIndex(), SavedIndex::Used);
    EXPECT_FALSE(second.indexSaved());
}

// A text changed after its index was saved: by size, or in place with its
// size and time kept (which only the fingerprint tells).
TEST_F(SavedIndexOnDisk, staleIndexIsRebuiltFromTheText) {
    struct Change {
        const char* name;
        std::function<std::string(std::string)> edit;
        bool keepTime;
    };
    const Change changes[] = {
        {"a line more", [](std::string t) { return t + "FFFFFFFFZZ\r\n"; }, false},
        {"first code changed, time kept", [](std::string t) { return t.replace(8, 2, "DE"); },
         true},
        {"last code changed, time kept",
         [](std::string t) { return t.replace(t.size() - 4, 2, "FR"); }, true},
    };
    for (const auto& change : changes) {
        writeBytes(textPath(), m_text);
        ASSERT_TRUE(saveRangeIndexOf<Ipv4Ranges>(textPath()));
        struct stat before {};
        ASSERT_EQ(::stat(textPath().c_str(), &before), 0);
        m_text = change.edit(m_text);
        m_parsed = RangeIndex::fromContent(m_text);
        writeBytes(textPath(), m_text);
        if (change.keepTime) {
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, textPath().c_str(), times, 0), 0);
        }
        RangeFile ranges(m_dir.path());
        ranges.saveIndexBeside(true);
        expectAnswersOfText(ranges);
        EXPECT_EQ(ranges.savedIndex(), SavedIndex::Stale) << change.name;
        EXPECT_TRUE(ranges.indexSaved()) << change.name;
        RangeFile after(m_dir.path());
        after.saveIndexBeside(true);
        expectAnswersOfText(after);
        EXPECT_EQ(after.savedIndex(), SavedIndex::Used) << change.name;
    }
}

// Damage of every kind the file system or a user can do: cut short,
// emptied, another file in its place, bytes overwritten. The reader never
// reads outside the file (the sanitizer build watches), answers from the
// text whenever the damage shows, and saves a sound index in its place.
TEST_F(SavedIndexOnDisk, damagedIndexIsRefusedAndRebuilt) {
    ASSERT_TRUE(saveRangeIndexOf<Ipv4Ranges>(textPath()));
    const std::string sound = readBytes(indexPath());
    struct Damage {
        const char* name;
        std::function<std::string(std::string)> edit;
    };
    const Damage damages[] = {
        {"empty", [](std::string) { return std::string(); }},
        {"header only", [](std::string b) { return b.substr(0, 100); }},
        {"cut in its tables", [](std::string b) { return b.substr(0, b.size() / 2); }},
        {"last byte missing", [](std::string b) { return b.substr(0, b.size() - 1); }},
        {"a byte more", [](std::string b) { return b + "x"; }},
        {"magic", [](std::string b) { return b.replace(0, 1, "J"); }},
        {"a count in the header", [](std::string b) { return b.replace(44, 1, "\x7f"); }},
        {"the range file itself", [this](std::string) { return m_text; }},
    };
    for (const auto& damage : damages) {
        writeBytes(indexPath(), damage.edit(sound));
        RangeFile ranges(m_dir.path());
        ranges.saveIndexBeside(true);
        expectAnswersOfText(ranges);
        EXPECT_EQ(ranges.savedIndex(), SavedIndex::Damaged) << damage.name;
        EXPECT_TRUE(ranges.indexSaved()) << damage.name;
        EXPECT_EQ(readBytes(indexPath()), sound) << damage.name;
    }
    // Runs of large numbers written over the tables, which the header does
    // not cover: links into the tree that lead outside it stay within it;
    // codes may come out wrong, but nothing is read outside the file.
    std::mt19937_64 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::string bytes = sound;
        const std::size_t at = 128 + rng() % (bytes.size() - 160);
        const char fill = static_cast<char>(rng() % 2 ? 0xFF : rng());
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 1 + rng() % 24, fill);
        writeBytes(indexPath(), bytes);
        RangeFile ranges(m_dir.path());
        ranges.saveIndexBeside(true);
        ranges.open();
        std::vector<std::uint16_t> codes(m_addresses.size());
        ranges.index().findPackedCodes(m_addresses.data(), codes.data(), codes.size());
        for (const std::uint32_t address : m_addresses)
            (void)ranges.index().findCountryCode(address);
        EXPECT_NE(ranges.savedIndex(), SavedIndex::Missing);
    }
}

// The updater's folders name their files through links into a generation:
// the index goes beside the file the link names, so that a new generation
// never meets the old one's index.
TEST_F(SavedIndexOnDisk, isSavedBesideTheFileALinkNames) {
    fs::create_directories(m_dir.path() / ".gen-1");
    fs::rename(textPath(), m_dir.path() / ".gen-1" / "IP_db.dbf");
    fs::create_directory_symlink(".gen-1", m_dir.path() / ".current");
    fs::create_symlink(".current/IP_db.dbf", textPath());
    RangeFile ranges(m_dir.path());
    ranges.saveIndexBeside(true);
    expectAnswersOfText(ranges);
    EXPECT_TRUE(fs::exists(m_dir.path() / ".gen-1" / "IP_db.dbf.index"));
    EXPECT_FALSE(fs::exists(indexPath()));
    RangeFile again(m_dir.path());
    again.saveIndexBeside(true);
    expectAnswersOfText(again);
    EXPECT_EQ(again.savedIndex(), SavedIndex::Used);
}

// Whether a file is whole is kept in its index: choosing a data folder
// answers the same from the index as from the text, for files that are
// indexed but not whole as well.
TEST_F(SavedIndexOnDisk, keepsWhetherTheTextIsWhole) {
    const struct {
        const char* name;
        std::string text;
        bool whole;
    } cases[] = {
        {"as the converter writes", "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n", true},
        {"no line end at the end", "00000000ZZ\r\n01000000AU\r\n01000100ZZ", false},
        {"no closing line", "00000000ZZ\r\n01000000AU\r\n", false},
        {"a start repeated", "00000000ZZ\r\n01000000AU\r\n01000000ZZ\r\n", false},
        {"a longer line", "00000000ZZ\r\n01000000xxAU\r\n01000100ZZ\r\n", false},
        {"first start above 0", "01000000AU\r\n01000100ZZ\r\n", false},
    };
    for (const auto& c : cases) {
        fs::remove(indexPath());
        writeBytes(textPath(), c.text);
        EXPECT_EQ(rangeFileIsWhole<Ipv4Ranges>(textPath()), c.whole) << c.name;
        EXPECT_FALSE(fs::exists(indexPath())) << c.name << ": choosing a folder writes nothing";
        ASSERT_TRUE(saveRangeIndexOf<Ipv4Ranges>(textPath())) << c.name;
        RangeFile ranges(m_dir.path());
        ranges.saveIndexBeside(true);
        ranges.open();
        EXPECT_EQ(ranges.savedIndex(), SavedIndex::Used) << c.name;
        EXPECT_EQ(ranges.index().wholeFile(), c.whole) << c.name;
        EXPECT_EQ(rangeFileIsWhole<Ipv4Ranges>(textPath()), c.whole) << c.name;
    }
    EXPECT_FALSE(rangeFileIsWhole<Ipv4Ranges>(m_dir.path() / "missing"));
}

// A text that cannot be indexed (its starts descend) gets no saved index:
// the reference scan answers it each time, by its pairs of lines in order.
TEST_F(SavedIndexOnDisk, textWithoutAnIndexSavesNone) {
    writeBytes(textPath(), "00000000ZZ\r\n0B000000BB\r\n0A000000AA\r\n0C000000ZZ\r\n");
    RangeFile ranges(m_dir.path());
    ranges.saveIndexBeside(true);
    ranges.open();
    EXPECT_FALSE(ranges.indexSaved());
    EXPECT_FALSE(fs::exists(indexPath()));
    EXPECT_EQ(ranges.index().findCountryCode(0x0B000001u), "AA");
}

// A reader not told that the folder is the user's own (a packaged or
// system folder, or one of another user) parses the text and writes
// nothing there, whatever it found in place of the index.
TEST_F(SavedIndexOnDisk, readerOfAnotherFolderWritesNothing) {
    const auto listing = [this] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const struct {
        const char* name;
        std::function<void()> prepare;
        SavedIndex found;
    } cases[] = {
        {"no index", [] {}, SavedIndex::Missing},
        {"a stale index",
         [this] {
             ASSERT_TRUE(saveRangeIndexOf<Ipv4Ranges>(textPath()));
             writeBytes(textPath(), m_text + "FFFFFFFFZZ\r\n");
         },
         SavedIndex::Stale},
        {"a damaged index", [this] { writeBytes(indexPath(), "IPCRIDX1"); }, SavedIndex::Damaged},
    };
    for (const auto& c : cases) {
        fs::remove(indexPath());
        writeBytes(textPath(), m_text);
        c.prepare();
        m_parsed = RangeIndex::fromContent(readBytes(textPath()));
        const auto before = listing();
        const std::string indexBefore = fs::exists(indexPath()) ? readBytes(indexPath()) : "";
        RangeFile ranges(m_dir.path());
        expectAnswersOfText(ranges);
        EXPECT_EQ(ranges.savedIndex(), c.found) << c.name;
        EXPECT_FALSE(ranges.indexSaved()) << c.name;
        EXPECT_EQ(listing(), before) << c.name;
        if (fs::exists(indexPath())) {
            EXPECT_EQ(readBytes(indexPath()), indexBefore) << c.name;
        }
    }
}

// An index shipped with its range file: both installed with their times cut
// to the second, as a package keeps them. It still matches; a file of
// another time or size in its place does not, and is answered from its text.
TEST_F(SavedIndexOnDisk, shippedIndexMatchesItsFileToTheSecond) {
    const auto setTime = [this](std::int64_t seconds, long nanoseconds) {
        struct timespec times[2] = {};
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
        times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
        ASSERT_EQ(::utimensat(AT_FDCWD, textPath().c_str(), times, 0), 0);
    };
    const std::int64_t built = 1765000000;
    const struct {
        const char* name;
        std::int64_t seconds;
        long nanoseconds;
        std::string text;  // empty: the same text
        SavedIndex found;
    } cases[] = {
        {"installed: the same second", built, 0, "", SavedIndex::Used},
        {"the same second, other nanoseconds", built, 999999999, "", SavedIndex::Used},
        {"a second later", built + 1, 500000000, "", SavedIndex::Stale},
        {"a second earlier", built - 1, 500000000, "", SavedIndex::Stale},
        {"another file of another size, the same time", built, 500000000, "a line more",
         SavedIndex::Stale},
    };
    for (const auto& c : cases) {
        writeBytes(textPath(), m_text);
        setTime(built, 500000000);
        ASSERT_TRUE(saveRangeIndexOf<Ipv4Ranges>(textPath()));
        const std::string text = c.text.empty() ? m_text : m_text + "FFFFFFFFZZ\r\n";
        writeBytes(textPath(), text);
        setTime(c.seconds, c.nanoseconds);
        m_parsed = RangeIndex::fromContent(text);
        RangeFile ranges(m_dir.path());
        expectAnswersOfText(ranges);
        EXPECT_EQ(ranges.savedIndex(), c.found) << c.name;
    }
}

}  // namespace
}  // namespace ipcountry::lookup
