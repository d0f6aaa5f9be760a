// Rows and messages as they reach a file, a pipe or two files: each line of
// a list gives its row or its message, in the order of the lines, whatever
// the threads and wherever the two streams go. The reference is built from
// the lines themselves, with a formatter of its own for each format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const std::string kDir = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/driver";
const std::string kData = "--data-dir '" + kDir + "' ";

fs::path scratch() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-output-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    return dir;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The test data's countries: the ranges give the first octet's /8 to each.
struct Country {
    const char* name;  // as UTF-8
    const char* code;
};
const Country kCountries[] = {{"Germany", "DE"},
                              {"Korea, Republic of", "KR"},
                              {"C\xC3\xB4te d'Ivoire", "CI"},
                              {"The \"Quoted\" Isles", "QQ"},
                              {"USA", "US"}};

// One line of a list and what it must give.
struct Line {
    std::string text;
    std::string message;  // the problem of a wrong line; empty for a row
    std::string ip;
    std::string port;  // after the colon, as written (Windows-1252)
    const Country* country = nullptr;
    std::string reason;  // a row without a country (shown with --all only)
};

std::string utf8(std::string_view latin1) {
    std::string out;
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

enum class Format { Tsv, Csv, Json };

// A row as a person would write it down from the format's description.
std::string rowOf(const Line& line, Format format, bool all) {
    const std::string port = utf8(line.port);
    switch (format) {
        case Format::Tsv:
            return line.ip + "\t:" + port + "\t" +
                   (line.country ? std::string(line.country->name) : line.reason) + "\n";
        case Format::Csv:
            return line.ip + "," + csvField(port) + "," +
                   (line.country ? csvField(line.country->name) + "," + line.country->code
                                 : std::string(",")) +
                   (all ? "," + line.reason : std::string()) + "\r\n";
        case Format::Json: {
            Json row;
            row["ip"] = line.ip;
            const bool number = !port.empty() && port.size() <= 5 &&
                                port.find_first_not_of("0123456789") == std::string::npos;
            if (number)
                row["port"] = std::stoi(port);
            else
                row["port"] = port;
            if (line.country) {
                row["country"] = line.country->name;
                row["code"] = line.country->code;
            } else {
                row["country"] = nullptr;
                row["code"] = nullptr;
                row["reason"] = line.reason;
            }
            return row.dump() + "\n";
        }
    }
    return {};
}

std::string randomPort(std::mt19937& random) {
    switch (random() % 10) {
        case 0:
            return "00" + std::to_string(random() % 1000);  // a number in JSON all the same
        case 1:
            return "8\xE9";  // an 8-bit byte, as UTF-8 in every format
        case 2:
            return std::to_string(100000 + random() % 900000);  // too long for a number
        default:
            return std::to_string(1 + random() % 65535);
    }
}

std::vector<Line> randomList(std::mt19937& random, int count) {
    std::vector<Line> lines;
    const auto octets = [&random] {
        return "." + std::to_string(random() % 256) + "." + std::to_string(random() % 256) + "." +
               std::to_string(random() % 256);
    };
    for (int i = 0; i < count; ++i) {
        Line line;
        const unsigned kind = random() % 100;
        if (kind < 5) {
            static const std::pair<const char*, const char*> kWrong[] = {
                {"junk", "not an IPv4 or IPv6 address"},
                {"1.2.3.999:80", "octet 4 is 999"},
                {"1.0.0.7", "no port after the address (address:port)"},
                {"", "empty line"}};
            const auto& wrong = kWrong[random() % 4];
            line.text = wrong.first;
            line.message = wrong.second;
            lines.push_back(line);
            continue;
        }
        line.port = randomPort(random);
        if (kind < 9) {
            line.ip = "10" + octets();
            line.reason = "private";
        } else if (kind < 12) {
            line.ip = "7" + octets();  // a range without a country
            line.reason = "unknown";
        } else if (kind < 15) {
            line.ip = "2001:db8::" + std::to_string(random() % 9999);
            line.reason = "documentation";
            // A bracketed address takes a port of digits only.
            line.port = std::to_string(random() % 65536);
        } else {
            const unsigned first = 1 + random() % 5;
            line.ip = std::to_string(first) + octets();
            line.country = &kCountries[first - 1];
        }
        line.text = (line.ip.find(':') != std::string::npos ? "[" + line.ip + "]" : line.ip) + ":" +
                    line.port;
        lines.push_back(line);
    }
    return lines;
}

std::string listText(std::mt19937& random, const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) text += line.text + (random() % 2 ? "\r\n" : "\n");
    return text;
}

// The rows, the messages, and both as one stream in the order of the lines.
struct Expected {
    std::string rows;
    std::string messages;
    std::string both;
};

Expected expectedOf(const std::vector<Line>& lines, const std::string& where, Format format,
                    bool all) {
    Expected expected;
    if (format == Format::Csv)
        expected.rows = all ? "IP,Port,Country,Code,Reason\r\n" : "IP,Port,Country,Code\r\n";
    expected.both = expected.rows;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (!line.message.empty()) {
            const std::string message = "ipcountry-batch: " + where + ":" + std::to_string(i + 1) +
                                        ": " + line.message + "\n";
            expected.messages += message;
            expected.both += message;
        } else if (line.country || all) {
            const std::string row = rowOf(line, format, all);
            expected.rows += row;
            expected.both += row;
        }
    }
    return expected;
}

const char* formatName(Format format) {
    return format == Format::Tsv ? "tsv" : format == Format::Csv ? "csv" : "json";
}

enum class Place {
    OneFile,    // 2>&1 into a file
    FileTwice,  // the same file opened for each stream
    OnePipe,    // 2>&1 into a pipe
    TwoFiles,   // each stream a file of its own
};

struct Printed {
    std::string out;
    std::string err;
    int status = -1;
};

Printed runInto(const std::string& arguments, Place place) {
    Printed printed;
    if (place == Place::OnePipe) {
        const DriverResult result = runDriver(arguments, true);
        printed.out = result.out;
        printed.status = result.status;
        return printed;
    }
    const fs::path out = scratch() / "out";
    const fs::path err = scratch() / "err";
    std::string redirect = " >'" + out.string() + "' ";
    if (place == Place::OneFile) redirect += "2>&1";
    if (place == Place::FileTwice) redirect += "2>>'" + out.string() + "'";
    if (place == Place::TwoFiles) redirect += "2>'" + err.string() + "'";
    const int raw = std::system((driverCommand() + arguments + redirect).c_str());
    printed.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    printed.out = readFile(out);
    if (place == Place::TwoFiles) printed.err = readFile(err);
    return printed;
}

struct OrderCase {
    Format format;
    bool all;
    unsigned threads;
    Place place;
};

// A list of a few blocks of input and many buffers of rows, with a wrong
// line every twenty or so, in every format, on 1, 2 and 4 threads.
TEST(DriverOutput, keepsRowsAndMessagesInTheOrderOfTheLines) {
    std::mt19937 random(20261208);
    const std::vector<Line> lines = randomList(random, 60000);
    const fs::path list = scratch() / "list.txt";
    std::ofstream(list, std::ios::binary) << listText(random, lines);
    ASSERT_GT(fs::file_size(list), std::uintmax_t{1} << 20);

    std::vector<OrderCase> cases;
    for (const unsigned threads : {1u, 2u, 4u})
        for (const Place place :
             {Place::OneFile, Place::FileTwice, Place::OnePipe, Place::TwoFiles})
            cases.push_back({Format::Tsv, threads == 2, threads, place});
    for (const Format format : {Format::Csv, Format::Json})
        for (const unsigned threads : {1u, 4u})
            for (const Place place : {Place::OneFile, Place::TwoFiles})
                cases.push_back({format, true, threads, place});

    for (const OrderCase& c : cases) {
        const Expected expected = expectedOf(lines, list.string(), c.format, c.all);
        const std::string arguments =
            kData + (c.all ? "--all " : "") + "--format " + formatName(c.format) + " --threads " +
            std::to_string(c.threads) + " formatted '" + list.string() + "'";
        const Printed printed = runInto(arguments, c.place);
        SCOPED_TRACE(arguments + " place " + std::to_string(static_cast<int>(c.place)));
        // A wrong line makes the exit status 1.
        EXPECT_EQ(printed.status, expected.messages.empty() ? 0 : 1);
        if (c.place == Place::TwoFiles) {
            EXPECT_TRUE(printed.out == expected.rows) << "rows differ";
            EXPECT_TRUE(printed.err == expected.messages) << "messages differ";
        } else {
            // Compared whole, but not printed whole: a megabyte helps nobody.
            EXPECT_TRUE(printed.out == expected.both)
                << "first difference at byte "
                << std::mismatch(
                       printed.out.begin(),
                       printed.out.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                 printed.out.size(), expected.both.size())),
                       expected.both.begin())
                           .first -
                       printed.out.begin();
        }
    }
}

// find - gives every line a row, a wrong one an empty row and its message
// right after it.
TEST(DriverOutput, findKeepsEachMessageAfterItsLinesRow) {
    std::mt19937 random(77);
    std::string input;
    std::string rows;
    std::string messages;
    std::string both;
    for (int i = 1; i <= 40000; ++i) {
        std::string line;
        std::string row;
        std::string message;
        switch (random() % 20) {
            case 0:
                line = "1.2.3";
                message = "3 octets, not 4";
                row = "1.2.3\t\t\n";
                break;
            case 1:
                line = "";
                message = "empty line";
                row = "\t\t\n";
                break;
            default: {
                const unsigned first = 1 + random() % 5;
                line = std::to_string(first) + "." + std::to_string(random() % 256) + ".0." +
                       std::to_string(random() % 256);
                row = line + "\t" + kCountries[first - 1].code + "\t" + kCountries[first - 1].name +
                      "\n";
            }
        }
        input += line + "\n";
        rows += row;
        both += row;
        if (!message.empty()) {
            const std::string text =
                "ipcountry-batch: -:" + std::to_string(i) + ": " + message + "\n";
            messages += text;
            both += text;
        }
    }
    const fs::path list = scratch() / "find.txt";
    std::ofstream(list, std::ios::binary) << input;
    for (const unsigned threads : {1u, 2u, 4u}) {
        const std::string arguments =
            kData + "--threads " + std::to_string(threads) + " find - <'" + list.string() + "'";
        const Printed one = runInto(arguments, Place::OneFile);
        EXPECT_EQ(one.status, 1);
        EXPECT_TRUE(one.out == both) << "threads " << threads;
        const Printed two = runInto(arguments, Place::TwoFiles);
        EXPECT_TRUE(two.out == rows) << "threads " << threads;
        EXPECT_TRUE(two.err == messages) << "threads " << threads;
    }
}

// The driver on a pipe the test writes now and then.
class FedDriver {
public:
    FedDriver(const std::vector<std::string>& arguments, bool errorApart) {
        int in[2];
        int out[2];
        int err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(errorApart ? err[1] : out[1], STDERR_FILENO);
            for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
            std::vector<char*> argv;
            const std::string program = std::string(IPCOUNTRY_BIN_DIR) + "/ipcountry-batch";
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
    }
    FedDriver(const FedDriver&) = delete;
    FedDriver& operator=(const FedDriver&) = delete;
    ~FedDriver() {
        closeInput();
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : {m_out, m_err})
            if (fd >= 0) ::close(fd);
    }

    bool started() const { return m_pid > 0; }
    void write(const std::string& text) {
        ASSERT_EQ(::write(m_in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeInput() {
        if (m_in >= 0) ::close(m_in);
        m_in = -1;
    }
    // What came on standard output (or standard error) until it holds
    // `wanted`, or the deadline passed.
    std::string readUntil(bool fromError, const std::string& wanted) {
        const int fd = fromError ? m_err : m_out;
        std::string& got = fromError ? m_errText : m_outText;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (got.find(wanted) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

struct FedCase {
    const char* name;
    std::vector<std::string> arguments;
    bool errorApart;
    std::string firstRow;
    std::string message;
};

std::ostream& operator<<(std::ostream& os, const FedCase& c) { return os << c.name; }

class DriverFedTest : public ::testing::TestWithParam<FedCase> {};

// Someone feeding a pipe sees the row and the message of each line while
// the input stays open, not when a buffer fills or the input ends.
TEST_P(DriverFedTest, tellsRowsAndMessagesWhileTheInputWaits) {
    const FedCase& c = GetParam();
    std::vector<std::string> arguments = {"--data-dir", kDir};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    FedDriver driver(arguments, c.errorApart);
    ASSERT_TRUE(driver.started());
    driver.write("1.0.0.1:80\njunk\n");
    if (c.errorApart) {
        EXPECT_EQ(driver.readUntil(false, c.firstRow), c.firstRow);
        EXPECT_EQ(driver.readUntil(true, c.message), c.message);
    } else {
        EXPECT_EQ(driver.readUntil(false, c.message), c.firstRow + c.message);
    }
    driver.closeInput();
}

const std::string kJunk = "ipcountry-batch: -:2: not an IPv4 or IPv6 address\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, DriverFedTest,
    ::testing::Values(
        FedCase{"formattedOneThreadShared",
                {"--threads", "1", "formatted", "-"},
                false,
                "1.0.0.1\t:80\tGermany\n",
                kJunk},
        FedCase{"formattedTwoThreadsShared",
                {"--threads", "2", "formatted", "-"},
                false,
                "1.0.0.1\t:80\tGermany\n",
                kJunk},
        FedCase{"formattedApart",
                {"--threads", "2", "formatted", "-"},
                true,
                "1.0.0.1\t:80\tGermany\n",
                kJunk},
        FedCase{"findShared", {"find", "-"}, false, "1.0.0.1:80\tDE\tGermany\njunk\t\t\n", kJunk},
        FedCase{"findApart",
                {"--threads", "1", "find", "-"},
                true,
                "1.0.0.1:80\tDE\tGermany\njunk\t\t\n",
                kJunk}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
