#include "lookup/csv_fields.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using ipcountry::lookup::CsvReader;
using ipcountry::lookup::CsvRecord;
using ipcountry::lookup::splitCsvRecord;

struct SplitCase {
    const char* name;
    std::string record;
    std::vector<std::string> fields;  // when well formed
    bool malformed = false;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCsvRecordTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCsvRecordTest, readsFieldsAsTheRfcWritesThem) {
    const SplitCase& c = GetParam();
    std::vector<std::string> fields{"stale"};
    const std::string_view problem = splitCsvRecord(c.record, fields);
    EXPECT_EQ(!problem.empty(), c.malformed) << problem;
    if (!c.malformed) {
        EXPECT_EQ(fields, c.fields);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCsvRecordTest,
    testing::Values(SplitCase{"emptyRecordIsOneEmptyField", "", {""}},
                    SplitCase{
                        "plainFields", "1.0.0.0,1.0.0.255,AU", {"1.0.0.0", "1.0.0.255", "AU"}},
                    SplitCase{"emptyFieldsAtBothEnds", ",a,", {"", "a", ""}},
                    SplitCase{"quotedCommaAndDoubledQuote",
                              "\"Korea, Republic of\",\"say \"\"hi\"\"\",x",
                              {"Korea, Republic of", "say \"hi\"", "x"}},
                    SplitCase{"quotedEmptyAndLoneDoubledQuote", "\"\",\"\"\"\"", {"", "\""}},
                    SplitCase{"quotedLineBreaksKept", "\"a\r\nb\",\"c\nd\"", {"a\r\nb", "c\nd"}},
                    SplitCase{"blanksAreData", " a , b ", {" a ", " b "}},
                    SplitCase{"quoteNeverClosed", "\"a,b", {}, true},
                    SplitCase{"textAfterTheClosingQuote", "\"a\"x,b", {}, true},
                    SplitCase{"quoteInsideAnUnquotedField", "a\"b,c", {}, true},
                    SplitCase{"quoteClosedThenAnotherOpened", "\"a\"\"", {}, true}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

struct ReadRecord {
    std::size_t line;
    std::vector<std::string> fields;
    bool malformed;
    friend bool operator==(const ReadRecord&, const ReadRecord&) = default;
};

void PrintTo(const ReadRecord& r, std::ostream* os) {
    *os << "line " << r.line << (r.malformed ? " malformed:" : ":");
    for (const auto& f : r.fields) *os << " [" << f << "]";
}

std::vector<ReadRecord> readAll(const std::string& text, std::size_t limit = 1 << 20) {
    std::istringstream in(text);
    CsvReader reader(in, limit);
    CsvRecord record;
    std::vector<ReadRecord> out;
    while (reader.next(record))
        out.push_back({record.line,
                       record.problem.empty() ? record.fields : std::vector<std::string>{},
                       !record.problem.empty()});
    return out;
}

// Line numbers are where faults get reported: each record is named by the
// line it starts on, however many lines a quoted field took before it.
TEST(CsvReader, namesEachRecordByTheLineItStartsOn) {
    const struct {
        const char* name;
        std::string text;
        std::vector<ReadRecord> records;
    } cases[] = {
        {"blankLineBetween",
         "1.0.0.0,1.0.0.255,DE\n\n1.0.1.0,1.0.1.255,de\n",
         {{1, {"1.0.0.0", "1.0.0.255", "DE"}, false},
          {2, {""}, false},
          {3, {"1.0.1.0", "1.0.1.255", "de"}, false}}},
        {"crlfAndNoFinalLineEnd", "a,b\r\nc,d", {{1, {"a", "b"}, false}, {2, {"c", "d"}, false}}},
        {"byteOrderMarkOnlyAtTheStart",
         "\xEF\xBB\xBFx,y\n\xEF\xBB\xBFz\n",
         {{1, {"x", "y"}, false}, {2, {"\xEF\xBB\xBFz"}, false}}},
        {"quotedFieldOverTwoLines",
         "a,\"b\r\nc\",d\r\ne,f\r\n",
         {{1, {"a", "b\r\nc", "d"}, false}, {3, {"e", "f"}, false}}},
        {"malformedRecordThenTheNextLine",
         "a\"b,c\nd,e\n",
         {{1, {}, true}, {2, {"d", "e"}, false}}},
        {"quoteOpenAtTheEndOfTheInput", "x\n\"a,b\nc\n", {{1, {"x"}, false}, {2, {}, true}}},
    };
    for (const auto& c : cases) EXPECT_EQ(readAll(c.text), c.records) << c.name;
}

TEST(CsvReader, aQuoteNeverClosedStopsAtTheSizeLimit) {
    std::string text = "\"open\n";
    for (int i = 0; i < 100; ++i) text += "0123456789\n";
    const auto records = readAll(text, 64);
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].malformed);
    EXPECT_EQ(records[0].line, 1u);
    // Not the whole input swallowed: reading goes on after the cut record.
    EXPECT_GT(records.size(), 1u);
}

}  // namespace
