#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/driver_support.h"

namespace {

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/driver";
const std::string kData = "--data-dir '" + kDir + "' ";

std::string file(const std::string& name) { return "'" + kDir + "/" + name + "'"; }

class DriverCliTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverCliTest, answersAsDocumented) { expectDriverAnswers(GetParam()); }

const std::string kLogJson =
    R"({"ip":"2.9.9.9","port":443,"country":"Korea, Republic of","code":"KR"})"
    "\n"
    R"({"ip":"1.1.1.1","port":null,"country":"Germany","code":"DE"})"
    "\n"
    R"({"ip":"4.4.4.4","port":80,"country":"The \"Quoted\" Isles","code":"QQ"})"
    "\n"
    "{\"ip\":\"3.1.2.3\",\"port\":null,\"country\":\"C\xC3\xB4te d'Ivoire\",\"code\":\"CI\"}\n"
    R"({"ip":"5.0.0.5","port":22,"country":"USA","code":"US"})"
    "\n"
    R"({"elapsed_seconds":S,"total":5,"distinct":5,"countries":[)"
    R"({"country":"Germany","code":"DE","count":1,"share":20.0,"distinct":1},)"
    R"({"country":"Korea, Republic of","code":"KR","count":1,"share":20.0,"distinct":1},)"
    "{\"country\":\"C\xC3\xB4te d'Ivoire\",\"code\":\"CI\",\"count\":1,\"share\":20.0,"
    "\"distinct\":1},"
    R"({"country":"The \"Quoted\" Isles","code":"QQ","count":1,"share":20.0,"distinct":1},)"
    R"({"country":"","code":"US","count":1,"share":20.0,"distinct":1}]})"
    "\n";

INSTANTIATE_TEST_SUITE_P(
    Invocations, DriverCliTest,
    ::testing::Values(
        DriverCase{"helpOnStandardOutput", "-h", "*Exit status:", "", 0},
        DriverCase{"versionNamesTheData", kData + "--version",
                   "*\nAddress ranges: ranges-package 1.2 (CC BY 4.0, test ranges)\n"
                   "Country names: names-package 3\nFlags: flags-package 4 (public domain)\n"
                   "Map: map-package 5\n",
                   "", 0},
        DriverCase{"versionWithoutProvenance", "--data-dir /nonexistent --version",
                   "*Data: unknown", "", 0},
        DriverCase{"severalAddressesInOrder", kData + "find 3.0.0.1 1.0.0.1 5.0.0.1",
                   "3.0.0.1\tCI\tC\xC3\xB4te d'Ivoire\n1.0.0.1\tDE\tGermany\n5.0.0.1\tUS\tUSA\n",
                   "", 0},
        DriverCase{"failingAddressAmongGoodOnes", kData + "find 1.0.0.1 1.2.3.999 2.0.0.1",
                   "1.0.0.1\tDE\tGermany\n2.0.0.1\tKR\tKorea, Republic of\n",
                   "ipcountry-batch: 1.2.3.999: octet 4 is 999\n", 1},
        DriverCase{"standardInputList", kData + "find - < " + file("addresses.txt"),
                   "1.0.0.1\tDE\tGermany\n2.0.0.1\tKR\tKorea, Republic of\n\t\t\n1.2.3\t\t\n"
                   "7.0.0.1\t\tunknown\n4.0.0.1\tQQ\tThe \"Quoted\" Isles\n",
                   "ipcountry-batch: -:3: empty line\nipcountry-batch: -:4: 3 octets, not 4\n", 1},
        DriverCase{"csvFindQuotesNames",
                   kData + "--format csv find 2.0.0.1 4.0.0.1 6.0.0.1 7.0.0.1",
                   "IP,Code,Country,Reason\r\n2.0.0.1,KR,\"Korea, Republic of\",\r\n"
                   "4.0.0.1,QQ,\"The \"\"Quoted\"\" Isles\",\r\n6.0.0.1,,,unknown\r\n"
                   "7.0.0.1,,,unknown\r\n",
                   "", 0},
        DriverCase{"jsonFindNullsWhatIsUnknown",
                   kData + "--format=json find 3.0.0.1 6.0.0.1 7.0.0.1 5.0.0.1",
                   "{\"ip\":\"3.0.0.1\",\"code\":\"CI\",\"country\":\"C\xC3\xB4te d'Ivoire\"}\n"
                   "{\"ip\":\"6.0.0.1\",\"code\":null,\"country\":null,\"reason\":\"unknown\"}\n"
                   "{\"ip\":\"7.0.0.1\",\"code\":null,\"country\":null,\"reason\":\"unknown\"}\n"
                   "{\"ip\":\"5.0.0.1\",\"code\":\"US\",\"country\":\"USA\"}\n",
                   "", 0},
        DriverCase{
            "csvAnalysisWithStats", kData + "--format csv --stats unformatted " + file("log.txt"),
            "IP,Port,Country,Code\r\n2.9.9.9,443,\"Korea, Republic "
            "of\",KR\r\n1.1.1.1,,Germany,DE\r\n"
            "4.4.4.4,80,\"The \"\"Quoted\"\" Isles\",QQ\r\n3.1.2.3,,C\xC3\xB4te d'Ivoire,CI\r\n"
            "5.0.0.5,22,USA,US\r\n\r\nElapsed "
            "seconds,Total,Distinct\r\nS,5,5\r\n\r\nCountry,Code,Count,Share,Distinct\r\n"
            "Germany,DE,1,20.0,1\r\n\"Korea, Republic of\",KR,1,20.0,1\r\nC\xC3\xB4te "
            "d'Ivoire,CI,1,20.0,1\r\n"
            "\"The \"\"Quoted\"\" Isles\",QQ,1,20.0,1\r\n,US,1,20.0,1\r\n",
            "", 0},
        DriverCase{"jsonAnalysisWithStats",
                   kData + "--stats --format json unformatted " + file("log.txt"), kLogJson, "",
                   0}),
    [](const auto& info) { return std::string(info.param.name); });

// The command line as people expect it: options before, after or among the
// operands, -- ending them, and every kind of wrong usage with exit 2.
class DriverOptionsTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverOptionsTest, readsOptionsAnywhereUntilDoubleDash) { expectDriverAnswers(GetParam()); }

const std::string kDe = "1.0.0.1\tDE\tGermany\n";
const std::string kDeJson = R"({"ip":"1.0.0.1","code":"DE","country":"Germany"})"
                            "\n";
const std::string kKrJson = R"({"ip":"2.0.0.1","code":"KR","country":"Korea, Republic of"})"
                            "\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Placement, DriverOptionsTest,
    ::testing::Values(
        DriverCase{"optionBeforeCommand", kData + "--format json find 1.0.0.1", kDeJson, "", 0},
        DriverCase{"optionAfterCommand", "find 1.0.0.1 --format json " + kData, kDeJson, "", 0},
        DriverCase{"optionBetweenOperands", "find 1.0.0.1 --format=json 2.0.0.1 " + kData,
                   kDeJson + kKrJson, "", 0},
        DriverCase{"optionAfterFiles", kData + "unformatted " + file("log.txt") + " --stats --format=json",
                   kLogJson, "", 0},
        DriverCase{"optionValueMayBeginWithDash", kData + "find --threads 1 1.0.0.1", kDe, "", 0},
        // After --, what looks like an option is an operand.
        DriverCase{"doubleDashEndsOptions", kData + "find 1.0.0.1 -- --format", kDe,
                   "ipcountry-batch: --format: not an IPv4 or IPv6 address\n", 1},
        DriverCase{"doubleDashBeforeFileName", kData + "unformatted -- --stats", "",
                   "ipcountry-batch: --stats: No such file or directory\n", 1},
        // grep's -n and -H: the line of each row, then its file first.
        DriverCase{"lineNumbersOfALog", kData + "unformatted -n " + file("log.txt"),
                   "1\t2.9.9.9\t:443\tKorea, Republic of\n1\t1.1.1.1\t\tGermany\n"
                   "3\t4.4.4.4\t:80\tThe \"Quoted\" Isles\n3\t3.1.2.3\t\tC\xC3\xB4te d'Ivoire\n"
                   "3\t5.0.0.5\t:22\tUSA\n", "", 0},
        DriverCase{"fileAndLineBundledForFind",
                   kData + "find -nH --format csv - 1.0.0.1 < " + file("addresses.txt"),
                   "File,Line,IP,Code,Country,Reason\r\n(standard input),1,1.0.0.1,DE,Germany,\r\n"
                   "(standard input),2,2.0.0.1,KR,\"Korea, Republic of\",\r\n(standard input),3,,,,\r\n"
                   "(standard input),4,1.2.3,,,\r\n(standard input),5,7.0.0.1,,,unknown\r\n"
                   "(standard input),6,4.0.0.1,QQ,\"The \"\"Quoted\"\" Isles\",\r\n"
                   ",,1.0.0.1,DE,Germany,\r\n", "*-:4: 3 octets, not 4", 1},
        DriverCase{"fileNamedInJson", kData + "unformatted -H --format json " + file("log.txt"),
                   "*{\"file\":\"" + kDir + "/log.txt\",\"ip\":\"2.9.9.9\",\"port\":443,", "", 0},
        DriverCase{"dashAloneIsAnOperand", kData + "find - < " + file("addresses.txt") + " --format csv",
                   "*IP,Code,Country,Reason\r\n1.0.0.1,DE,Germany,\r\n", "*", 1},
        // A page in a folder that does not exist: the message names it.
        DriverCase{"reportPageJoined", kData + "report -o/nonexistent/p.html unformatted " + file("log.txt"),
                   "", "*/nonexistent/p.html", 1},
        DriverCase{"reportPageAfterFiles",
                   kData + "report unformatted " + file("log.txt") + " --output /nonexistent/p.html", "",
                   "*/nonexistent/p.html", 1}),
    [](const auto& info) { return std::string(info.param.name); });

const std::string kFindUsage =
    "Usage: ipcountry-batch find [OPTION]... ADDRESS...\n"
    "Try 'ipcountry-batch find --help' for more information.\n";

INSTANTIATE_TEST_SUITE_P(
    WrongUsage, DriverOptionsTest,
    ::testing::Values(
        DriverCase{"unknownFormat", kData + "find 1.0.0.1 --format xml", "",
                   "ipcountry-batch: --format takes tsv, csv or json (networks: cidr, nft, ipset, nginx or haproxy), not 'xml'\n" + kFindUsage, 2},
        DriverCase{"unknownInputFormat", "stats --input-format yaml", "",
                   "*--input-format takes tsv, csv or json, not 'yaml'\n", 2},
        DriverCase{"valueMissingAtTheEnd", "find 1.0.0.1 --format", "",
                   "*ipcountry-batch: option --format needs a value (FORMAT)\n", 2},
        DriverCase{"valueForAFlag", "--stats=yes unformatted x", "",
                   "*ipcountry-batch: option --stats takes no value\n", 2},
        DriverCase{"unknownLongOption", kData + "--fast unformatted " + file("log.txt"), "",
                   "*ipcountry-batch: unknown option --fast\n", 2},
        DriverCase{"unknownShortOption", "find -1.2.3.4", "",
                   "*ipcountry-batch: unknown option -1.2.3.4 (an operand that begins with - goes after --)\n", 2},
        DriverCase{"flagsBundledOnlyOfFlags", "-hx", "", "*unknown option -hx", 2},
        DriverCase{"flagBundledWithAValue", "-no x report unformatted y", "", "*unknown option -no", 2},
        DriverCase{"lineNumberForStats", "stats -n x", "", "*--line-number does not apply to stats", 2},
        DriverCase{"fileNameForReport", "report unformatted -H x", "",
                   "*--with-filename does not apply to report", 2},
        DriverCase{"noThreads", "--threads 0 unformatted x", "",
                   "*--threads takes a number from 1 up (at most 6 work at once), not '0'\n", 2},
        DriverCase{"threadsNotANumber", "unformatted x --threads two", "", "*not 'two'\n", 2},
        DriverCase{"noTopCountries", "--top 0 stats x", "",
                   "*--top takes a number of countries from 1 to 999, not '0'\n", 2},
        DriverCase{"threadsOverflow", "unformatted x --threads 99999999999", "", "*not '99999999999'\n", 2},
        DriverCase{"optionOfAnotherCommand", "find 1.0.0.1 --stats", "",
                   "ipcountry-batch: --stats does not apply to find\n" + kFindUsage, 2},
        DriverCase{"reportTakesNoFormat", "--format json report unformatted x", "",
                   "*ipcountry-batch: --format does not apply to report\n", 2},
        DriverCase{"dataDirWithoutFolder", "--data-dir", "", "*option --data-dir needs a value (DIR)\n", 2},
        DriverCase{"noCommand", kData, "", "*ipcountry-batch: no command given\nUsage: ", 2},
        DriverCase{"unknownCommand", "look 1.0.0.1", "", "*ipcountry-batch: unknown command look\n", 2},
        DriverCase{"findWithoutAddress", "find", "", "ipcountry-batch: find needs at least one address\n" + kFindUsage, 2},
        DriverCase{"analysisWithoutFile", "formatted --stats", "", "*ipcountry-batch: formatted needs a file\n", 2},
        DriverCase{"standardInputTwice", "unformatted - -", "", "*named more than once", 2},
        DriverCase{"standardInputTwiceForFind", "find - 1.0.0.1 -", "", "*named more than once", 2},
        DriverCase{"reportWithoutKind", "report x", "", "*report needs formatted or unformatted", 2},
        DriverCase{"helpOfNoCommand", "help look", "", "*ipcountry-batch: no command look\n", 2},
        DriverCase{"helpOfTwoCommands", "help find stats", "", "*help takes one command at most", 2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// `printf FORMAT | ipcountry-batch ARGUMENTS` as runDriver's arguments.
std::string piped(const std::string& printfFormat, const std::string& arguments) {
    return "--version > /dev/null; printf '" + printfFormat + "' | '" + IPCOUNTRY_BIN_DIR +
           "/ipcountry-batch' " + arguments;
}

// Every message in the driver's own voice, one line each, naming the input
// (and its line) and saying what is wrong with it.
class DriverMessagesTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverMessagesTest, nameTheInputAndTheReason) { expectDriverAnswers(GetParam()); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Kinds, DriverMessagesTest,
    ::testing::Values(
        DriverCase{"findOctetAbove255", kData + "find 256.1.1.1", "", "ipcountry-batch: 256.1.1.1: octet 1 is 256\n", 1},
        DriverCase{"findEmptyOctet", kData + "find 1..2.3", "", "ipcountry-batch: 1..2.3: octet 2 is empty\n", 1},
        DriverCase{"findLetterInOctet", kData + "find 1.2.3.4x", "",
                   "ipcountry-batch: 1.2.3.4x: octet 4 (\"4x\") is not a number\n", 1},
        DriverCase{"findFiveOctets", kData + "find 1.2.3.4.5", "", "ipcountry-batch: 1.2.3.4.5: more than 4 octets\n", 1},
        DriverCase{"findIpv6Text", kData + "find 2001:zz::1", "",
                   "ipcountry-batch: 2001:zz::1: not an IPv4 or IPv6 address\n", 1},
        DriverCase{"findPortNotANumber", kData + "find 8.8.8.8:5x", "",
                   "ipcountry-batch: 8.8.8.8:5x: port is not a number\n", 1},
        DriverCase{"findPortTooLong", kData + "find 1.0.0.1:123456", "",
                   "ipcountry-batch: 1.0.0.1:123456: port has more than 5 digits\n", 1},
        DriverCase{"findIpv4InBrackets", kData + "find '[1.0.0.1]:80'", "",
                   "ipcountry-batch: [1.0.0.1]:80: not an IPv6 address in brackets\n", 1},
        DriverCase{"findUnclosedBracket", kData + "find '[::1'", "", "ipcountry-batch: [::1: no ] after [\n", 1},
        DriverCase{"findLines", piped("1.0.0.1\\nbad line\\n 1.0.0.1:x\\n", kData + "find -"),
                   "1.0.0.1\tDE\tGermany\nbad line\t\t\n1.0.0.1:x\t\t\n",
                   "ipcountry-batch: -:2: not an IPv4 or IPv6 address\nipcountry-batch: -:3: port is not a number\n", 1},
        DriverCase{"formattedLines",
                   piped("1.0.0.1:80\\r\\nbad line\\r\\n256.0.0.1:80\\r\\n1.0.0.1\\r\\n:80\\r\\n[2001:db8::1]:http\\r\\n"
                         "2001:zz::1\\r\\n", kData + "formatted -"),
                   "1.0.0.1\t:80\tGermany\n",
                   "ipcountry-batch: -:2: not an IPv4 or IPv6 address\n"
                   "ipcountry-batch: -:3: octet 1 is 256\n"
                   "ipcountry-batch: -:4: no port after the address (address:port)\n"
                   "ipcountry-batch: -:5: no address before the colon\n"
                   "ipcountry-batch: -:6: port is not a number\n"
                   "ipcountry-batch: -:7: not an IPv4 or IPv6 address\n", 1},
        // The list's own rule takes "4.4.4.4:80 then ...": a port of any text.
        DriverCase{"formattedLineOfAFile", kData + "formatted " + file("log.txt"),
                   "4.4.4.4\t:80 then 3.1.2.3 and 5.0.0.5:22\tThe \"Quoted\" Isles\n",
                   "ipcountry-batch: " + kDir + "/log.txt:1: not an IPv4 or IPv6 address\n"
                   "ipcountry-batch: " + kDir + "/log.txt:2: not an IPv4 or IPv6 address\n", 1},
        DriverCase{"missingFile", kData + "unformatted " + file("missing.log"), "",
                   "ipcountry-batch: " + kDir + "/missing.log: No such file or directory\n", 1},
        // A file's name is given whole, however long; only a typed operand is cut.
        DriverCase{"missingFileOfALongName", kData + "unformatted " + file(std::string(100, 'x')), "",
                   "ipcountry-batch: " + kDir + "/" + std::string(100, 'x') + ": No such file or directory\n", 1},
        DriverCase{"longOperandCut", kData + "find " + std::string(70, '9'), "",
                   "ipcountry-batch: " + std::string(64, '9') + "...: not an IPv4 or IPv6 address\n", 1},
        DriverCase{"missingFileAmongOthers", kData + "formatted " + file("missing.log") + " -- -", "",
                   "ipcountry-batch: " + kDir + "/missing.log: No such file or directory\n", 1},
        DriverCase{"folderForAFile", kData + "unformatted '" + kDir + "'", "",
                   "ipcountry-batch: " + kDir + ": Is a directory\n", 1},
        DriverCase{"archiveCutShort",
                   "--version > /dev/null; printf '1.0.0.1\\n' | gzip | head -c 12 | '" +
                       std::string(IPCOUNTRY_BIN_DIR) + "/ipcountry-batch' " + kData + "unformatted -",
                   "", "ipcountry-batch: -: the file is cut short (its gzip data ends before it is complete)\n", 1},
        DriverCase{"dataFileMissing", "--data-dir /nonexistent find 1.2.3.4", "",
                   "ipcountry-batch: 1.2.3.4: /nonexistent/IP_db.dbf: No such file or directory\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Each command's help: its synopsis, and the options that apply to it and
// no other; `help COMMAND` prints the same, `help` alone the whole help.
TEST(DriverCli, eachCommandHasItsOwnHelp) {
    const struct {
        const char* command;
        std::string synopsis;
        std::vector<std::string> has;
        std::vector<std::string> hasNot;
    } cases[] = {
        {"find",
         "Usage: ipcountry-batch find [OPTION]... ADDRESS...\n",
         {"--format FORMAT", "--threads N", "--data-dir DIR", "paste"},
         {"--stats", "--input-format", "--output", "or:"}},
        {"formatted",
         "Usage: ipcountry-batch formatted [OPTION]... FILE...\n",
         {"--stats", "--stop-on-error", "--threads N", "--format FORMAT"},
         {"--input-format", "--output"}},
        {"stats",
         "Usage: ipcountry-batch stats [OPTION]... [FILE]...\n",
         {"--input-format FORMAT", "--format FORMAT"},
         {"--threads", "--stop-on-error", "--output"}},
        {"report",
         "Usage: ipcountry-batch report [OPTION]... KIND FILE...\n",
         {"-o, --output FILE", "--stop-on-error", "--threads N"},
         {"--format", "--stats "}},
        {"networks",
         "Usage: ipcountry-batch networks [OPTION]... [COUNTRY]...\n",
         {"--family 4|6", "--all-countries", "--name PATTERN", "-o, --output FILE",
          "--exclude NETWORK", "--format FORMAT"},
         {"--stats", "--threads", "--first", "--only NETWORK"}},
    };
    for (const auto& c : cases) {
        const DriverResult help = runDriver(std::string(c.command) + " --help");
        EXPECT_EQ(help.status, 0) << c.command;
        EXPECT_TRUE(help.out.starts_with(c.synopsis)) << help.out;
        for (const std::string& text : c.has)
            EXPECT_NE(help.out.find(text), std::string::npos) << c.command << ": " << text;
        for (const std::string& text : c.hasNot)
            EXPECT_EQ(help.out.find(text), std::string::npos) << c.command << ": " << text;
        // The help wins over whatever else is wrong on the line.
        EXPECT_EQ(runDriver(std::string("-h ") + c.command + " --data-dir /nonexistent").out,
                  help.out);
        EXPECT_EQ(runDriver(std::string("help ") + c.command).out, help.out);
        std::istringstream lines(help.out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    }
    const DriverResult whole = runDriver("help");
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, runDriver("--help").out);
    for (const char* section :
         {"\nCommands:\n", "\nOptions:\n", "\nExit status:\n", "  help [COMMAND]"})
        EXPECT_NE(whole.out.find(section), std::string::npos) << section;
    // The manual page is made from it: no line wider than a terminal.
    std::istringstream lines(whole.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
}

// An RFC 4180 reader, as a spreadsheet or a script reads the file.
std::vector<std::vector<std::string>> readCsv(std::string_view text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            rows.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            rows.back().emplace_back();
        else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n' && ++i)
            rows.emplace_back(1);
        else
            rows.back().back() += c;
    }
    rows.pop_back();  // after the last line end
    return rows;
}

// Ports of a formatted list may hold any byte: csv and json must carry
// exactly the texts tsv shows, whatever needs quoting or escaping.
TEST(DriverCli, csvAndJsonCarryTheTextsOfTsv) {
    std::mt19937 random(20261207);
    std::string list;
    for (int line = 0; line < 300; ++line) {
        list += std::to_string(1 + random() % 5) + ".1.2." + std::to_string(random() % 256) + ":";
        for (auto n = random() % 12; n > 0; --n) {
            // Half the lines printable ASCII only, where quotes and
            // backslashes stand alone; the others any byte.
            const char c = static_cast<char>(line % 2 ? random() % 256 : 0x20 + random() % 95);
            if (c != '\t' && c != '\r' && c != '\n') list += c;
        }
        list += "\r\n";
    }
    const auto path = std::filesystem::temp_directory_path() / "ipcountry-driver-any-bytes.txt";
    std::ofstream(path, std::ios::binary) << list;
    const std::string tail = "formatted '" + path.string() + "'";

    std::vector<std::vector<std::string>> tsv;
    const std::string tsvOut = runDriverSplit(kData + tail).out;
    for (std::size_t start = 0, end; (end = tsvOut.find('\n', start)) != std::string::npos;
         start = end + 1) {
        tsv.emplace_back();
        std::stringstream row(tsvOut.substr(start, end - start));
        for (std::string field; std::getline(row, field, '\t');) tsv.back().push_back(field);
        tsv.back().resize(3);
    }
    ASSERT_EQ(tsv.size(), 300u);

    auto csv = readCsv(runDriverSplit(kData + "--format csv " + tail).out);
    ASSERT_EQ(csv.size(), tsv.size() + 1);
    EXPECT_EQ(csv[0], (std::vector<std::string>{"IP", "Port", "Country", "Code"}));

    std::stringstream json(runDriverSplit(kData + "--format json " + tail).out);
    std::string line;
    for (std::size_t i = 0; i < tsv.size(); ++i) {
        ASSERT_TRUE(std::getline(json, line));
        const auto object = nlohmann::json::parse(line);
        // Every port of the list has its colon: csv gives what follows it,
        // json the same as a number where it is one.
        std::vector<std::string> machine = tsv[i];
        ASSERT_EQ(machine[1].substr(0, 1), ":") << i;
        machine[1].erase(0, 1);
        const auto& port = object["port"];
        const bool digits = !machine[1].empty() && machine[1].size() <= 5 &&
                            machine[1].find_first_not_of("0123456789") == std::string::npos;
        if (digits)
            EXPECT_EQ(port, std::stoi(machine[1])) << i;
        else
            EXPECT_EQ(port, machine[1]) << i;
        const std::vector<std::string> fromJson{object["ip"], machine[1], object["country"]};
        EXPECT_EQ(fromJson, machine) << i;
        EXPECT_EQ(std::vector<std::string>(csv[i + 1].begin(), csv[i + 1].end() - 1), machine) << i;
        EXPECT_EQ(csv[i + 1].back(), object["code"]) << i;
    }
    std::filesystem::remove(path);
}

}  // namespace
