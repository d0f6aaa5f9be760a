#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tools/driver_support.h"

namespace {

const std::string kData = std::string("--data-dir '") + IPCOUNTRY_TEST_DATA_DIR + "/lookup' ";

struct FindCase {
    std::string arguments;
    std::string output;
    int status;
};

TEST(DriverFind, printsAddressCodeAndNameOrTheError) {
    // clang-format off
    const FindCase cases[] = {
        {kData + "find 1.2.3.4", "1.2.3.4\tDE\tGermany\n", 0},
        {kData + "find 2.0.0.1", "2.0.0.1\tUS\tUSA\n", 0},
        // Names are Windows-1252 in the list and UTF-8 on the way out.
        {kData + "find 3.0.0.0", "3.0.0.0\tCI\tC\xC3\xB4te d'Ivoire\n", 0},
        // A code no country has, and an address no range holds: no code,
        // and the reason in place of the country.
        {kData + "find 4.1.1.1", "4.1.1.1\t\tunknown\n", 0},
        {kData + "find 5.0.0.1", "5.0.0.1\t\tunknown\n", 0},
        // IPv6: bare, in brackets with capitals, a code the list lacks, no
        // range, link-local, and IPv4 in IPv6 notation looked up as IPv4.
        {kData + "find 2001:db8::1", "2001:db8::1\tUS\tUSA\n", 0},
        {kData + "find [2001:DB8:1::5]", "[2001:DB8:1::5]\tFR\tFrance\n", 0},
        {kData + "find 2a00::1", "2a00::1\t\tunknown\n", 0},
        {kData + "find 2a01::", "2a01::\t\tunknown\n", 0},
        {kData + "find fe80::1%eth0", "fe80::1%eth0\t\tlink-local\n", 0},
        {kData + "find ::ffff:2.0.0.1", "::ffff:2.0.0.1\tUS\tUSA\n", 0},
        {kData + "find ::ffff:300:0", "::ffff:300:0\tCI\tC\xC3\xB4te d'Ivoire\n", 0},
        // No row for an operand that is no address; the message names it and says why.
        {kData + "find 2001:db8:::1", "ipcountry-batch: 2001:db8:::1: not an IPv4 or IPv6 address\n", 1},
        {kData + "find 1.2.3.999", "ipcountry-batch: 1.2.3.999: octet 4 is 999\n", 1},
        {kData + "find a.b.c.d", "ipcountry-batch: a.b.c.d: not an IPv4 or IPv6 address\n", 1},
        {kData + "find 1.2.3", "ipcountry-batch: 1.2.3: 3 octets, not 4\n", 1},
        // A port is no part of the address; the row shows what was typed.
        {kData + "find 1.2.3.4:8080", "1.2.3.4:8080\tDE\tGermany\n", 0},
        {kData + "find [2001:db8::1]:443", "[2001:db8::1]:443\tUS\tUSA\n", 0},
        {kData + "find ' 1.2.3.4\t'", "1.2.3.4\tDE\tGermany\n", 0},
        {"--data-dir /nonexistent find 1.2.3.4", "ipcountry-batch: 1.2.3.4: /nonexistent/IP_db.dbf: No such file or directory\n", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto result = runDriver(c.arguments, true);
        EXPECT_EQ(result.out, c.output) << c.arguments;
        EXPECT_EQ(result.status, c.status) << c.arguments;
    }
}

// An address without a country has one form in every format: no code, and
// the reason where the country stands (csv: the Reason column). The bundled
// data, one address of each reason; "unknown" from the test data's code that
// no country has. --all is taken and changes nothing.
TEST(DriverFind, addressWithoutACountryGivesItsReasonInEveryFormat) {
    const std::string bundled = std::string("--data-dir '") + IPCOUNTRY_BIN_DIR + "' find ";
    struct Case {
        std::string address;
        std::string reason;
        std::string data;
    };
    const Case cases[] = {
        {"10.1.2.3", "private", bundled},          {"127.0.0.1", "loopback", bundled},
        {"169.254.9.9", "link-local", bundled},    {"fe80::1%eth0", "link-local", bundled},
        {"100.64.0.1", "shared", bundled},         {"192.0.2.1", "documentation", bundled},
        {"2001:db8::1", "documentation", bundled}, {"224.0.0.1", "multicast", bundled},
        {"ff02::1", "multicast", bundled},         {"240.0.0.1", "reserved", bundled},
        {"4.1.1.1", "unknown", kData + "find "},
    };
    for (const Case& c : cases) {
        for (const std::string all : {"", "--all "}) {
            EXPECT_EQ(runDriver(c.data + all + c.address).out,
                      c.address + "\t\t" + c.reason + "\n");
            EXPECT_EQ(runDriver(c.data + all + "--format csv " + c.address).out,
                      "IP,Code,Country,Reason\r\n" + c.address + ",,," + c.reason + "\r\n");
            EXPECT_EQ(runDriver(c.data + all + "--format json " + c.address).out,
                      "{\"ip\":\"" + c.address + "\",\"code\":null,\"country\":null,\"reason\":\"" +
                          c.reason + "\"}\n");
        }
    }
    // A country: no reason, in the Reason column an empty field.
    EXPECT_EQ(runDriver(bundled + "--format csv 8.8.8.8").out,
              "IP,Code,Country,Reason\r\n8.8.8.8,US,USA,\r\n");
    EXPECT_EQ(runDriver(bundled + "--format json 8.8.8.8").out,
              "{\"ip\":\"8.8.8.8\",\"code\":\"US\",\"country\":\"USA\"}\n");
}

// A folder made for one test run, removed at its end.
struct ScratchFolder {
    ScratchFolder() {
        char path[] = "/tmp/ipcountry-driver-find-XXXXXX";
        if (::mkdtemp(path) != nullptr) name = path;
    }
    ~ScratchFolder() {
        if (!name.empty()) std::filesystem::remove_all(name);
    }
    std::string name;
};

// Each family needs its own file only: IPv4 answers in an older installation
// without IP6_db.dbf, and an IPv6 address reports that file as IPv4 reports its own.
TEST(DriverFind, missingRangeFileIsTheLookupsError) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    const std::string dir = scratch.name + "/data";
    const std::string lookup = std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/lookup/";
    const struct {
        const char* copied;
        const char* address;
        std::string out;
    } cases[] = {
        {"", "1.2.3.4",
         "ipcountry-batch: 1.2.3.4: " + dir + "/IP_db.dbf: No such file or directory\n"},
        {"IP_db.dbf", "1.2.3.4", "1.2.3.4\tDE\tGermany\n"},
        {"IP_db.dbf", "2001:db8::1",
         "ipcountry-batch: 2001:db8::1: " + dir + "/IP6_db.dbf: No such file or directory\n"},
        {"IP6_db.dbf", "[2001:db8::1]", "[2001:db8::1]\tUS\tUSA\n"},
        {"IP6_db.dbf", "::ffff:1.2.3.4",
         "ipcountry-batch: ::ffff:1.2.3.4: " + dir + "/IP_db.dbf: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        std::string setup =
            "rm -rf " + dir + " && mkdir -p " + dir + " && cp " + lookup + "Country.dbf' " + dir;
        if (*c.copied) setup += " && cp " + lookup + c.copied + "' " + dir;
        std::system(setup.c_str());
        const auto result = runDriver("--data-dir " + dir + " find '" + c.address + "'", true);
        EXPECT_EQ(result.out, c.out) << c.copied << " " << c.address;
        EXPECT_EQ(result.status, c.out.starts_with("ipcountry-batch") ? 1 : 0);
    }
}

// A saved index cut short or overwritten: the answers come from the range
// file, a sound index takes its place, and the run says so once, as a
// warning that leaves the exit status alone.
TEST(DriverFind, damagedSavedIndexIsRebuiltAndTold) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    const std::string dir = scratch.name + "/data";
    const std::string lookup = std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/lookup/";
    const std::string index = dir + "/IP_db.dbf.index";
    const std::string told =
        "ipcountry-batch: " + index + ": damaged saved index, rebuilt from " + dir + "/IP_db.dbf\n";
    const struct {
        const char* name;
        std::string damage;  // a shell command run on the saved index
    } cases[] = {
        {"cut short", "truncate -s 100 '" + index + "'"},
        {"emptied", ": > '" + index + "'"},
        {"another file in its place", "cp " + lookup + "Country.dbf' '" + index + "'"},
    };
    for (const auto& c : cases) {
        const std::string setup = "rm -rf " + dir + " && mkdir -p " + dir + " && cp " + lookup +
                                  "Country.dbf' " + lookup + "IP_db.dbf' " + dir;
        ASSERT_EQ(std::system(setup.c_str()), 0);
        const std::string find = "--data-dir " + dir + " find 1.2.3.4";
        const auto first = runDriver(find, true);
        EXPECT_EQ(first.out, "1.2.3.4\tDE\tGermany\n") << c.name;
        ASSERT_EQ(std::system(c.damage.c_str()), 0) << c.name;
        const auto damaged = runDriver(find, true);
        EXPECT_EQ(damaged.out, "1.2.3.4\tDE\tGermany\n" + told) << c.name;
        EXPECT_EQ(damaged.status, 0) << c.name;
        const auto after = runDriver(find, true);
        EXPECT_EQ(after.out, "1.2.3.4\tDE\tGermany\n") << c.name;
    }
}

// The lines of a text as a reader independent of the driver splits them:
// LF, CR LF or CR end a line, and the last line needs no end.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') {
            line += c;
            continue;
        }
        lines.push_back(std::move(line));
        line.clear();
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> rowsOf(const std::string& out) {
    std::vector<std::string> rows;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1)
        rows.push_back(out.substr(start, end - start));
    return rows;
}

// find - writes exactly one row per input line, in order, so that `paste`
// lines answers up with input: lines of every kind, ended by LF, CR LF or
// CR, blanks around addresses, a line longer than find takes and one longer
// than a block of lines, more than a reader's block in all, a last line
// without an end; each wrong line's message names its line number.
TEST(DriverFind, standardInputGivesOneRowPerLine) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    struct Line {
        std::string text;
        std::string shown;  // the row's first column
        bool good;
    };
    const std::vector<Line> kinds = {
        {"1.2.3.4", "1.2.3.4", true},
        {"  2.0.0.1\t", "2.0.0.1", true},
        {"1.2.3.4:80", "1.2.3.4:80", true},
        {" [2001:db8::1]:443 ", "[2001:db8::1]:443", true},
        {"5.0.0.1", "5.0.0.1", true},  // no range: still an answer
        {"", "", false},
        {"   ", "", false},
        {"bad line", "bad line", false},
        {"1.2.3.999", "1.2.3.999", false},
        {"a\tb", "a b", false},
        {"8.8.8.8:port", "8.8.8.8:port", false},
    };
    std::mt19937 random(24);
    std::vector<Line> lines;
    std::string input;
    while (input.size() < (std::size_t{3} << 20)) {
        Line line = kinds[random() % kinds.size()];
        if (lines.size() == 5000) line = {std::string(5000, '7'), "", false};
        if (lines.size() == 90000) line = {std::string(300000, '1'), "", false};
        // An LF right after a CR would be the end of that one line.
        const char* const ends[] = {"\r\n", "\r", "\n"};
        const bool afterCr = input.ends_with('\r');
        input += line.text;
        input += ends[random() % (line.text.empty() && afterCr ? 2 : 3)];
        lines.push_back(std::move(line));
    }
    lines.push_back({"2.0.0.1", "2.0.0.1", true});
    input += "2.0.0.1";
    ASSERT_EQ(splitLines(input).size(), lines.size());
    const std::string path = scratch.name + "/input.txt";
    std::ofstream(path, std::ios::binary) << input;

    for (const char* threads : {"--threads 1 ", "--threads 3 "}) {
        const auto result = runDriverSplit(kData + threads + "find - < '" + path + "'");
        const std::vector<std::string> rows = rowsOf(result.out);
        ASSERT_EQ(rows.size(), lines.size()) << threads;
        std::string wrongLines;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& row = rows[i];
            ASSERT_EQ(row.substr(0, row.find('\t')), lines[i].shown) << threads << "line " << i + 1;
            if (!lines[i].good) {
                EXPECT_EQ(row, lines[i].shown + "\t\t") << "line " << i + 1;
                wrongLines += std::to_string(i + 1) + " ";
            }
        }
        std::string toldLines;
        for (const std::string& message : rowsOf(result.err)) {
            ASSERT_TRUE(message.starts_with("ipcountry-batch: -:")) << message;
            toldLines += message.substr(19, message.find(':', 19) - 19) + " ";
        }
        EXPECT_EQ(toldLines, wrongLines) << threads;
        EXPECT_EQ(result.status, 1);
    }
}

// A pipe fed now and then gets each answer while the next line is still to
// come: the writer sends its second line only once the first answer has
// been read (and gives up, saying "late", after 30 s of its own deadline).
TEST(DriverFind, answersAPipeAsItsLinesCome) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    const std::string seen = "'" + scratch.name + "/seen'";
    const std::string first = scratch.name + "/first";
    const std::string rest = scratch.name + "/rest";
    const std::string feed = "(echo 1.2.3.4; i=0; while [ ! -e " + seen +
                             " ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; [ -e " + seen +
                             " ] || echo late; echo 2.0.0.1)";
    const std::string take = "{ IFS= read -r line; printf '%s\\n' \"$line\" > '" + first +
                             "'; touch " + seen + "; cat > '" + rest + "'; }";
    runDriver("--version > /dev/null; " + feed + " | '" + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' " +
              kData + "find - | " + take);
    std::ifstream firstFile(first), restFile(rest);
    const std::string firstRow((std::istreambuf_iterator<char>(firstFile)), {});
    const std::string restRows((std::istreambuf_iterator<char>(restFile)), {});
    EXPECT_EQ(firstRow, "1.2.3.4\tDE\tGermany\n");
    EXPECT_EQ(restRows, "2.0.0.1\tUS\tUSA\n");
}

// No message grows with the text it is about: a line of megabytes (worked
// in pieces), one longer than find takes, an operand of 100 000 characters.
TEST(DriverFind, messagesStayShortWhateverTheText) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    const std::string path = scratch.name + "/huge.txt";
    const struct {
        std::string input;
        std::string operand;
    } cases[] = {
        {std::string(8 << 20, 'a') + "\n", "-"},
        {std::string(100000, '1') + "\n1.2.3.4\n", "-"},
        {"1." + std::string(3000, '9') + ".0.0\n", "-"},
        {"", "1.2.3." + std::string(100000, '4')},
        {"", std::string(100000, 'x')},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary) << c.input;
        const auto result = runDriverSplit(kData + "find '" + c.operand + "' < '" + path + "'");
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.starts_with("ipcountry-batch: ")) << result.err.substr(0, 200);
        EXPECT_LT(result.err.size(), 160u) << result.err.substr(0, 200);
        // The row of an overlong line shows none of it.
        EXPECT_LT(result.out.size(), 4200u);
    }
}

// Standard input answered on several threads gives exactly the rows and
// messages of one thread, in the same order (both streams in one), with the
// same line numbers: some 200 000 lines of every kind, CR LF in one half, a
// line longer than find takes and one longer than a block of lines (worked
// in pieces on the calling thread), lines cut by every block border, a last line
// without a line end; read from a file and through a pipe, which hands
// over blocks of other sizes; and with IP6_db.dbf missing, so that every
// IPv6 line fails with the one try of that file.
TEST(DriverFind, standardInputOnThreadsAnswersAsOneThread) {
    const ScratchFolder scratch;
    ASSERT_FALSE(scratch.name.empty());
    const std::string path = scratch.name + "/input.txt";
    std::string input;
    std::uint32_t seed = 17;
    const auto next = [&seed](std::uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t kind = next(100);
        if (kind == 0)
            input += "1.2.3.999";
        else if (kind == 1)
            input += "a.b.c.d";
        else if (kind < 4)
            input += "";
        else if (kind < 14)
            input += "2001:db8::" + std::to_string(next(10));
        else if (kind == 14)
            input += "fe80::1%eth0";
        else
            input += std::to_string(next(7)) + "." + std::to_string(next(256)) + ".0." +
                     std::to_string(next(256));
        if (i == 100000) input += std::string(70000, '7');
        if (i == 150000) input += std::string(300000, '7');
        input += i < 100000 ? "\r\n" : "\n";
    }
    input += "2.0.0.1";
    std::ofstream(path, std::ios::binary) << input;

    const std::string noIpv6 = scratch.name + "/noipv6";
    const std::string lookup = std::string("'") + IPCOUNTRY_TEST_DATA_DIR + "/lookup/";
    std::system(("rm -rf " + noIpv6 + " && mkdir -p " + noIpv6 + " && cp " + lookup +
                 "Country.dbf' " + lookup + "IP_db.dbf' " + noIpv6)
                    .c_str());
    const std::string fromFile = "find - < '" + path + "'";
    const struct {
        std::string options;
        std::string feed;
        std::string command;
    } cases[] = {
        {kData, "", fromFile},
        {kData + "--format csv ", "", fromFile},
        {kData + "--format json ", "", fromFile},
        {"--data-dir " + noIpv6 + " ", "", fromFile},
        {kData, "", "find 2.0.0.1 - 1.2.3.999 < '" + path + "'"},
    };
    for (const auto& c : cases) {
        const auto one = runDriver(c.options + "--threads 1 " + c.command, true);
        ASSERT_GT(one.out.size(), 2000000u) << c.options << c.command;
        EXPECT_EQ(one.status, 1);
        for (const char* threads : {"", "--threads 2 ", "--threads 5 "}) {
            const auto many = runDriver(c.options + threads + c.command, true);
            EXPECT_TRUE(many.out == one.out) << c.options << threads << c.command;
            EXPECT_EQ(many.status, one.status) << c.options << threads << c.command;
        }
    }
    // Through a pipe: the same rows and messages as from the file on one thread.
    const auto one = runDriver(kData + "--threads 1 " + fromFile, true);
    const auto piped =
        runDriver("--version > /dev/null; cat '" + path + "' | '" + IPCOUNTRY_BIN_DIR +
                      "/ipcountry-batch' " + kData + "--threads 2 find -",
                  true);
    EXPECT_TRUE(piped.out == one.out);

    // Input that cannot be read is the same error on threads.
    const auto folder = runDriverSplit(kData + "--threads 2 find - < /tmp");
    EXPECT_EQ(folder.err, "ipcountry-batch: -: Is a directory\n");
    EXPECT_EQ(folder.status, 1);
}

}  // namespace
