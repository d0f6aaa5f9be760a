#include "ui/flag_cache.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include "analysis/flag_code.h"
#include "lookup/data_folder.h"

namespace ipcountry::ui {

namespace {
constexpr int kSmallHeight = 11;
constexpr int kSmallWidth = 16;

// The code comes from a data file; only a plain two-letter code may become a
// file name, so that no code can reach outside the flags folder.
bool isFlagCode(const QString& code) {
    if (code.size() != 2) {
        return false;
    }
    for (const QChar c : code) {
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) {
            return false;
        }
    }
    return true;
}
}  // namespace

FlagCache::FlagCache(std::filesystem::path dataDir) : m_dataDir(std::move(dataDir)) {}

QString FlagCache::flagPath(const QString& code) const {
    const auto dir = QString::fromStdString((m_dataDir / lookup::kFlagsFolderName).string());
    return QDir(dir).filePath(code + QStringLiteral(".gif"));
}

QImage FlagCache::loadFlag(const QString& code, QString* error) const {
    if (!isFlagCode(code)) {
        if (error) {
            *error = QStringLiteral("No flag picture for the code \"%1\"").arg(code);
        }
        return {};
    }
    const auto path = flagPath(code);
    if (!QFileInfo::exists(path)) {
        if (error) {
            *error = QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(path));
        }
        return {};
    }
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull() && error) {
        *error = QStringLiteral("Cannot read the picture %1: %2")
                     .arg(QDir::toNativeSeparators(path), reader.errorString());
    }
    return image;
}

QIcon FlagCache::smallFlag(const QString& code) {
    if (const auto it = m_small.constFind(code); it != m_small.constEnd()) {
        return *it;
    }
    QIcon icon;
    const QImage image = loadFlag(code, nullptr);
    if (!image.isNull()) {
        // Drawn into a fixed box, so that every row's name starts at the same place.
        QPixmap box(kSmallWidth, kSmallHeight);
        box.fill(Qt::transparent);
        const QImage scaled =
            image.scaled(kSmallWidth, kSmallHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&box);
        painter.drawImage((kSmallWidth - scaled.width()) / 2, (kSmallHeight - scaled.height()) / 2,
                          scaled);
        painter.end();
        icon.addPixmap(box);
    }
    m_small.insert(code, icon);
    return icon;
}

QIcon FlagCache::slotFlag(const lookup::CountryTable& table, int slot) {
    const std::string_view code = analysis::flagCodeOfSlot(table, slot);
    if (code.empty()) {
        return {};
    }
    return smallFlag(QString::fromLatin1(code.data(), static_cast<qsizetype>(code.size())));
}

}  // namespace ipcountry::ui
