// A source file read whatever its packing: the whole text gives the rows of
// the plain file, and a file cut short is refused, never read as a shorter source.
#include "source_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/archives.h"
#include "lookup/error.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ipcountry::analysis::testing::Format;
using ipcountry::analysis::testing::pack;
using ipcountry::data::readSourceFile;
using ipcountry::data::SourceRows;

struct Packing {
    const char* name;
    Format format;
};

void PrintTo(const Packing& p, std::ostream* os) { *os << p.name; }

class SourceFileTest : public testing::TestWithParam<Packing> {
protected:
    void SetUp() override {
        char name[] = "/tmp/ipcountry-source-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        m_dir = name;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_dir / name, std::ios::binary) << bytes;
        return m_dir / name;
    }

    fs::path m_dir;
};

// Long enough to fill many reads of the input layer, so that a cut lands
// past the first buffer that tells the kind of the file.
std::string registryText() {
    std::string records;
    for (int i = 0; i < 20000; ++i)
        records += "ripencc|DE|ipv4|10." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
                   ".0|200|20100712|allocated|x" + std::to_string(i) + "\n";
    return "2|ripencc|1|20000|19830705|20241204|+0100\n" + records;
}

std::string csvText() {
    std::string text = "start,end,country\n";
    for (int i = 0; i < 20000; ++i)
        text += "11." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".0,11." +
                std::to_string(i / 256) + "." + std::to_string(i % 256) + ".99,FR\n";
    return text + "2001:200::,2001:200::ffff,JP\n";
}

TEST_P(SourceFileTest, readsAPackedFileAsThePlainOne) {
    for (const std::string& text : {registryText(), csvText()}) {
        const SourceRows plain = readSourceFile(write("plain", text), m_dir, 1 << 30);
        const SourceRows packed =
            readSourceFile(write("packed", pack(GetParam().format, text)), m_dir, 1 << 30);
        EXPECT_EQ(packed.kind, plain.kind);
        EXPECT_EQ(packed.ipv4, plain.ipv4);
        EXPECT_EQ(packed.ipv6, plain.ipv6);
        EXPECT_EQ(plain.ipv4.size(), 20000u);
    }
}

// The registry file would fail its record count, but a CSV has none: only
// the unpacker can tell that it ended early, and its error must reach us.
TEST_P(SourceFileTest, refusesAPackedFileCutShort) {
    for (const std::string& text : {registryText(), csvText()}) {
        const std::string packed = pack(GetParam().format, text);
        const fs::path cut = write("cut", packed.substr(0, packed.size() * 2 / 3));
        EXPECT_THROW(readSourceFile(cut, m_dir, 1 << 30), ipcountry::lookup::Error);
    }
}

TEST_P(SourceFileTest, refusesAFileThatUnpacksPastTheLimit) {
    const fs::path file = write("big", pack(GetParam().format, csvText()));
    EXPECT_THROW(readSourceFile(file, m_dir, 64 * 1024), ipcountry::data::SourceError);
}

INSTANTIATE_TEST_SUITE_P(Packings, SourceFileTest,
                         testing::Values(Packing{"gzip", Format::Gzip},
                                         Packing{"bzip2", Format::Bzip2}, Packing{"xz", Format::Xz},
                                         Packing{"zstd", Format::Zstd}));

// What a plain file is read as: the family of plain numbers is told by the
// numbers (past 32 bits: IPv6), never both; a NUL makes no MaxMind DB of a
// file without the MaxMind DB metadata marker.
TEST(SourceFileKinds, readsEachFamilyOnceAndTellsKindsBySignature) {
    const struct {
        const char* name;
        std::string text;
        std::size_t ipv4, ipv6;
        const char* error;  // nullptr: read
    } cases[] = {
        {"ipv4Numbers", "16777216,16777471,AU\n16777472,16778239,CN\n", 2, 0, nullptr},
        {"ipv6Numbers",
         "0,255,AU\n"
         "42540766411282592856903984951653826560,42540766490510755371168322545197776895,DE\n",
         0, 2, nullptr},
        {"bothFamiliesAsText", "1.0.0.0,1.0.0.255,AU\n2001:200::,2001:200::ffff,JP\n", 1, 1,
         nullptr},
        {"aNulInACsv", std::string("1.0.0.0,1.0.0.255,AU\n1.0.1.0,1.0.1.255,A\0\n", 42), 0, 0,
         "line 2: "},
        {"aNulThenTheMetadataMarker", std::string("\0\0\0\xAB\xCD\xEFMaxMind.com", 17), 0, 0,
         "not a MaxMind DB file"},
    };
    const ipcountry::test::TempDir dir("ipcountry-source-kinds");
    for (const auto& c : cases) {
        const fs::path file = dir.path() / c.name;
        std::ofstream(file, std::ios::binary) << c.text;
        try {
            const SourceRows rows = readSourceFile(file, dir.path(), 1 << 30);
            EXPECT_EQ(c.error, nullptr) << c.name;
            EXPECT_EQ(rows.kind, SourceRows::Kind::Csv) << c.name;
            EXPECT_EQ(rows.ipv4.size(), c.ipv4) << c.name;
            EXPECT_EQ(rows.ipv6.size(), c.ipv6) << c.name;
        } catch (const std::exception& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
}

}  // namespace
