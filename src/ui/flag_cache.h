#pragma once

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QString>

#include <filesystem>
#include <string>

namespace ipcountry::lookup {
class CountryTable;
}

namespace ipcountry::ui {

// The flag pictures of the data directory's flags folder: the full pictures
// for "Find", and small icons for the grids, cached by code.
class FlagCache {
public:
    explicit FlagCache(std::filesystem::path dataDir);

    // The path of a code's picture: <dataDir>/flags/<code>.gif.
    QString flagPath(const QString& code) const;
    // Loads a flag picture; an empty image with `error` set when it cannot.
    QImage loadFlag(const QString& code, QString* error) const;
    // A small icon for a grid cell; an empty icon when there is no picture.
    QIcon smallFlag(const QString& code);
    // The icon of the rows counted in a country-table slot.
    QIcon slotFlag(const lookup::CountryTable& table, int slot);

private:
    std::filesystem::path m_dataDir;
    QHash<QString, QIcon> m_small;
};

}  // namespace ipcountry::ui
