// Flag pictures come from a folder users can edit: a missing folder, a
// truncated or fake GIF, or a code that is not two letters all end in "no
// flag" with a message that says why, never in a crash or a file outside
// the folder.
#include "ui/flag_cache.h"

#include <QFile>

#include <gtest/gtest.h>

#include "lookup/country_table.h"
#include "test_data_dir.h"

namespace ipcountry::ui {
namespace {

using test::TestDataDir;

struct FlagCase {
    const char* code;
    bool picture;
    const char* error;  // the start of the message when there is no picture
};

TEST(FlagCacheHostile, loadsOnlyWholePicturesOfTwoLetterCodes) {
    TestDataDir data;
    data.copyFlag(QStringLiteral("DE"));
    QFile::copy(data.file(QStringLiteral("flags/DE.gif")), data.file(QStringLiteral("..gif")));
    QFile whole(data.file(QStringLiteral("flags/DE.gif")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    data.writeFile(QStringLiteral("flags/TR.gif"), bytes.left(20).toStdString());
    data.writeFile(QStringLiteral("flags/NP.gif"), "this is not a picture\r\n");
    data.writeFile(QStringLiteral("flags/ZZ.gif"), "");

    const FlagCase cases[] = {
        {"DE", true, ""},
        {"FR", false, "File not found: "},
        {"TR", false, "Cannot read the picture "},
        {"NP", false, "Cannot read the picture "},
        {"ZZ", false, "Cannot read the picture "},
        {"..", false, "No flag picture for the code"},
        {"/.", false, "No flag picture for the code"},
        {"D/", false, "No flag picture for the code"},
        {"", false, "No flag picture for the code"},
        {"DEU", false, "No flag picture for the code"},
        {"1A", false, "No flag picture for the code"},
    };
    FlagCache flags(data.path() / "");
    for (const auto& c : cases) {
        QString error;
        const QImage image = flags.loadFlag(QString::fromLatin1(c.code), &error);
        EXPECT_EQ(!image.isNull(), c.picture) << c.code;
        if (c.picture) {
            EXPECT_TRUE(error.isEmpty()) << c.code;
        } else {
            EXPECT_TRUE(error.startsWith(QString::fromLatin1(c.error)))
                << c.code << ": " << error.toStdString();
        }
        EXPECT_TRUE(flags.smallFlag(QString::fromLatin1(c.code)).isNull() != c.picture) << c.code;
    }
}

TEST(FlagCacheHostile, missingFlagsFolderMeansNoFlags) {
    TestDataDir data;
    QDir(data.file(QStringLiteral("flags"))).removeRecursively();
    FlagCache flags(data.path());
    QString error;
    EXPECT_TRUE(flags.loadFlag(QStringLiteral("DE"), &error).isNull());
    EXPECT_TRUE(error.startsWith(QStringLiteral("File not found: ")));
    auto table = lookup::parseCountryTable("DEGermany\r\n", "Country.dbf");
    EXPECT_TRUE(flags.slotFlag(table, 0).isNull());
    EXPECT_TRUE(flags.slotFlag(table, lookup::kUsSlot).isNull());
}

}  // namespace
}  // namespace ipcountry::ui
