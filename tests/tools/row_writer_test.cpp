// The rows RowWriter writes against the same rows put together field by field
// through the format's printer: the writer copies the address and port as they
// stand and keeps each country's end of row, and must come to the same bytes
// for every text, plain or not, on the first row of a country and the next.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "formats/columns.h"
#include "formats/printers.h"
#include "formats/row_writer.h"
#include "lookup/country_table.h"

namespace {

using namespace ipcountry;
using batch::Column;
using batch::Format;
using batch::Value;

lookup::CountryTable testTable() {
    lookup::CountryTable table;
    table.setSlot(0, "DEGermany");
    table.setSlot(1, "KRKorea, Republic of");             // csv quotes it
    table.setSlot(2, std::string("CIC\xf4te d'Ivoire"));  // Windows-1252, not ASCII
    table.setSlot(3, "XQSay \"hi\"\\");                   // json escapes it
    table.setSlot(lookup::kUsSlot, "USUnited States");
    return table;
}

// The row as the printer alone writes it, one field after another.
std::string printedRow(Format format, bool reasons, std::string_view ip, std::string_view port,
                       const lookup::CountryTable& table, analysis::Resolution country) {
    const batch::Layout layout = batch::analysisLayout(format, reasons);
    const auto printer = batch::makePrinter(format);
    const std::string_view name = analysis::countryName(table, country);
    const std::string_view code =
        country.slot == lookup::kUsSlot ? lookup::kUsCode : table.slotCode(country.slot);
    std::string out;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const Column column = layout.columns[i];
        Value value;
        switch (column) {
            case Column::Ip:
                value = Value::text1252(ip);
                break;
            case Column::Port:
                value = Value::port(port);
                break;
            case Column::Country:
                value = Value::text1252(name);
                break;
            case Column::Code:
                value = Value::text1252(code);
                break;
            default:
                break;
        }
        printer->field(out, i, column, value);
    }
    printer->endRow(out);
    return out;
}

std::string writtenRows(Format format, bool reasons, std::string_view ip, std::string_view port,
                        const lookup::CountryTable& table, analysis::Resolution country,
                        int times) {
    batch::Output out{batch::Output::Kept{}};
    batch::RowWriter writer(out, format, reasons);
    for (int i = 0; i < times; ++i) writer.analysisRow(ip, port, table, country);
    return out.buffer();
}

struct LeadCase {
    std::string ip;
    std::string port;
};

const std::vector<LeadCase> kLeads = {
    {"192.0.2.1", ":80"},
    {"010.001.002.003", ":0080"},  // leading zeros: json's port is the number 80
    {"192.0.2.1", ""},             // no port: null in json
    {"192.0.2.1", ":"},            // a colon without digits
    {"192.0.2.1", ":123456"},      // six digits: no json number
    {"2001:db8::1", ":443"},
    {"fe80::1%eth0", ""},
    {"", ""},
    {"1,2", ":1"},     // csv quotes a comma
    {"1\"2", ":1"},    // and a quote; json escapes it
    {"1\\2", ":1"},    // json escapes a backslash
    {"1\t2", ":1"},    // a TAB
    {"1\r\n2", ":1"},  // a line break
    {"1\x01"
     "2",
     ":1"},  // a control character
    {"1\x7f"
     "2",
     ":1"},  // DEL
    {"1\xe9"
     "2",
     ":1"},  // Windows-1252 é: two bytes in UTF-8
    {"1\x80"
     "2",
     ":1"},  // the euro sign: three bytes
    {"192.0.2.1", ":8\xe9"},
};

class RowWriterLead : public testing::TestWithParam<std::tuple<Format, bool>> {};

TEST_P(RowWriterLead, writesWhatThePrinterWritesFieldByField) {
    const auto [format, reasons] = GetParam();
    const lookup::CountryTable table = testTable();
    const std::vector<analysis::Resolution> countries = {
        {0, false}, {1, false}, {2, false}, {3, false}, {lookup::kUsSlot, true}};
    for (const LeadCase& lead : kLeads) {
        for (const analysis::Resolution country : countries) {
            const std::string one = printedRow(format, reasons, lead.ip, lead.port, table, country);
            // The second row takes its country from the cache.
            EXPECT_EQ(writtenRows(format, reasons, lead.ip, lead.port, table, country, 2),
                      one + one)
                << "ip '" << lead.ip << "' port '" << lead.port << "' slot " << country.slot;
        }
    }
}

TEST_P(RowWriterLead, writesEveryByteOfAnAddressAsThePrinterDoes) {
    const auto [format, reasons] = GetParam();
    const lookup::CountryTable table = testTable();
    for (int byte = 0; byte < 256; ++byte) {
        const std::string ip = "192.0.2." + std::string(1, static_cast<char>(byte));
        EXPECT_EQ(writtenRows(format, reasons, ip, ":80", table, {0, false}, 1),
                  printedRow(format, reasons, ip, ":80", table, {0, false}))
            << "byte " << byte;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RowWriterLead,
                         testing::Combine(testing::Values(Format::Tsv, Format::Csv, Format::Json),
                                          testing::Bool()));

// Each json row, whatever its address held, is an object that a JSON reader
// takes, and gives back the address as UTF-8.
TEST(RowWriterJson, everyRowReadsBackAsItsAddress) {
    const lookup::CountryTable table = testTable();
    for (const LeadCase& lead : kLeads) {
        const std::string row =
            writtenRows(Format::Json, false, lead.ip, lead.port, table, {2, false}, 1);
        const auto object = nlohmann::json::parse(row, nullptr, false);
        ASSERT_FALSE(object.is_discarded()) << row;
        EXPECT_EQ(object["ip"], lookup::windows1252ToUtf8(lead.ip)) << row;
        EXPECT_EQ(object["country"], lookup::windows1252ToUtf8("C\xf4te d'Ivoire")) << row;
    }
}

// A writer handed another table with other names in the same slots writes
// the new names, never an end of row made from the old ones.
TEST(RowWriterTails, followTheTableTheyAreHanded) {
    lookup::CountryTable first = testTable();
    lookup::CountryTable second;
    second.setSlot(0, "FRFrance");
    for (const Format format : {Format::Tsv, Format::Csv, Format::Json}) {
        batch::Output out{batch::Output::Kept{}};
        batch::RowWriter writer(out, format);
        writer.analysisRow("192.0.2.1", ":1", first, {0, false});
        writer.analysisRow("192.0.2.1", ":1", second, {0, false});
        EXPECT_EQ(out.buffer(),
                  printedRow(format, false, "192.0.2.1", ":1", first, {0, false}) +
                      printedRow(format, false, "192.0.2.1", ":1", second, {0, false}));
    }
}

}  // namespace
