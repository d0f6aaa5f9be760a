// Comma-separated values as RFC 4180 writes them, read in one place for every
// reader of CSV text: the range data converter and the driver's readers.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace ipcountry::lookup {

// Splits one record into its fields. A field in double quotes may hold
// commas, line breaks and doubled quotes ("" for one); a field without quotes
// runs to the next comma and may hold no quote at all. Returns an empty view
// when the record is well formed, else the reason it is not (the fields then
// hold what was read before it). A record of no characters is one empty field.
std::string_view splitCsvRecord(std::string_view record, std::vector<std::string>& fields);

// One record read by CsvReader.
struct CsvRecord {
    std::vector<std::string> fields;
    std::size_t line = 0;      // the line the record starts on, counted from 1
    std::string_view problem;  // empty, or why the record is malformed

    // A line with nothing on it, which readers of data files pass over.
    bool blank() const { return fields.size() == 1 && fields[0].empty(); }
};

// Reads records from a stream, lines ended by CR LF or LF (the last one may
// have none); a byte order mark before the first record is passed over. A
// quoted field that runs on past its line takes the following lines, with
// their line ends, until its quote closes; so that a quote never closed
// cannot take a whole file, a record stops at `maxRecordBytes` and is
// malformed. A malformed record does not stop the reading: the next record
// starts on the line after it.
class CsvReader {
public:
    explicit CsvReader(std::istream& in, std::size_t maxRecordBytes = std::size_t{1} << 20);

    // False at the end of the input (or when it cannot be read: ask the stream).
    bool next(CsvRecord& record);

private:
    std::istream& m_in;
    std::size_t m_maxRecordBytes;
    std::size_t m_line = 0;
    std::string m_text;
};

}  // namespace ipcountry::lookup
