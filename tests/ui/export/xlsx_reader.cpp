#include "ui/export/xlsx_reader.h"

#include <zip.h>

#include <QByteArray>
#include <QXmlStreamReader>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace ipcountry::ui::test {

namespace {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::optional<QByteArray> readEntry(zip_t* archive, const char* name) {
    zip_stat_t stat;
    if (zip_stat(archive, name, 0, &stat) != 0) return std::nullopt;
    zip_file_t* file = zip_fopen(archive, name, 0);
    if (file == nullptr) throw std::runtime_error(std::string("cannot open ") + name);
    QByteArray data(static_cast<qsizetype>(stat.size), '\0');
    const zip_int64_t read = zip_fread(file, data.data(), stat.size);
    zip_fclose(file);
    if (read != static_cast<zip_int64_t>(stat.size)) {
        throw std::runtime_error(std::string("short read of ") + name);
    }
    return data;
}

// "_xHHHH_" stands for the character it numbers, as spreadsheet programs
// read it; "_x005F_" keeps a literal sequence of that shape.
std::string decodeEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "_x") == 0 && i + 7 <= text.size() && text[i + 6] == '_') {
            bool ok = false;
            const auto code = QByteArray::fromStdString(text.substr(i + 2, 4)).toUInt(&ok, 16);
            if (ok && text.substr(i + 2, 4).find_first_of("+- ") == std::string::npos) {
                out += QString(QChar(static_cast<char16_t>(code))).toStdString();
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The text of an <si> or <is> element: its <t> runs, rich-text runs included.
std::string readStringItem(QXmlStreamReader& xml) {
    const QString end = xml.name().toString();
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("t")) {
            text += xml.readElementText();
        } else if (xml.isEndElement() && xml.name() == end) {
            break;
        }
    }
    return decodeEscapes(text.toStdString());
}

std::pair<std::int64_t, std::int64_t> parseCell(const QString& reference) {
    std::int64_t column = 0;
    qsizetype i = 0;
    for (; i < reference.size() && reference[i].isLetter(); ++i) {
        column = column * 26 + (reference[i].toLatin1() - 'A' + 1);
    }
    return {reference.mid(i).toLongLong(), column};
}

void check(const QXmlStreamReader& xml, const char* what) {
    if (xml.hasError()) {
        throw std::runtime_error(std::string(what) + ": " + xml.errorString().toStdString());
    }
}

}  // namespace

SheetContents readFirstSheet(const std::filesystem::path& workbook) {
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(workbook.c_str(), ZIP_RDONLY, &error));
    if (!archive) throw std::runtime_error("not a zip archive: " + workbook.string());

    std::vector<std::string> shared;
    if (const auto table = readEntry(archive.get(), "xl/sharedStrings.xml")) {
        QXmlStreamReader xml(*table);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement &&
                xml.name() == QLatin1String("si")) {
                shared.push_back(readStringItem(xml));
            }
        }
        check(xml, "sharedStrings.xml");
    }

    const auto sheet = readEntry(archive.get(), "xl/worksheets/sheet1.xml");
    if (!sheet) throw std::runtime_error("no first sheet in " + workbook.string());
    SheetContents contents;
    QXmlStreamReader xml(*sheet);
    std::pair<std::int64_t, std::int64_t> cell;
    QString type;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto name = xml.name();
        const auto attributes = xml.attributes();
        if (name == QLatin1String("c")) {
            cell = parseCell(attributes.value("r").toString());
            type = attributes.value("t").toString();
        } else if (name == QLatin1String("v")) {
            const QString value = xml.readElementText();
            if (type == QLatin1String("s")) {
                contents.cells[cell] = shared.at(static_cast<std::size_t>(value.toLongLong()));
                ++contents.sharedStrings;
            } else {
                contents.cells[cell] = value.toStdString();
            }
        } else if (name == QLatin1String("is")) {
            contents.cells[cell] = readStringItem(xml);
            ++contents.inlineStrings;
        } else if (name == QLatin1String("autoFilter")) {
            contents.autoFilter = attributes.value("ref").toString().toStdString();
        } else if (name == QLatin1String("col")) {
            const std::int64_t min = attributes.value("min").toLongLong();
            const std::int64_t max = attributes.value("max").toLongLong();
            for (std::int64_t c = min; c <= max; ++c) {
                contents.widths[c] = attributes.value("width").toDouble();
            }
        }
    }
    check(xml, "sheet1.xml");
    return contents;
}

}  // namespace ipcountry::ui::test
