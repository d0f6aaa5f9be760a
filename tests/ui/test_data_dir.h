#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <filesystem>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

namespace ipcountry::test {

// A data directory of the program's own kind (Country.dbf, IP_db.dbf,
// flags/), written for one test. Flags are copied from the bundled pictures.
class TestDataDir {
public:
    TestDataDir() {
        EXPECT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkdir(QStringLiteral("flags"));
    }

    std::filesystem::path path() const { return m_dir.path().toStdString(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    void writeFile(const QString& name, const std::string& bytes) const {
        QFile f(file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    // Lines joined with CRLF, as the data files are written.
    void writeLines(const QString& name, std::initializer_list<std::string> lines) const {
        std::string bytes;
        for (const auto& line : lines) {
            bytes += line + "\r\n";
        }
        writeFile(name, bytes);
    }
    void copyFlag(const QString& code) const {
        const QString source = QStringLiteral(IPCOUNTRY_TEST_DATA_DIR "/../../data/flags/") + code +
                               QStringLiteral(".gif");
        ASSERT_TRUE(
            QFile::copy(source, file(QStringLiteral("flags/") + code + QStringLiteral(".gif"))))
            << source.toStdString();
    }

    // The country list and range file of the worked examples: DE Germany in
    // slot 0, FR France in slot 1, United States in slot 222.
    void writeExampleData() const {
        std::string countries = "DEGermany\r\nFRFrance\r\n";
        for (int slot = 2; slot < 222; ++slot) {
            countries += "X" + std::string(1, static_cast<char>('A' + slot % 26)) + "Filler " +
                         std::to_string(slot) + "\r\n";
        }
        countries += "USUnited States\r\n";
        writeFile(QStringLiteral("Country.dbf"), countries);
        writeLines(QStringLiteral("IP_db.dbf"),
                   {"00000000ZZ", "0A000000DE", "0B000000US", "0C000000FR", "0D000000QQ"});
        writeLines(QStringLiteral("IP6_db.dbf"),
                   {"00000000000000000000000000000000ZZ", "20010DB8000000000000000000000000US",
                    "20010DB9000000000000000000000000ZZ"});
        copyFlag(QStringLiteral("DE"));
        copyFlag(QStringLiteral("US"));
    }

private:
    QTemporaryDir m_dir;
};

}  // namespace ipcountry::test
