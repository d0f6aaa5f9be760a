#include "ui/export/xdg_desktop.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <map>

namespace ipcountry::ui {
namespace {

// Points the freedesktop.org lookup at an empty home of its own, so the
// answer depends on what the test registers, not on this machine.
class XdgDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        const QString none = m_home.filePath("none");
        set("XDG_CONFIG_HOME", m_home.filePath("config"));
        set("XDG_CONFIG_DIRS", none);
        set("XDG_DATA_HOME", m_home.filePath("data"));
        set("XDG_DATA_DIRS", none);
        // The generic lookup, whatever desktop the tests run under.
        set("XDG_CURRENT_DESKTOP", "");
        set("DESKTOP_SESSION", "");
        QDir().mkpath(m_home.filePath("config"));
        QDir().mkpath(m_home.filePath("data/applications"));
    }

    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value.isNull()) {
                qunsetenv(name.constData());
            } else {
                qputenv(name.constData(), value);
            }
        }
    }

    void registerProgram(bool withDesktopFile) {
        write("config/mimeapps.list",
              QString("[Default Applications]\n%1=sheets.desktop\n").arg(kWorkbookMimeType));
        if (withDesktopFile) {
            write("data/applications/sheets.desktop",
                  QString("[Desktop Entry]\nType=Application\nName=Sheets\nExec=true %f\n"
                          "MimeType=%1;\n")
                      .arg(kWorkbookMimeType));
        }
    }

private:
    void set(const char* name, const QString& value) {
        if (!m_saved.count(name)) {
            m_saved[name] = qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
        }
        qputenv(name, value.toLocal8Bit());
    }

    void write(const QString& path, const QString& text) {
        QFile file(m_home.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    QTemporaryDir m_home;
    std::map<QByteArray, QByteArray> m_saved;
};

TEST_F(XdgDesktopTest, saysWhyWhenNoProgramOpensWorkbooks) {
    XdgDesktop desktop;
    EXPECT_EQ(desktop.missingSpreadsheetProgram(),
              "No program is registered to open spreadsheet files (" +
                  std::string(kWorkbookMimeType) +
                  "). Install a spreadsheet program and try again.");
}

TEST_F(XdgDesktopTest, aDefaultWhoseProgramIsGoneCountsAsNone) {
    registerProgram(false);
    XdgDesktop desktop;
    EXPECT_FALSE(desktop.missingSpreadsheetProgram().empty());
}

TEST_F(XdgDesktopTest, findsTheRegisteredProgram) {
    registerProgram(true);
    XdgDesktop desktop;
    EXPECT_EQ(desktop.missingSpreadsheetProgram(), "");
}

}  // namespace
}  // namespace ipcountry::ui
