#include "lookup/data_folder.h"
#include "lookup/range_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using ipcountry::lookup::chooseDataFolders;
using ipcountry::lookup::DataFolderPlaces;
using ipcountry::lookup::DataFolders;
using ipcountry::lookup::generationOf;
using ipcountry::lookup::holdsWholeRangeFiles;
using ipcountry::lookup::PassedOverFile;
using Why = PassedOverFile::Why;
using ipcountry::lookup::userDataFolder;

const std::string kZero6(32, '0');
const std::string kWhole4 = "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n";
const std::string kWhole6 = kZero6 + "ZZ\r\n2A000000000000000000000000000000DE\r\n" +
                            "2A010000000000000000000000000000ZZ\r\n";

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-data-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path folder(const std::string& name) const {
        fs::create_directories(m_root / name);
        return m_root / name;
    }
    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path wholeFolder(const std::string& name) const {
        const fs::path dir = folder(name);
        write(dir / "IP_db.dbf", kWhole4);
        write(dir / "IP6_db.dbf", kWhole6);
        return dir;
    }

    fs::path m_root;
};

// A folder counts only when both files are what the converter writes, whole:
// what a cut download, a stray edit or a half-made folder leaves does not.
TEST_F(DataFolderTest, countsOnlyWholeAndValidRangeFiles) {
    const struct {
        const char* name;
        std::string ipv4;  // "-": no such file
        std::string ipv6;
        bool whole;
    } cases[] = {
        {"asTheConverterWrites", kWhole4, kWhole6, true},
        {"lfLineEnds", "00000000ZZ\n01000000AU\n01000100ZZ\n", kWhole6, true},
        {"onlyTheClosingLine", "00000000ZZ\r\n", kZero6 + "ZZ\r\n", true},
        {"noIpv6File", kWhole4, "-", false},
        {"noIpv4File", "-", kWhole6, false},
        {"emptyIpv4File", "", kWhole6, false},
        {"cutInsideTheLastLine", "00000000ZZ\r\n01000000AU\r\n010001", kWhole6, false},
        {"cutAfterALineEndWithoutItsClosingLine", "00000000ZZ\r\n01000000AU\r\n", kWhole6, false},
        {"noLineEndAfterTheClosingLine", "00000000ZZ\r\n01000000AU\r\n01000100ZZ", kWhole6, false},
        {"firstLineAboveAddressZero", "01000000AU\r\n01000100ZZ\r\n", kWhole6, false},
        {"startsDescend", "00000000ZZ\r\n02000000AU\r\n01000100ZZ\r\n", kWhole6, false},
        {"aStartRepeated", "00000000ZZ\r\n01000000AU\r\n01000000ZZ\r\n", kWhole6, false},
        {"lowerCaseHex", "00000000ZZ\r\n0a000000AU\r\n0b000000ZZ\r\n", kWhole6, false},
        {"codeNotTwoLetters", "00000000ZZ\r\n01000000A1\r\n01000100ZZ\r\n", kWhole6, false},
        {"ipv6KeysInTheIpv4File", kWhole6, kWhole6, false},
        {"cutIpv6File", kWhole4, kZero6 + "ZZ\r\n2A000000000000000000000000000000DE\r\n", false},
    };
    for (const auto& c : cases) {
        const fs::path dir = folder(c.name);
        if (c.ipv4 != "-") write(dir / "IP_db.dbf", c.ipv4);
        if (c.ipv6 != "-") write(dir / "IP6_db.dbf", c.ipv6);
        EXPECT_EQ(holdsWholeRangeFiles(dir), c.whole) << c.name;
    }
    const fs::path folders = folder("rangeFilesAreFolders");
    fs::create_directories(folders / "IP_db.dbf");
    fs::create_directories(folders / "IP6_db.dbf");
    EXPECT_FALSE(holdsWholeRangeFiles(folders));
    EXPECT_FALSE(holdsWholeRangeFiles(m_root / "missing"));
}

// The order of the places, and where the country list and the flags come
// from when the chosen folder holds ranges only.
TEST_F(DataFolderTest, choosesTheFirstWholeFolderInOrder) {
    const fs::path packaged = folder("packaged");
    const fs::path user = wholeFolder("user");
    const fs::path system = wholeFolder("system");
    const fs::path broken = folder("broken");
    write(broken / "IP_db.dbf", kWhole4);  // no IPv6 file: an update that died half way
    const fs::path full = wholeFolder("full");
    write(full / "Country.dbf", "DEGermany\r\n");
    fs::create_directories(full / "flags");
    const fs::path given = folder("given");  // empty: its errors will be the run's
    // Larger than the program reads (sparse: it takes no room on disk).
    const fs::path huge = wholeFolder("huge");
    fs::resize_file(huge / "IP6_db.dbf", ipcountry::lookup::kMaxRangeFileBytes + 1);
    // IPv6 ranges cut after a line end: only the closing line is missing.
    const fs::path unclosed = wholeFolder("unclosed");
    write(unclosed / "IP6_db.dbf", kZero6 + "ZZ\r\n2A000000000000000000000000000000DE\r\n");
    const fs::path empty = folder("empty");  // no folder of data: nothing to name
    // An update's links whose generation is gone.
    const fs::path dangling = folder("dangling");
    fs::create_symlink(".current/IP_db.dbf", dangling / "IP_db.dbf");
    fs::create_symlink(".current/IP6_db.dbf", dangling / "IP6_db.dbf");

    const struct {
        const char* name;
        DataFolderPlaces places;
        DataFolders chosen;
    } cases[] = {
        {"userFirst", {std::nullopt, user, system, packaged}, {user, packaged, packaged, {}, true}},
        {"systemWhenTheUsersIsHalfMade",
         {std::nullopt, broken, system, packaged},
         {system, packaged, packaged, {{broken / "IP6_db.dbf", Why::Missing}}, false}},
        {"systemWhenTheUsersIpv6RangesLackTheirClosingLine",
         {std::nullopt, unclosed, system, packaged},
         {system, packaged, packaged, {{unclosed / "IP6_db.dbf", Why::NotWhole}}, false}},
        {"systemWhenTheUsersLinksLeadNowhere",
         {std::nullopt, dangling, system, packaged},
         {system,
          packaged,
          packaged,
          {{dangling / "IP_db.dbf", Why::Missing}, {dangling / "IP6_db.dbf", Why::Missing}},
          false}},
        {"systemWhenTheUsersFolderHoldsNoRangeFiles",
         {std::nullopt, empty, system, packaged},
         {system, packaged, packaged, {}, false}},
        {"bothNamedWhenNeitherIsWhole",
         {std::nullopt, unclosed, huge, packaged},
         {packaged,
          packaged,
          packaged,
          {{unclosed / "IP6_db.dbf", Why::NotWhole}, {huge / "IP6_db.dbf", Why::TooLarge}},
          false}},
        {"systemWhenThereIsNoUserFolder",
         {std::nullopt, m_root / "none", system, packaged},
         {system, packaged, packaged, {}, false}},
        {"noHomeAtAll",
         {std::nullopt, {}, system, packaged},
         {system, packaged, packaged, {}, false}},
        {"packagedWhenNoneIsWhole",
         {std::nullopt, broken, m_root / "none", packaged},
         {packaged, packaged, packaged, {{broken / "IP6_db.dbf", Why::Missing}}, false}},
        {"aFolderWithItsOwnCountryListAndFlags",
         {std::nullopt, full, system, packaged},
         {full, full, full, {}, true}},
        {"systemWhenTheUsersIsTooLargeToRead",
         {std::nullopt, huge, system, packaged},
         {system, packaged, packaged, {{huge / "IP6_db.dbf", Why::TooLarge}}, false}},
        // Its ranges as given; its errors are the run's.
        {"aGivenFolderGivesTheRangesEvenWhenEmpty",
         {given, user, system, packaged},
         {given, packaged, packaged, {}, true}},
        // What ipcountry-update-data --data-dir makes: range files only.
        {"aGivenFolderOfRangeFilesOnlyTakesThePackagedCountryList",
         {user, full, system, packaged},
         {user, packaged, packaged, {}, true}},
        {"aGivenFolderWithItsOwnCountryListAndFlags",
         {full, user, system, packaged},
         {full, full, full, {}, true}},
    };
    for (const auto& c : cases) EXPECT_EQ(chooseDataFolders(c.places), c.chosen) << c.name;
}

// A run saves the ranges' index only in the user's own folder: never in
// the packaged or the system folder (however it is named), nor in a folder
// of another user.
TEST_F(DataFolderTest, savesTheRangeIndexOnlyInTheUsersOwnFolder) {
    const fs::path packaged = wholeFolder("packaged");
    const fs::path system = wholeFolder("system");
    const fs::path user = wholeFolder("user");
    fs::create_directory_symlink(packaged, m_root / "link-to-packaged");
    const struct {
        const char* name;
        DataFolderPlaces places;
        bool saved;
    } cases[] = {
        {"the user's", {std::nullopt, user, system, packaged}, true},
        {"the system's", {std::nullopt, m_root / "none", system, packaged}, false},
        {"the packaged", {std::nullopt, m_root / "none", m_root / "none", packaged}, false},
        {"the packaged, given", {packaged, user, system, packaged}, false},
        {"the packaged, given through a link",
         {m_root / "link-to-packaged", user, system, packaged},
         false},
        {"the system's, given", {system, user, system, packaged}, false},
        {"a folder of the user's, given", {user, {}, system, packaged}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chooseDataFolders(c.places).rangeIndexSaved, c.saved) << c.name;
    if (::geteuid() != 0) GTEST_SKIP() << "a folder of another user needs root to make";
    const fs::path others = wholeFolder("others");
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(chooseDataFolders({others, user, system, packaged}).rangeIndexSaved);
}

TEST(UserDataFolder, followsTheXdgBaseDirectoryRules) {
    const struct {
        const char* xdgDataHome;
        const char* home;
        const char* folder;
    } cases[] = {
        {"/data/me", "/home/me", "/data/me/ipcountry"},
        {nullptr, "/home/me", "/home/me/.local/share/ipcountry"},
        {"", "/home/me", "/home/me/.local/share/ipcountry"},
        {"relative/path", "/home/me", "/home/me/.local/share/ipcountry"},
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
        {"/data/me", nullptr, "/data/me/ipcountry"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(userDataFolder(c.xdgDataHome, c.home), fs::path(c.folder))
            << (c.xdgDataHome ? c.xdgDataHome : "(unset)") << ", " << (c.home ? c.home : "(unset)");
}

// A run of the driver reads the generation an updated folder's .current
// names; anything else that merely looks like it is read as it is.
TEST_F(DataFolderTest, resolvesTheGenerationOfAnUpdatedFolderOnly) {
    const fs::path updated = folder("updated");
    fs::create_directories(updated / ".gen-abc123");
    fs::create_symlink(".gen-abc123", updated / ".current");
    fs::create_symlink(".current/IP_db.dbf", updated / "IP_db.dbf");
    const fs::path own = wholeFolder("own");  // range files of its own
    fs::create_symlink(".gen-abc123", own / ".current");
    const fs::path outside = folder("outside");  // .current leads out of the folder
    fs::create_symlink("../updated/.gen-abc123", outside / ".current");
    fs::create_symlink(".current/IP_db.dbf", outside / "IP_db.dbf");
    const fs::path dangling = folder("dangling");  // a generation already removed
    fs::create_symlink(".gen-gone", dangling / ".current");
    fs::create_symlink(".current/IP_db.dbf", dangling / "IP_db.dbf");

    const struct {
        const char* name;
        fs::path folder;
        fs::path read;
    } cases[] = {
        {"updated", updated, updated / ".gen-abc123"},
        {"ownRangeFiles", own, own},
        {"outside", outside, outside},
        {"dangling", dangling, dangling},
        {"missing", m_root / "none", m_root / "none"},
    };
    for (const auto& c : cases) EXPECT_EQ(generationOf(c.folder), c.read) << c.name;
}

}  // namespace
