#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/address_tally.h"
#include "report/report.h"
#include "report/world_map.h"
#include "tools/driver_support.h"

namespace {

using namespace ipcountry::report;
namespace fs = std::filesystem;

// Germany and France drawn, Singapore too small to see, Gibraltar missing.
const WorldMap& smallMap() {
    static const WorldMap map = parseWorldMap(
        "# a map for tests\nsource test shapes\nmap 100 50\nprojection natural-earth 1 50 25\n"
        "outline M0 0l100 0 0 50-100 0z\n-\t-\tM1 1l1 0 0 1z\nDE\t-\tM50 10l5 0 0 5-5 0z\n"
        "FR\t-\tM40 15l5 0 0 5z\nSG\t80,30\t\n",
        "test map");
    return map;
}

ReportInput twoCountries() {
    ReportInput input;
    input.files = {{"access.log", 2048, true}};
    input.startedAt = "2026-06-20 at 10:00:00";
    input.elapsed = std::chrono::milliseconds(1500);
    input.total = 4;
    input.countries = {{"US", "United States", 1, 1}, {"DE", "Germany", 3, 2}};
    input.topAddresses = {{"10.0.0.1", "Germany", "DE", 2}, {"11.0.0.1", "United States", "US", 1}};
    input.names = {{"DE", "Germany"}, {"FR", "France"}, {"US", "United States"}};
    input.provenance = {"ipcountry-batch 1.0", "Address ranges: test 1"};
    input.map = &smallMap();
    return input;
}

struct PageCase {
    const char* name;
    std::function<void(ReportInput&)> change;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

std::ostream& operator<<(std::ostream& os, const PageCase& c) { return os << c.name; }

class ReportPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(ReportPageTest, showsWhatTheRunFound) {
    ReportInput input = twoCountries();
    GetParam().change(input);
    const std::string page = renderReport(input);
    EXPECT_LT(page.size(), std::size_t{1} << 20);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
    for (const std::string& text : GetParam().present)
        EXPECT_NE(page.find(text), std::string::npos) << "missing: " << text;
    for (const std::string& text : GetParam().absent)
        EXPECT_EQ(page.find(text), std::string::npos) << "present: " << text;
}

const std::string kLong(70000, 'x');

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Pages, ReportPageTest,
    ::testing::Values(
        PageCase{"countsSharesAndTheBiggestFirst", [](ReportInput&) {},
                 {"<b id=\"total\">4</b>", "<b id=\"countries\">2</b>", "1.50\u202Fs",
                  "<td>Germany</td><td class=\"code\">DE</td><td class=\"n\" data-v=\"3\">3</td>"
                  "<td class=\"n\" data-v=\"3\">75.0%</td>",
                  "<td class=\"code\">US</td><td class=\"n\" data-v=\"1\">1</td><td class=\"n\" "
                  "data-v=\"1\">25.0%</td><td class=\"n\" data-v=\"1\">1</td><td class=\"bar\">"
                  "<span style=\"width:33.3%\">",
                  // Each country's clients, and the options that chose the rows.
                  "<th class=\"n\" data-sort=\"number\">Clients</th>",
                  "75.0%</td><td class=\"n\" data-v=\"2\">2</td>",
                  "<p class=\"sub\" id=\"shaped-by\">Counted: every address, none left out by",
                  "<path class=\"s5\" data-code=\"DE\" d=\"M50 10l5 0 0 5-5 0z\"><title>Germany (DE): "
                  "3 addresses, 75.0%</title>",
                  "<path class=\"s0\" data-code=\"FR\" d=\"M40 15l5 0 0 5z\"><title>France (FR): no "
                  "addresses</title>",
                  "<td class=\"addr\">10.0.0.1</td><td class=\"place\">Germany</td><td class=\"n\">2</td>",
                  "Counted but not on the map: United States (US) 1.",
                  "<p>Address ranges: test 1</p>", "Map shapes: test shapes", "2.0 kB"},
                 {"id=\"no-addresses\"", "id=\"incomplete\""}},
        PageCase{"sharesSplitIntoShades",
                 [](ReportInput& in) {
                     in.total = 100000;
                     in.countries = {{"DE", "Germany", 99}, {"FR", "France", 100}};
                 },
                 {"class=\"s1\" data-code=\"DE\"", "class=\"s2\" data-code=\"FR\""}, {}},
        PageCase{"smallCountryMarked",
                 [](ReportInput& in) { in.countries.push_back({"SG", "Singapore", 4}); in.total = 8; },
                 {"<circle class=\"s5\" data-code=\"SG\" cx=\"80\" cy=\"30\" r=\"7\"><title>Singapore "
                  "(SG): 4 addresses, 50.0%</title>"},
                 {"data-code=\"SG\" d="}},
        PageCase{"uncountedSmallCountryUnmarked", [](ReportInput&) {}, {}, {"<circle"}},
        PageCase{"namesAndFileNamesEscaped",
                 [](ReportInput& in) {
                     in.files = {{"<script>.log", std::nullopt, true}};
                     in.countries = {{"DE", "A & B <i>\"q\" 'x'", 4}};
                     in.topAddresses = {{"<b>1.2.3.4", "A & B <i>", "DE", 4}};
                     in.provenance = {"Map: <img src=x>"};
                 },
                 {"<title>Addresses by country: &lt;script&gt;.log</title>",
                  "<span id=\"first-file\">&lt;script&gt;.log</span>",
                  "<td>A &amp; B &lt;i&gt;&quot;q&quot; &#39;x&#39;</td>", "&lt;b&gt;1.2.3.4",
                  "Map: &lt;img src=x&gt;"},
                 {"<script>.log", "<i>\"q\"", "<b>1.2.3.4", "<img"}},
        // A licence's attribution is longer than any file name the page shows whole.
        PageCase{"sourcesShownWhole",
                 [](ReportInput& in) {
                     in.provenance = {"Address ranges: " + std::string(150, 'a') + " (CC BY 4.0, "
                                      "IP address data \u00a9 Number Resource Organization)"};
                 },
                 {"Number Resource Organization)</p>"}, {"\u2026"}},
        PageCase{"bytesThatAreNoTextReplaced",
                 [](ReportInput& in) { in.files = {{"a\xFF\x01.log\xE2\x82", 5, true}}; },
                 {"a\uFFFD\uFFFD.log\uFFFD\uFFFD"}, {"\xFF"}},
        PageCase{"emptyLogSaysSo",
                 [](ReportInput& in) {
                     in.total = 0;
                     in.countries.clear();
                     in.topAddresses.clear();
                 },
                 {"<p class=\"empty\" id=\"no-addresses\">There were no addresses in what was read.",
                  "<b id=\"total\">0</b>", "class=\"s0\" data-code=\"DE\""},
                 {"countries-table", "addresses-table", "class=\"s5\" data-code", "not-on-map"}},
        PageCase{"fileNotReadToTheEnd",
                 [](ReportInput& in) { in.files.push_back({"b.log", 10, false}); },
                 {"id=\"incomplete\">1 file was not read", "<b>not to the end</b>", "2 files, 2.1 kB"},
                 {}},
        PageCase{"standardInputNamed",
                 [](ReportInput& in) { in.files = {{"-", std::nullopt, true}, {"-x", 0, true}}; },
                 {"<td class=\"addr\">standard input</td><td class=\"n\">\u2013</td>",
                  "<td class=\"addr\">-x</td><td class=\"n\">0 bytes</td>"},
                 {}},
        PageCase{"withoutMapTheFiguresStay",
                 [](ReportInput& in) {
                     in.map = nullptr;
                     in.mapProblem = "world_map.txt cannot be read";
                 },
                 {"id=\"no-map\">No map: world_map.txt cannot be read", "countries-table"},
                 {"<svg"}},
        // A text of 120 characters is shown whole; one more and it is cut there.
        PageCase{"fileNamesCutAfter120Characters",
                 [](ReportInput& in) {
                     in.files = {{std::string(120, 'n'), 1, true},
                                 {std::string(119, 'm') + "ab", 1, true}};
                 },
                 {"<td class=\"addr\">" + std::string(120, 'n') + "</td>",
                  "<td class=\"addr\">" + std::string(119, 'm') + "a\u2026</td>"},
                 {std::string(119, 'm') + "ab"}},
        // Whatever the input, the page stays small: long texts are cut, long
        // lists of files folded into one line.
        PageCase{"hugeInputsStayUnderAMegabyte",
                 [](ReportInput& in) {
                     in.files.clear();
                     for (int i = 0; i < 20000; ++i) in.files.push_back({std::string(4000, '&'), 1, true});
                     in.countries.clear();
                     for (int i = 0; i < 237; ++i)
                         in.countries.push_back({"C" + std::to_string(i), std::string(5000, '<'), 1});
                     in.topAddresses.assign(50, AddressFacts{kLong, kLong, "DE", 1});
                     in.total = 237;
                 },
                 {"and 19,800 more", "\u2026"}, {std::string(121, 'x')}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(WorldMapTest, refusesWhatIsNoMap) {
    const std::pair<const char*, const char*> bad[] = {
        {"map 10 10\nDE\t-\tM1 1l1 1z\"/><script>\n", "line 2: the path of DE is no path"},
        {"map 10 10\nde\t-\tM1 1z\n", "line 2: the code is not two capital letters"},
        {"map 10 10\nDE\t1\tM1 1z\n", "line 2: the marker is not x,y"},
        {"map 10 10\nDE M1 1z\n", "line 2: a shape needs a code"},
        {"map ten 10\n", "line 1: the size is not two numbers"},
        {"outline M0 0<\n", "line 1: the outline is no path"},
        {"DE\t-\tM1 1z\n", "no map line gives the size"},
    };
    for (const auto& [content, problem] : bad) {
        try {
            parseWorldMap(content, "m.txt");
            ADD_FAILURE() << "accepted: " << content;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(problem), std::string::npos) << e.what();
        }
    }
}

// The tally against a plain count of the same rows, then sort: texts that
// fit a cell and longer ones, few addresses and enough to grow the table.
TEST(AddressTallyTest, topMatchesAPlainCount) {
    std::mt19937 random(7);
    for (int round = 0; round < 30; ++round) {
        AddressTally tally;
        std::map<std::string, std::pair<std::int64_t, int>> counts;  // rows, first slot
        const unsigned distinct = 1 + random() % (round % 3 == 0 ? 5000 : 60);
        const int rows = static_cast<int>(random() % 8000);
        for (int i = 0; i < rows; ++i) {
            // Skewed, so that counts both differ and tie.
            const unsigned a = random() % distinct;
            const unsigned pick = a * a % (distinct + 7);
            const std::string address = pick % 3 == 0 ? "2001:db8:" + std::to_string(pick) + "::1"
                                        : pick % 3 == 1
                                            ? "10.0." + std::to_string(pick) + ".1"
                                            : std::string(16, 'a') + std::to_string(pick);
            const int slot = static_cast<int>(random() % 237);
            tally.appendRow({address, ":1", {slot, false}});
            auto& count = counts.try_emplace(address, 0, slot).first->second;
            ++count.first;
        }
        std::vector<std::pair<std::string, std::pair<std::int64_t, int>>> expected(counts.begin(),
                                                                                   counts.end());
        std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) {
            return x.second.first > y.second.first;
        });
        expected.resize(std::min<std::size_t>(expected.size(), 20));
        const auto top = tally.top(20);
        ASSERT_EQ(top.size(), expected.size());
        for (std::size_t i = 0; i < top.size(); ++i) {
            EXPECT_EQ(top[i].address, expected[i].first);
            EXPECT_EQ(top[i].rows, expected[i].second.first);
            EXPECT_EQ(top[i].slot, expected[i].second.second);
        }
        EXPECT_EQ(tally.rows(), rows);
        EXPECT_EQ(tally.distinct(), counts.size());
    }
}

// The command through the real executable.
class ReportDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("ipcountry-report-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "data");
        const fs::path source = IPCOUNTRY_TEST_DATA_DIR "/analysis";
        for (const char* name : {"Country.dbf", "IP_db.dbf"})
            fs::copy(source / name, m_dir / "data" / name);
        fs::copy(fs::path(IPCOUNTRY_TEST_DATA_DIR) / "../../data/world_map.txt",
                 m_dir / "data/world_map.txt");
        fs::copy(source / "access.log", m_dir / "<script>.log");
        std::ofstream(m_dir / "empty.log").close();
        std::ofstream(m_dir / "reasons.log") << "12.0.0.1 and 10.0.0.7\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string quoted(const fs::path& p) const { return "'" + (m_dir / p).string() + "'"; }
    std::string run(const std::string& arguments, SplitDriverResult& result) const {
        result = runDriverSplit("--data-dir " + quoted("data") + " " + arguments);
        std::ifstream in(m_dir / "page.html");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path m_dir;
};

TEST_F(ReportDriverTest, answersEachInvocation) {
    struct Case {
        const char* name;
        std::string arguments;
        int status;
        std::string present;  // in the page written to page.html
        std::string err;      // in standard error
    };
    const std::string page = "report -o " + quoted("page.html") + " ";
    const Case cases[] = {
        {"fileNameShownAsWritten", page + "unformatted " + quoted("<script>.log"), 0,
         "<span id=\"first-file\">" + m_dir.string() + "/&lt;script&gt;.log</span>", ""},
        {"countsOfTheLog", page + "unformatted " + quoted("<script>.log"), 0,
         "<b id=\"total\">5</b>", ""},
        {"emptyLog", page + "unformatted " + quoted("empty.log"), 0, "id=\"no-addresses\"", ""},
        {"severalFilesOneMissing",
         page + "unformatted " + quoted("empty.log") + " " + quoted("gone.log") + " " +
             quoted("<script>.log"),
         1, "<b>not to the end</b>", "gone.log: No such file or directory\n"},
        {"joinedOutputOption",
         "report -o" + quoted("page.html") + " formatted " + quoted("empty.log"), 0,
         "id=\"no-addresses\"", ""},
        {"outputFolderMissing",
         "report -o " + quoted("none/page.html") + " unformatted " + quoted("empty.log"), 1, "",
         "none/page.html: No such file or directory\n"},
        {"standardOutputFull", "report unformatted " + quoted("empty.log") + " >/dev/full", 1, "",
         "cannot write the page to standard output"},
        {"kindMissing", "report " + quoted("empty.log"), 2, "",
         "report needs formatted or unformatted"},
        {"fileMissing", "report unformatted", 2, "", "report needs at least one file"},
        {"usNamedAsItsRows", page + "unformatted " + quoted("<script>.log"), 0,
         "<td class=\"addr\">11.46.118.87</td><td class=\"place\">USA</td>", ""},
        {"reasonsInATableOfTheirOwn", page + "--all unformatted " + quoted("reasons.log"), 0,
         "<h2>Addresses without a country</h2>\n<table id=\"reasons-table\">\n<thead><tr>"
         "<th>Reason</th><th class=\"n\">Addresses</th><th class=\"n\">Share</th></tr>"
         "</thead>\n<tbody>\n<tr><td>unknown</td><td class=\"n\">1</td><td class=\"n\">50.0%</td>",
         ""},
        {"firstAddressOfEachLine", page + "--first unformatted " + quoted("reasons.log"), 0,
         "id=\"no-addresses\"", ""},
        {"onlyTheNetworksAsked", page + "--only 11.0.0.0/8 unformatted " + quoted("<script>.log"),
         0, "<b id=\"total\">1</b>", ""},
        // The page names the options that chose its rows.
        {"namesWhatShapedIt",
         page + "--first --only 11.0.0.0/8 --exclude 11.9.0.0/16 unformatted " +
             quoted("<script>.log"),
         0,
         "id=\"shaped-by\">Counted with <code>--first</code>, <code>--only 11.0.0.0/8</code>, "
         "<code>--exclude 11.9.0.0/16</code></p>",
         ""},
        {"firstOfAFormattedList", page + "--first formatted " + quoted("empty.log"), 2, "",
         "--first applies to unformatted"},
        {"badNetwork", page + "--exclude 10.0.0.0/99 unformatted " + quoted("empty.log"), 2, "",
         "'10.0.0.0/99': the prefix length of an IPv4 network is 0 to 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir / "page.html");
        SplitDriverResult result;
        const std::string written = run(c.arguments, result);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(written.find(c.present), std::string::npos) << written.substr(0, 2000);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
}

// A map that cannot be read: the page has the figures, and the message and
// the page say why, as the system said it.
TEST_F(ReportDriverTest, pageOnStandardOutputWithoutTheMapStillHasTheFigures) {
    const fs::path map = m_dir / "data/world_map.txt";
    const struct {
        const char* name;
        std::function<bool()> spoil;  // false: not possible here
        int error;
    } cases[] = {
        {"missing", [&] { return fs::remove(map); }, ENOENT},
        {"folder", [&] { return fs::remove(map) && fs::create_directory(map); }, EISDIR},
        {"unreadable",
         [&] {
             fs::permissions(map, fs::perms::none);
             // Root reads it all the same.
             return std::ifstream(map).fail();
         },
         EACCES},
    };
    std::ifstream original(map, std::ios::binary);
    const std::string kept{std::istreambuf_iterator<char>(original), {}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.spoil()) continue;
        SplitDriverResult result;
        run("report unformatted " + quoted("<script>.log"), result);
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find("<b id=\"total\">5</b>"), std::string::npos);
        const std::string why = map.string() + ": " + std::strerror(c.error);
        EXPECT_NE(result.out.find("id=\"no-map\">No map: " + why), std::string::npos);
        EXPECT_NE(result.err.find("ipcountry-batch: " + why + "; the page has no map\n"),
                  std::string::npos)
            << result.err;
        std::error_code ec;
        fs::remove_all(map, ec);
        std::ofstream(map, std::ios::binary) << kept;
    }
}

}  // namespace
