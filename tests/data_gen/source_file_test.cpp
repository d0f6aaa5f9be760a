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

}  // namespace
