#include "ui/batch_bridge.h"

#include <QStringDecoder>

#include <algorithm>

#include "lookup/country_table.h"

namespace ipcountry::ui {

void GridSink::appendRow(std::string_view ip, std::string_view port, std::string_view country,
                         int slot) {
    ResultGrid::Row row;
    row.slot = slot;
    analysis::appendResultRow(row.text, ip, port, country);
    m_pending.push_back(std::move(row));
    if (m_pending.size() >= kBatchRows) {
        flush();
    }
}

void GridSink::flush() {
    if (!m_pending.empty()) {
        m_grid.appendRows(std::move(m_pending), false);
        m_pending.clear();
    }
    const auto shown = m_grid.rows() - m_grid.heldRows();
    if (m_grid.heldRows() >= std::max<std::int64_t>(kBatchRows, shown / 4)) {
        m_grid.announceRows();
    }
}

void GridSink::showAll() {
    flush();
    m_grid.announceRows();
}

bool DialogPrompter::askContinue(std::string_view message, std::int64_t) {
    m_sink.showAll();
    return m_dialogs.askYesNo(m_parent, messageText(message), Dialogs::Icon::Critical);
}

void DialogPrompter::showError(std::string_view message) {
    m_sink.showAll();
    m_dialogs.message(m_parent, messageText(message), Dialogs::Icon::None);
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
