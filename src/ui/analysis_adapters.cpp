#include "ui/analysis_adapters.h"

#include <QStringDecoder>

#include <algorithm>
#include <stdexcept>

#include "lookup/country_table.h"
#include "ui/messages.h"

namespace ipcountry::ui {

namespace {

// The text as UTF-8: itself when it is ASCII (every address the scanners
// find), else converted into `scratch`.
std::string_view utf8Of(std::string_view text, std::string& scratch) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            scratch.clear();
            lookup::appendWindows1252AsUtf8(scratch, text);
            return scratch;
        }
    }
    return text;
}

}  // namespace

GridSink::GridSink(ResultGrid& grid, const lookup::CountryTable& table)
    : m_grid(grid),
      m_table(table),
      m_countries(2 * lookup::kSlotCount, kUnnamed),
      m_holdUpTo(std::max<std::int64_t>(kBatchRows, (grid.rows() - grid.heldRows()) / 4)) {}

ResultGrid::CountryId GridSink::nameCountry(analysis::Resolution country) {
    if (country.slot < 0 || country.slot >= lookup::kSlotCount) {
        throw std::out_of_range("a row counted outside the country table");
    }
    ResultGrid::CountryId& id =
        m_countries[static_cast<std::size_t>(2 * country.slot + (country.usa ? 1 : 0))];
    if (id == kUnnamed) {
        id = m_grid.addCountry(lookup::windows1252ToUtf8(analysis::countryName(m_table, country)),
                               country.slot);
    }
    return id;
}

void GridSink::appendRow(const analysis::ResultRow& row) {
    const ResultGrid::CountryId country = countryOf(row.country.slot, row.country.usa);
    if (!m_grid.appendPackedResult(row.address, row.port, country)) {
        m_grid.appendResult(utf8Of(row.address, m_ip), utf8Of(row.port, m_port), country);
    }
    flush();
}

void GridSink::showAll() {
    m_grid.announceRows();
    m_holdUpTo = std::max<std::int64_t>(kBatchRows, m_grid.rows() / 4);
}

bool DialogPrompter::askContinue(const analysis::FailingLine& line) {
    m_sink.showAll();
    return m_dialogs.askYesNo(m_parent, messageText(continuePrompt(failingLineDescription(line))),
                              Dialogs::Icon::Critical);
}

void DialogPrompter::showError(const lookup::Error& error) {
    m_sink.showAll();
    m_dialogs.message(m_parent, messageText(wrongDataMessage(errorDescription(error))),
                      Dialogs::Icon::None);
}

bool BatchProgress::update(std::uint64_t bytesRead, std::uint64_t bytesTotal) {
    m_sink.flush();
    return m_dialog ? m_dialog->update(bytesRead, bytesTotal) : true;
}

QString messageText(std::string_view text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) {
        return decoded;
    }
    return QString::fromStdString(lookup::windows1252ToUtf8(text));
}

}  // namespace ipcountry::ui
