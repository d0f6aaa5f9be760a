#include "lookup/csv_fields.h"

#include <algorithm>
#include <istream>

namespace ipcountry::lookup {

std::string_view splitCsvRecord(std::string_view record, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t pos = 0;
    for (;;) {
        std::string& field = fields.emplace_back();
        if (pos < record.size() && record[pos] == '"') {
            ++pos;
            for (;;) {
                const std::size_t quote = record.find('"', pos);
                if (quote == std::string_view::npos) return "a quoted field has no closing quote";
                field.append(record.substr(pos, quote - pos));
                pos = quote + 1;
                if (pos < record.size() && record[pos] == '"') {
                    field.push_back('"');
                    ++pos;
                    continue;
                }
                break;
            }
            if (pos < record.size() && record[pos] != ',')
                return "a quoted field goes on after its closing quote";
        } else {
            const std::size_t comma = std::min(record.find(',', pos), record.size());
            const std::string_view text = record.substr(pos, comma - pos);
            if (text.find('"') != std::string_view::npos)
                return "a double quote stands inside a field without quotes";
            field.assign(text);
            pos = comma;
        }
        if (pos >= record.size()) return {};
        ++pos;  // the comma: a field follows it, if only an empty one
    }
}

CsvReader::CsvReader(std::istream& in, std::size_t maxRecordBytes)
    : m_in(in), m_maxRecordBytes(maxRecordBytes) {}

namespace {

// Where a scan of a record stands, so that a line's end inside quotes is known.
enum class Scan { FieldStart, Unquoted, Quoted, QuoteInQuoted };

Scan scan(Scan state, std::string_view text) {
    for (const char c : text) {
        switch (state) {
            case Scan::FieldStart:
                state = c == '"' ? Scan::Quoted : (c == ',' ? Scan::FieldStart : Scan::Unquoted);
                break;
            case Scan::Unquoted:
                if (c == ',') state = Scan::FieldStart;
                break;
            case Scan::Quoted:
                if (c == '"') state = Scan::QuoteInQuoted;
                break;
            case Scan::QuoteInQuoted:
                // A doubled quote is one quote and the field goes on; anything
                // else closed it (text after the quote is the split's to refuse).
                state = c == '"' ? Scan::Quoted : (c == ',' ? Scan::FieldStart : Scan::Unquoted);
                break;
        }
    }
    return state;
}

}  // namespace

bool CsvReader::next(CsvRecord& record) {
    std::string line;
    if (!std::getline(m_in, line)) return false;
    record.line = ++m_line;
    record.problem = {};
    if (m_line == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    m_text = std::move(line);
    // A quoted field still open at the line's end holds that line end and
    // goes on on the next line.
    for (Scan state = scan(Scan::FieldStart, m_text); state == Scan::Quoted;) {
        if (m_text.size() > m_maxRecordBytes) {
            record.fields.clear();
            record.problem = "a quoted field has no closing quote within the record size limit";
            return true;
        }
        if (!std::getline(m_in, line)) {
            if (m_in.bad()) return false;
            break;  // the split below names the missing quote
        }
        ++m_line;
        m_text += '\n';
        m_text += line;
        state = scan(Scan::Quoted, "\n" + line);
    }
    if (!m_text.empty() && m_text.back() == '\r') m_text.pop_back();
    record.problem = splitCsvRecord(m_text, record.fields);
    return true;
}

}  // namespace ipcountry::lookup
