// ipcountry-update-data as an unattended updater runs it: registry files in
// their real form served over HTTP on 127.0.0.1, and every way a download or
// a source can fail, after which the installed data must be byte for byte
// what they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "driver_support.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kServerScript =
    std::string(IPCOUNTRY_TEST_DATA_DIR) + "/../tools/test_http_server.py";
const std::string kMmdbWriter = std::string(IPCOUNTRY_TEST_DATA_DIR) + "/../data_gen/write_mmdb.pl";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

using ipcountry::test::TempDir;

// The test's own HTTP server (Python's http.server) on a free port of
// 127.0.0.1; it ends when its standard input closes.
class Server {
public:
    // Each request's path is appended to `log`, one a line.
    Server(const fs::path& root, const fs::path& log) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string rootText = root.string(), logText = log.string();
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(kServerScript.c_str()),
                        const_cast<char*>(rootText.c_str()), const_cast<char*>(logText.c_str()),
                        nullptr};
        if (posix_spawnp(&m_pid, "python3", &actions, nullptr, argv, environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        // The port, with a deadline of its own.
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_pid > 0 && line.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[64];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        if (line.find('\n') != std::string::npos) m_port = std::stoi(line);
    }
    ~Server() {
        if (m_stdin >= 0) ::close(m_stdin);
        if (m_pid <= 0) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    int port() const { return m_port; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

struct UpdaterRun {
    std::string out;
    std::string err;
    int status = -1;
};

// `shell` goes before the command: limits for the run, say.
UpdaterRun runUpdater(const std::string& arguments, const fs::path& scratch,
                      const std::string& shell = "") {
    const fs::path out = scratch / "stdout", err = scratch / "stderr";
    const std::string command = shell + " '" + IPCOUNTRY_BIN_DIR + "/ipcountry-update-data' " +
                                arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {readFile(out), readFile(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

// Everything a reader of the data folder can see: the generation .current
// names and each file, through the links.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    files["->"] = fs::read_symlink(folder / ".current", ec).string();
    if (!fs::is_directory(folder)) return files;
    // The updater's hidden entries are not the data: a killed run may leave some.
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string().starts_with(".")) {
            if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            files[fs::relative(it->path(), folder).string()] = readFile(it->path());
    }
    return files;
}

// The five registries' files in their real form: comments, version and
// summary lines, asn records, available and reserved space, EU and AP codes,
// IPv4 counts that are not powers of two, IPv6 prefixes, and a private
// block a registry claims (cut out by default).
const std::map<std::string, std::string> kRegistryFiles = {
    {"afrinic",
     "2|afrinic|20241204|3|00000000|20241203|+0000\n"
     "afrinic|*|asn|*|1|summary\n"
     "afrinic|*|ipv4|*|2|summary\n"
     "afrinic|ZA|asn|37000|1|20050101|allocated|F1\n"
     "afrinic|ZA|ipv4|41.0.0.0|4194304|20071119|allocated|F1\n"
     "afrinic||ipv4|102.0.0.0|65536||available|\n"},
    {"apnic",
     "2|apnic|20241204|4|19830613|20241204|+1000\n"
     "apnic|*|ipv4|*|2|summary\n"
     "apnic|*|ipv6|*|2|summary\n"
     "apnic|AU|ipv4|1.0.0.0|256|20110811|assigned|A1\n"
     "apnic|AP|ipv4|1.0.1.0|768|20110414|allocated|A2\n"
     "apnic|JP|ipv6|2001:200::|35|19990813|allocated|A3\n"
     "apnic||ipv6|2001:200:e000::|35||reserved|\n"},
    {"arin",
     "# ARIN statistics\n"
     "#\n"
     "2.3|arin|20241204|2|19700101|20241202|-0500\n"
     "arin|*|ipv4|*|2|summary\n"
     "arin|US|ipv4|3.0.0.0|16777216|19880223|allocated|B1\n"
     "arin|ZZ|ipv4|4.0.0.0|100|00000000|reserved|\n"},
    {"lacnic",
     "2|lacnic|20241204|2|19870101|20241203|-0300\n"
     "lacnic|*|ipv4|*|1|summary\n"
     "lacnic|*|asn|*|1|summary\n"
     "lacnic|BR|ipv4|177.0.0.0|1000|20090101|allocated|C1\n"
     "lacnic|BR|asn|28000|1|20000101|assigned|C1\n"},
    {"ripencc",
     "2|ripencc|1733353199|4|19830705|20241203|+0100\n"
     "ripencc|*|ipv4|*|3|summary\n"
     "ripencc|*|ipv6|*|1|summary\n"
     "ripencc|EU|ipv4|2.16.0.0|768|20100910|assigned|D1\n"
     "ripencc|NL|ipv4|192.168.0.0|65536|20100910|assigned|D2\n"
     "ripencc|FR|ipv4|2.0.0.0|1048576|20100712|allocated|D3\n"
     "ripencc|DE|ipv6|2a00::|12|20080101|allocated|D4\n"},
};

// Worked out by hand from the files above.
const std::string kExpectedIpv4 =
    "00000000ZZ\r\n01000000AU\r\n01000100AP\r\n01000400ZZ\r\n02000000FR\r\n02100000EU\r\n"
    "02100300ZZ\r\n03000000US\r\n04000000ZZ\r\n29000000ZA\r\n29400000ZZ\r\nB1000000BR\r\n"
    "B10003E8ZZ\r\n";
const std::string kExpectedIpv6 =
    "00000000000000000000000000000000ZZ\r\n20010200000000000000000000000000JP\r\n"
    "20010200200000000000000000000000ZZ\r\n2A000000000000000000000000000000DE\r\n"
    "2A100000000000000000000000000000ZZ\r\n";

// Packed by the gzip program, not by the reader's own libraries.
std::string ipcountryGzip(const std::string& text) {
    char name[] = "/tmp/ipcountry-gzip-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return {};
    ::close(fd);
    writeFile(name, text);
    const std::string command = std::string("gzip -nc '") + name + "' > '" + name + ".gz'";
    const bool packed = std::system(command.c_str()) == 0;
    std::string out = packed ? readFile(std::string(name) + ".gz") : std::string();
    std::remove(name);
    std::remove((std::string(name) + ".gz").c_str());
    return out;
}

std::string md5sum(const fs::path& file) {
    const std::string command = "md5sum '" + file.string() + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) out += buffer.data();
        ::pclose(pipe);
    }
    return out.substr(0, 32);
}

class UpdateDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_served = m_dir.path() / "served";
        m_scratch = m_dir.path() / "scratch";
        m_data = m_dir.path() / "home" / "ipcountry";
        fs::create_directories(m_served);
        fs::create_directories(m_scratch);
        for (const auto& [name, text] : kRegistryFiles) serve(name, text);
        m_server = std::make_unique<Server>(m_served, m_dir.path() / "requests");
        ASSERT_GT(m_server->port(), 0) << "the test's HTTP server did not start";
    }

    // Serves a registry file with its checksum file, in the BSD form for
    // some registries and in md5sum's for others; ARIN's has none.
    void serve(const std::string& name, const std::string& text) {
        writeFile(m_served / name, text);
        const std::string sum = md5sum(m_served / name);
        if (name == "arin") return;
        writeFile(m_served / (name + ".md5"), name == "apnic" || name == "ripencc"
                                                  ? sum + "  " + name + "\n"
                                                  : "MD5 (" + name + ") = " + sum + "\n");
    }

    std::string registryUrls(const std::map<std::string, std::string>& paths = {}) const {
        std::string args;
        for (const auto& [name, text] : kRegistryFiles) {
            const auto path = paths.find(name);
            args +=
                " --url " + name + "=" + m_server->url(path != paths.end() ? path->second : name);
        }
        return args;
    }

    UpdaterRun update(const std::string& arguments, const std::string& shell = "") {
        return runUpdater(
            "--data-dir '" + m_data.string() +
                "' --connect-timeout 10 --timeout 60 --stall-timeout 2 --retry-wait 0 " + arguments,
            m_scratch, shell);
    }

    // How often the server was asked for `path`.
    int requestsOf(const std::string& path) const {
        std::ifstream in(m_dir.path() / "requests");
        int count = 0;
        for (std::string line; std::getline(in, line);) count += line == "/" + path ? 1 : 0;
        return count;
    }

    // The updater's own entries in the folder: .current and its generation
    // when nothing is left over.
    int hiddenEntries() const {
        int hidden = 0;
        for (const auto& entry : fs::directory_iterator(m_data))
            hidden += entry.path().filename().string().starts_with(".") ? 1 : 0;
        return hidden;
    }

    TempDir m_dir;
    fs::path m_served, m_scratch, m_data;
    std::unique_ptr<Server> m_server;
};

TEST_F(UpdateDataTest, installsTheRegistriesFilesAsBothRangeFiles) {
    const UpdaterRun run = update(registryUrls() + " registries");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::read_symlink(m_data / "IP_db.dbf"), ".current/IP_db.dbf");
    EXPECT_EQ(readFile(m_data / "IP_db.dbf"), kExpectedIpv4);
    EXPECT_EQ(readFile(m_data / "IP6_db.dbf"), kExpectedIpv6);
    const std::string provenance = readFile(m_data / "provenance.txt");
    for (const auto& [name, text] : kRegistryFiles)
        EXPECT_NE(provenance.find("ranges=registry " + name + " " + m_server->url(name) + "\n"),
                  std::string::npos)
            << provenance;
    EXPECT_NE(provenance.find("ranges-licence=statistics published for public use by RIPE NCC"),
              std::string::npos);
    // The oldest of the five: ARIN's.
    EXPECT_NE(provenance.find("\nranges-date=2024-12-02\n"), std::string::npos) << provenance;
    // Only the installed generation is left beside the link.
    EXPECT_EQ(hiddenEntries(), 2);
}

TEST_F(UpdateDataTest, keepsTheSpecialBlocksCountryWhenAsked) {
    const UpdaterRun run = update(registryUrls() + " --keep-special registries");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(readFile(m_data / "IP_db.dbf").find("C0A80000NL\r\nC0A90000ZZ\r\n"),
              std::string::npos);
}

// A second update replaces the first whole; the first generation stays for
// the programs that may still be opening it, until the third update.
TEST_F(UpdateDataTest, aSecondUpdateReplacesTheFirstAndTheThirdRemovesIt) {
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    const fs::path first = fs::read_symlink(m_data / ".current");
    writeFile(m_scratch / "later.csv", "1.0.0.0,1.0.0.255,NZ\n2001:200::,2001:200::ffff,KR\n");
    const UpdaterRun run =
        update(registryUrls() + " registries '" + (m_scratch / "later.csv").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    // 1.0.0.0/24 of APNIC's, 2001:200::/112 inside APNIC's 2001:200::/35.
    EXPECT_NE(run.out.find("256 IPv4 and 65536 IPv6 addresses are claimed by more than one row or "
                           "source: the later one wins\n"),
              std::string::npos)
        << run.out;
    const fs::path second = fs::read_symlink(m_data / ".current");
    EXPECT_NE(second, first);
    EXPECT_EQ(readFile(m_data / first / "IP_db.dbf"), kExpectedIpv4);
    EXPECT_EQ(hiddenEntries(), 3);
    // The later source wins where the two overlap.
    EXPECT_EQ(readFile(m_data / "IP_db.dbf").substr(0, 36),
              "00000000ZZ\r\n01000000NZ\r\n01000100AP\r\n");
    EXPECT_NE(readFile(m_data / "IP6_db.dbf")
                  .find("20010200000000000000000000000000KR\r\n"
                        "20010200000000000000000000010000JP\r\n"),
              std::string::npos);
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    EXPECT_FALSE(fs::exists(m_data / first));
    EXPECT_TRUE(fs::exists(m_data / second / "IP_db.dbf"));
    EXPECT_EQ(hiddenEntries(), 3);
}

// The named CSV sources through their --url names: ip-location-db's two
// files, DB-IP's one packed file of both families; the date of the data is
// the server's Last-Modified (the oldest of the files).
struct CsvSource {
    const char* name;
    std::string source;
    std::map<std::string, std::pair<std::string, std::string>> files;  // url name -> file, date
    std::string date;
};

void PrintTo(const CsvSource& c, std::ostream* os) { *os << c.name; }

class NamedCsvSourceTest : public UpdateDataTest,
                           public ::testing::WithParamInterface<CsvSource> {};

const std::string kCsv4 = "1.0.0.0,1.0.0.255,AU\n1.0.1.0,1.0.3.255,CN\n";
const std::string kCsv6 = "2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n";

TEST_P(NamedCsvSourceTest, installsBothFamiliesWithTheServersDate) {
    std::string urls;
    for (const auto& [name, file] : GetParam().files) {
        const auto& [text, date] = file;
        const fs::path path = m_served / name;
        writeFile(path, name == "dbip-lite" ? ipcountryGzip(text) : text);
        ASSERT_EQ(
            std::system(("touch -d '" + date + "T12:00:00Z' '" + path.string() + "'").c_str()), 0);
        urls += " --url " + name + "=" + m_server->url(name);
    }
    const UpdaterRun run = update(urls + " " + GetParam().source);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(m_data / "IP_db.dbf"),
              "00000000ZZ\r\n01000000AU\r\n01000100CN\r\n01000400ZZ\r\n");
    EXPECT_EQ(readFile(m_data / "IP6_db.dbf"),
              "00000000000000000000000000000000ZZ\r\n20010200000000000000000000000000JP\r\n"
              "20010201000000000000000000000000ZZ\r\n");
    EXPECT_NE(readFile(m_data / "provenance.txt").find("\nranges-date=" + GetParam().date + "\n"),
              std::string::npos)
        << readFile(m_data / "provenance.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NamedCsvSourceTest,
    testing::Values(CsvSource{"ipLocationDb",
                              "ip-location-db",
                              {{"ip-location-db-ipv4", {kCsv4, "2026-11-30"}},
                               {"ip-location-db-ipv6", {kCsv6, "2026-11-29"}}},
                              "2026-11-29"},
                    CsvSource{"dbipLite",
                              "dbip-lite",
                              {{"dbip-lite", {"\xEF\xBB\xBF" + kCsv6 + kCsv4, "2026-11-01"}}},
                              "2026-11-01"}));

struct Failure {
    const char* name;
    std::function<void(const fs::path& served)> spoil;  // what goes wrong on the server
    std::map<std::string, std::string> paths;           // registry -> path served for it
    std::string message;                                // what stderr must say ($ = server)
    std::string options = "";                           // more for the run
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

class UpdateFailureTest : public UpdateDataTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(UpdateFailureTest, leavesTheInstalledDataAsTheyWere) {
    // A folder the user made, with a file of their own, then one good update.
    fs::create_directories(m_data / "flags");
    writeFile(m_data / "Country.dbf", "AUAustralia\r\n");
    writeFile(m_data / "flags" / "AU.gif", "GIF89a");
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    const auto before = snapshot(m_data);
    ASSERT_EQ(before.at("Country.dbf"), "AUAustralia\r\n");
    ASSERT_EQ(before.at("flags/AU.gif"), "GIF89a");

    GetParam().spoil(m_served);
    const UpdaterRun run =
        update(registryUrls(GetParam().paths) + " " + GetParam().options + " registries");
    EXPECT_EQ(run.status, 1);
    std::string message = GetParam().message;
    for (auto at = message.find('$'); at != std::string::npos; at = message.find('$', at))
        message.replace(at, 1, m_server->url(""));
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(m_data.string() + ": left as it was"), std::string::npos) << run.err;
    EXPECT_EQ(snapshot(m_data), before);
    // Nothing of the failed run is left beside the data.
    EXPECT_EQ(hiddenEntries(), 2);
}

std::string cutAfter(const std::string& text, std::size_t lines) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines; ++i) at = text.find('\n', at) + 1;
    return text.substr(0, at);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateFailureTest,
    testing::Values(
        Failure{"notFound",
                [](const fs::path& served) { fs::remove(served / "lacnic"); },
                {},
                "registries: $lacnic: the server answered HTTP 404"},
        // A file named as a source is named once, with the system's reason.
        Failure{"localSourceMissing",
                [](const fs::path&) {},
                {},
                "ipcountry-update-data: /nonexistent-ipcountry/source.csv: No such file or "
                "directory\n",
                "/nonexistent-ipcountry/source.csv"},
        Failure{"stalledServer",
                [](const fs::path&) {},
                {{"arin", "stall/arin"}},
                "registries: $stall/arin: the server stopped sending: nothing arrived for 2 "
                "seconds",
                // A stall may pass: tried once more.
                "--retries 1"},
        // Without a checksum file only the record counts can tell.
        Failure{"cutFile",
                [](const fs::path& served) {
                    writeFile(served / "arin", cutAfter(kRegistryFiles.at("arin"), 5));
                },
                {},
                "registries: $arin: the version line announces 2 records, the file holds 1: "
                "the file is cut short or damaged"},
        Failure{"cutFileWithItsChecksum",
                [](const fs::path& served) {
                    writeFile(served / "ripencc", cutAfter(kRegistryFiles.at("ripencc"), 5));
                },
                {},
                "registries: $ripencc: the checksum does not match"},
        Failure{"wrongChecksum",
                [](const fs::path& served) {
                    writeFile(served / "apnic.md5", "0123456789abcdef0123456789abcdef  apnic\n");
                },
                {},
                "registries: $apnic: the checksum does not match: MD5 "},
        Failure{"checksumFileWithoutAChecksum",
                [](const fs::path& served) {
                    writeFile(served / "afrinic.md5", "<html>moved</html>\n");
                },
                {},
                "registries: $afrinic.md5: holds no checksum in either form"},
        Failure{"malformedLine",
                [](const fs::path& served) {
                    std::string text = kRegistryFiles.at("lacnic");
                    text.replace(text.find("177.0.0.0"), 9, "177.0.0");
                    writeFile(served / "lacnic", text);
                    writeFile(served / "lacnic.md5", "MD5 (lacnic) = " + md5sum(served / "lacnic"));
                },
                {},
                "registries: $lacnic: line 4: the start is not an IPv4 address"},
        Failure{"emptyFile",
                [](const fs::path& served) { writeFile(served / "arin", ""); },
                {},
                "registries: $arin: the file is empty"},
        Failure{
            "notARegistryFile",
            [](const fs::path& served) { writeFile(served / "arin", "1.0.0.0,1.0.0.255,AU\n"); },
            {},
            "registries: $arin: not a registry statistics file"},
        // Passing failures past the retries allowed.
        Failure{"serverErrorsBeyondTheRetries",
                [](const fs::path&) {},
                {{"arin", "fail/9/arin"}},
                "registries: $fail/9/arin: the server answered HTTP 503",
                "--retries 1 --retry-wait 0"},
        Failure{"aRegistryWithoutItsChecksumWhenChecksumsAreRequired",
                [](const fs::path&) {},
                {},
                "registries: $arin: no checksum file $arin.md5 beside it, and "
                "--require-checksums is given",
                "--require-checksums"},
        // Some 2 MB of text packed into a few kilobytes.
        Failure{"aPackedFileThatUnpacksPastTheLimit",
                [](const fs::path& served) {
                    std::string text = kRegistryFiles.at("arin");
                    text.insert(0, std::string(2 << 20, '#') + "\n");
                    writeFile(served / "arin", ipcountryGzip(text));
                },
                {},
                "registries: $arin: unpacks to more than the limit of 1 MB",
                "--max-size 1"}));

// A file size limit (ulimit -f) stops the writing of the new range files:
// SIGXFSZ kills the updater in the middle of a file, or, ignored, makes the
// write fail as a full disk does.
struct Interruption {
    const char* name;
    const char* shell;
    bool killed;
};

void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }

class UpdateInterruptedTest : public UpdateDataTest,
                              public ::testing::WithParamInterface<Interruption> {};

TEST_P(UpdateInterruptedTest, leavesTheInstalledDataAndTheNextRunCleansUp) {
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    const auto before = snapshot(m_data);
    // Some 72 KB of range lines, far past the limit of 4 KB.
    std::string csv;
    for (int i = 0; i < 3000; ++i)
        csv += "1." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".0,1." +
               std::to_string(i / 250) + "." + std::to_string(i % 250) + ".127," +
               (i % 2 == 0 ? "DE" : "FR") + "\n";
    csv += "2001:200::,2001:200::ffff,JP\n";
    writeFile(m_scratch / "big.csv", csv);
    const std::string source = " '" + (m_scratch / "big.csv").string() + "'";

    const UpdaterRun run = update(source, GetParam().shell);
    if (GetParam().killed) {
        EXPECT_EQ(run.status, 128 + SIGXFSZ) << run.err;  // as the shell reports a killed command
    } else {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
        EXPECT_EQ(hiddenEntries(), 2);
    }
    EXPECT_EQ(snapshot(m_data), before);

    const UpdaterRun next = update(source);
    ASSERT_EQ(next.status, 0) << next.err;
    // A first ZZ line, then each range and the gap after it.
    EXPECT_EQ(readFile(m_data / "IP_db.dbf").size(), 12u * 6001);
    EXPECT_EQ(hiddenEntries(), 3);  // and the generation before
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateInterruptedTest,
                         testing::Values(Interruption{"killedWhileWriting", "ulimit -f 8;", true},
                                         Interruption{"writeFailsAsOnAFullDisk",
                                                      "trap '' XFSZ; ulimit -f 8;", false}));

TEST_F(UpdateDataTest, aFolderTheUserMadeKeepsItsOtherFiles) {
    fs::create_directories(m_data);
    writeFile(m_data / "Country.dbf", "AUAustralia\r\n");
    writeFile(m_data / "IP_db.dbf", "00000000ZZ\r\n");
    const UpdaterRun run = update(registryUrls() + " registries");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(m_data / "Country.dbf"), "AUAustralia\r\n");
    EXPECT_EQ(readFile(m_data / "IP_db.dbf"), kExpectedIpv4);
    EXPECT_EQ(readFile(m_data / "IP6_db.dbf"), kExpectedIpv6);
    EXPECT_NE(run.err.find("its own range files were replaced"), std::string::npos) << run.err;
}

TEST_F(UpdateDataTest, checkTellsTheAgeOfTheInstalledData) {
    UpdaterRun run = update("--check 30");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              m_data.string() + ": the age of the data is not known (no provenance.txt)\n");
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    // The files are from 2024-12-02: far more than a day old, less than a hundred years.
    run = update("--check 1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(": ranges as of 2024-12-02, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" days ago, older than 1 day\n"), std::string::npos) << run.out;
    run = update("--check 36500");
    EXPECT_EQ(run.status, 0) << run.out;
}

// Any source given by address: a MaxMind DB, compressed, from the server.
TEST_F(UpdateDataTest, readsACompressedMaxMindDatabaseFromAnAddress) {
    if (std::system("perl -MMaxMind::DB::Writer::Tree -e 1 2>/dev/null") != 0)
        GTEST_SKIP() << "libmaxmind-db-writer-perl is not installed";
    const std::string command =
        "printf '1.0.0.0 1.0.0.255 AU\\n10.0.0.0 10.0.0.255 AU\\n"
        "2001:200:: 2001:200::ffff JP\\n' | perl '" +
        kMmdbWriter + "' '" + (m_served / "country.mmdb").string() + "' iso 6 1 && gzip '" +
        (m_served / "country.mmdb").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const UpdaterRun run = update(m_server->url("country.mmdb.gz"));
    ASSERT_EQ(run.status, 0) << run.err;
    // 10.0.0.0/24 is private: no country.
    EXPECT_EQ(readFile(m_data / "IP_db.dbf"), "00000000ZZ\r\n01000000AU\r\n01000100ZZ\r\n");
    EXPECT_EQ(readFile(m_data / "IP6_db.dbf"),
              "00000000000000000000000000000000ZZ\r\n20010200000000000000000000000000JP\r\n"
              "20010200000000000000000000010000ZZ\r\n");
    EXPECT_NE(readFile(m_data / "provenance.txt")
                  .find("ranges=Test-Country " + m_server->url("country.mmdb.gz") + "\n"),
              std::string::npos);
}

// A MaxMind DB is unpacked into a file before it is read: the limit holds
// there too. Packed to a few kilobytes, it unpacks past 1 MB (the marker of
// a MaxMind DB at its end, so that it is taken for one).
TEST_F(UpdateDataTest, refusesAPackedMaxMindDatabaseThatUnpacksPastTheLimit) {
    writeFile(m_served / "big.mmdb.gz",
              ipcountryGzip(std::string(2 << 20, '\0') + "\xAB\xCD\xEFMaxMind.com"));
    const UpdaterRun run = update("--max-size 1 " + m_server->url("big.mmdb.gz"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(
        run.err.find(m_server->url("big.mmdb.gz") + ": unpacks to more than the limit of 1 MB"),
        std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(m_data / "IP_db.dbf"));
}

// With no source named, the registries are read, each checked against its
// checksum file; ARIN's has none, which the user hears about.
TEST_F(UpdateDataTest, readsTheRegistriesWhenNoSourceIsNamed) {
    const UpdaterRun run = update(registryUrls());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(m_data / "IP_db.dbf"), kExpectedIpv4);
    EXPECT_EQ(readFile(m_data / "IP6_db.dbf"), kExpectedIpv6);
    EXPECT_NE(run.out.find("registries: "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(m_server->url("arin") + ": no checksum file " + m_server->url("arin") +
                           ".md5 beside it: read unchecked"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("apnic"), std::string::npos) << run.err;
    for (const auto& [name, text] : kRegistryFiles) {
        EXPECT_EQ(requestsOf(name), 1) << name;
        EXPECT_EQ(requestsOf(name + ".md5"), 1) << name;
    }
}

// Which failures are tried again: those of the network or the server.
struct RetryCase {
    const char* name;
    std::string path;  // served for ARIN's file
    std::string options;
    int status;
    int requests;         // of the path
    std::string message;  // on stderr ($ = the path's address)
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class UpdateRetryTest : public UpdateDataTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UpdateRetryTest, retriesWhatMayPassAndNothingElse) {
    const RetryCase& c = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const UpdaterRun run =
        update(registryUrls({{"arin", c.path}}) + " --retry-wait 0 " + c.options + " registries");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(requestsOf(c.path), c.requests);
    std::string message = c.message;
    if (const auto at = message.find('$'); at != std::string::npos)
        message.replace(at, 1, m_server->url(c.path));
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    if (c.status == 0) {
        EXPECT_EQ(readFile(m_data / "IP_db.dbf"), kExpectedIpv4);
    }
    // A Retry-After of one second is taken over a first wait of up to 30.
    EXPECT_LT(seconds.count(), 20.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateRetryTest,
    testing::Values(
        RetryCase{"twoServerErrorsThenTheFile", "fail/2/arin", "", 0, 3,
                  "$: the server answered HTTP 503; trying again in 0 seconds, retry 2 of 3"},
        RetryCase{"aResetConnectionThenTheFile", "reset/1/arin", "", 0, 2,
                  "$: Recv failure: Connection reset by peer; trying again in 0 seconds, retry 1 "
                  "of 3"},
        RetryCase{"busyWithRetryAfterThenTheFile", "busy/1/1/arin", "--retry-wait 30", 0, 2,
                  "$: the server answered HTTP 429; trying again in 1 second, retry 1 of 3"},
        RetryCase{"noRetriesAsked", "fail/1/arin", "--retries 0", 1, 1,
                  "$: the server answered HTTP 503\n"},
        RetryCase{"notFoundIsNotRetried", "gone/arin", "", 1, 1,
                  "$: the server answered HTTP 404\n"},
        RetryCase{"forbiddenIsNotRetried", "status/403/arin", "", 1, 1,
                  "$: the server answered HTTP 403\n"}));

// The date of the data: their own, or the user's for a CSV, else unknown;
// data older than the installed data only when asked.
struct DateCase {
    const char* name;
    std::string options;  // with a CSV of ranges as the source
    int status;
    std::string said;      // on stderr
    std::string recorded;  // ranges-date= after the run
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }

class UpdateDateTest : public UpdateDataTest, public ::testing::WithParamInterface<DateCase> {};

TEST_P(UpdateDateTest, datesDataByWhatTheyStateAndRefusesOlderOnes) {
    // The installed data: the registries, as of ARIN's 2024-12-02.
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    const auto before = snapshot(m_data);
    const fs::path csv = m_scratch / "ranges.csv";
    writeFile(csv, "1.0.0.0,1.0.0.255,NZ\n2001:200::,2001:200::ffff,KR\n");
    // A file's time says nothing of its data.
    ASSERT_EQ(std::system(("touch -d 1985-10-26 '" + csv.string() + "'").c_str()), 0);
    const UpdaterRun run = update(GetParam().options + " '" + csv.string() + "'");
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_NE(run.err.find(GetParam().said), std::string::npos) << run.err;
    if (GetParam().status != 0) {
        EXPECT_EQ(snapshot(m_data), before);
    }
    EXPECT_NE(
        readFile(m_data / "provenance.txt").find("\nranges-date=" + GetParam().recorded + "\n"),
        std::string::npos)
        << readFile(m_data / "provenance.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateDateTest,
    testing::Values(
        DateCase{"olderRefused", "--date 2024-12-01", 1,
                 "the new data are as of 2024-12-01, older than the installed data, as of "
                 "2024-12-02: not installed (--allow-older installs them)",
                 "2024-12-02"},
        DateCase{"olderWhenAllowed", "--allow-older --date 2024-12-01", 0, "", "2024-12-01"},
        DateCase{"sameDay", "--date 2024-12-02", 0, "", "2024-12-02"},
        DateCase{"newer", "--date 2026-01-31", 0, "", "2026-01-31"},
        DateCase{"unknownWithoutADate", "", 0, "", "unknown"}));

TEST_F(UpdateDataTest, checkSaysWhenNoSourceStatesTheDate) {
    writeFile(m_scratch / "ranges.csv", "1.0.0.0,1.0.0.255,NZ\n2001:200::,2001:200::ffff,KR\n");
    ASSERT_EQ(update("'" + (m_scratch / "ranges.csv").string() + "'").status, 0);
    const UpdaterRun run = update("--check 36500");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, m_data.string() +
                           ": the age of the data is not known (no source of its data states "
                           "their date)\n");
}

// Data exactly as old as the limit pass; a day more does not.
TEST_F(UpdateDataTest, checkCountsTheLimitsOwnDayAsFresh) {
    using namespace std::chrono;
    const year_month_day then{floor<days>(system_clock::now()) - days(30)};
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(then.year()),
                  static_cast<unsigned>(then.month()), static_cast<unsigned>(then.day()));
    writeFile(m_scratch / "ranges.csv", "1.0.0.0,1.0.0.255,NZ\n2001:200::,2001:200::ffff,KR\n");
    ASSERT_EQ(
        update(std::string("--date ") + date + " '" + (m_scratch / "ranges.csv").string() + "'")
            .status,
        0);
    const struct {
        const char* days;
        int status;
    } cases[] = {{"30", 0}, {"31", 0}, {"29", 1}, {"0", 1}};
    for (const auto& c : cases) {
        const UpdaterRun run = update(std::string("--check ") + c.days);
        EXPECT_EQ(run.status, c.status) << c.days << ": " << run.out;
        EXPECT_NE(run.out.find(std::string("ranges as of ") + date + ", 30 days ago"),
                  std::string::npos)
            << run.out;
    }
}

// A registry file given by name or address is checked against NAME.md5
// beside it, as the named source's are.
struct ChecksumCase {
    const char* name;
    bool byAddress;
    std::string sum;  // NAME.md5's text: "good" for the right one, empty for none
    std::string options;
    int status;
    std::string said;  // on stderr ($ = the file's name or address)
};

void PrintTo(const ChecksumCase& c, std::ostream* os) { *os << c.name; }

class GivenRegistryChecksumTest : public UpdateDataTest,
                                  public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(GivenRegistryChecksumTest, checksTheChecksumFileBesideIt) {
    const ChecksumCase& c = GetParam();
    const fs::path folder = c.byAddress ? m_served : m_scratch;
    const fs::path file = folder / "delegated-apnic-extended";
    writeFile(file, kRegistryFiles.at("apnic"));
    if (!c.sum.empty())
        writeFile(folder / "delegated-apnic-extended.md5",
                  c.sum == "good" ? md5sum(file) + "  delegated-apnic-extended\n" : c.sum);
    const std::string name =
        c.byAddress ? m_server->url("delegated-apnic-extended") : file.string();
    const UpdaterRun run = update(c.options + " '" + name + "'");
    EXPECT_EQ(run.status, c.status) << run.err;
    std::string said = c.said;
    for (auto at = said.find('$'); at != std::string::npos; at = said.find('$', at))
        said.replace(at, 1, name);
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    if (c.status == 0) {
        EXPECT_EQ(readFile(m_data / "IP_db.dbf"),
                  "00000000ZZ\r\n01000000AU\r\n01000100AP\r\n01000400ZZ\r\n");
    } else {
        EXPECT_FALSE(fs::exists(m_data / "IP_db.dbf"));
    }
}

const std::string kWrongSum = "MD5 (delegated-apnic-extended) = 0123456789abcdef0123456789abcdef\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, GivenRegistryChecksumTest,
    testing::Values(
        ChecksumCase{"fileWithItsChecksum", false, "good", "", 0, ""},
        ChecksumCase{"fileWithAWrongChecksum", false, kWrongSum, "", 1,
                     "$: the checksum does not match: MD5 "},
        ChecksumCase{"fileWithoutAChecksum", false, "", "", 0,
                     "$: no checksum file $.md5 beside it: read unchecked"},
        ChecksumCase{"fileWithoutAChecksumWhenRequired", false, "", "--require-checksums", 1,
                     "$: no checksum file $.md5 beside it, and --require-checksums is given"},
        ChecksumCase{"fileWithAChecksumFileOfNoChecksum", false, "<html></html>\n", "", 1,
                     "$.md5: holds no checksum in either form"},
        ChecksumCase{"addressWithItsChecksum", true, "good", "--require-checksums", 0, ""},
        ChecksumCase{"addressWithAWrongChecksum", true, kWrongSum, "", 1,
                     "$: the checksum does not match: MD5 "},
        ChecksumCase{"addressWithoutAChecksum", true, "", "", 0,
                     "$: no checksum file $.md5 beside it: read unchecked"}));

// Wrong usage: exit status 2, a line naming the problem, nothing fetched.
TEST_F(UpdateDataTest, refusesWrongUsage) {
    const struct {
        const char* arguments;
        const char* said;
    } cases[] = {
        {"--timeout 0", "--timeout needs a number of seconds"},
        {"--connect-timeout 0", "--connect-timeout needs a number of seconds"},
        {"--stall-timeout 0", "--stall-timeout needs a number of seconds"},
        {"--max-size 0", "--max-size needs a number of megabytes"},
        {"--retries -1", "--retries needs a number"},
        {"--retry-wait x", "--retry-wait needs a number of seconds"},
        {"--date 2024-02-30", "--date needs a date as YYYY-MM-DD"},
        {"--date 2024-2-3", "--date needs a date as YYYY-MM-DD"},
        {"--url registries=http://x/", "--url: no source address is named registries"},
        {"--check 3 registries", "--check fetches nothing: no SOURCE"},
        {"--user --system", "--data-dir, --user and --system exclude each other"},
    };
    for (const auto& c : cases) {
        const UpdaterRun run = runUpdater(c.arguments, m_scratch);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_NE(run.err.find(std::string("ipcountry-update-data: ") + c.said + "\n"),
                  std::string::npos)
            << c.arguments << ": " << run.err;
    }
}

// The folder an update made holds range files only: the driver answers from
// it with the packaged country list, as from the automatic folders.
TEST_F(UpdateDataTest, aFolderOfRangeFilesOnlyAnswersWithThePackagedCountryList) {
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    ASSERT_FALSE(fs::exists(m_data / "Country.dbf"));
    const SplitDriverResult found =
        runDriverSplit("--data-dir '" + m_data.string() + "' find 1.0.0.1 2a00::1 10.1.2.3");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, "1.0.0.1\tAU\tAustralia\n2a00::1\tDE\tGermany\n10.1.2.3\t\tprivate\n");
    // Its own country list wins.
    writeFile(m_data / "Country.dbf", "AUDown Under\r\nDEGermany\r\n");
    EXPECT_EQ(runDriverSplit("--data-dir '" + m_data.string() + "' find 1.0.0.1").out,
              "1.0.0.1\tAU\tDown Under\n");
}

// A run reads both range files of one generation, for all its input files,
// while updates swap the folder under it again and again.
TEST_F(UpdateDataTest, aRunReadsOneGenerationWhileUpdatesSwapTheFolder) {
    const fs::path au = m_scratch / "au.csv", nz = m_scratch / "nz.csv";
    writeFile(au, "1.0.0.0,1.0.0.255,AU\n2001:200::,2001:200::ffff,AU\n");
    writeFile(nz, "1.0.0.0,1.0.0.255,NZ\n2001:200::,2001:200::ffff,NZ\n");
    ASSERT_EQ(update("'" + au.string() + "'").status, 0);
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += i % 2 == 0 ? "GET from 1.0.0." + std::to_string(i % 250 + 1) + "\n"
                           : "GET from 2001:200::" + std::to_string(i % 9000 + 1) + "\n";
    const fs::path log = m_scratch / "access.log";
    writeFile(log, text);
    const fs::path updates = m_dir.path() / "updates";
    fs::create_directories(updates);

    std::atomic<bool> done{false};
    std::thread updater([&] {
        for (int i = 0; i < 50; ++i)
            runUpdater(
                "--data-dir '" + m_data.string() + "' '" + (i % 2 == 0 ? nz : au).string() + "'",
                updates);
        done = true;
    });
    int runs = 0;
    std::vector<std::string> mixed, failed;
    const std::string logs = " '" + log.string() + "'";
    while (!done) {
        const SplitDriverResult run = runDriverSplit("--data-dir '" + m_data.string() +
                                                     "' unformatted" + logs + logs + logs + logs);
        ++runs;
        if (run.status != 0) {
            failed.push_back(run.err);
            continue;
        }
        std::set<std::string> countries;
        std::istringstream rows(run.out);
        for (std::string row; std::getline(rows, row);)
            countries.insert(row.substr(row.rfind('\t') + 1));
        if (countries.size() != 1 || std::count(run.out.begin(), run.out.end(), '\n') != 8000)
            mixed.push_back(run.out.substr(0, 200));
    }
    updater.join();
    EXPECT_GT(runs, 3);
    EXPECT_TRUE(mixed.empty()) << mixed.size() << " of " << runs << " runs mixed, as "
                               << mixed.front();
    EXPECT_TRUE(failed.empty()) << failed.size() << " of " << runs << " runs failed, as "
                                << failed.front();
}

// Why an address has its country: the range of the installed data, its first,
// last and a middle address, special blocks of both families, an IPv4-mapped
// address, and an address no range holds.
TEST_F(UpdateDataTest, findExplainsEachAnswerFromTheInstalledData) {
    ASSERT_EQ(update(registryUrls() + " registries").status, 0);
    const std::string data = "--data-dir '" + m_data.string() + "' ";
    const SplitDriverResult run =
        runDriverSplit(data +
                       "find --explain 1.0.1.0 1.0.3.255 1.0.2.7 192.168.1.1 2001:db8::1 "
                       "::ffff:1.0.0.1 5.5.5.5 2a00::1 fe80::1");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string ap = "range 1.0.1.0 - 1.0.3.255 (1.0.1.0/24 1.0.2.0/23), AP, from registry ";
    const struct {
        const char* address;
        std::string says;
    } cases[] = {
        {"1.0.1.0", ap},
        {"1.0.3.255", ap},
        {"1.0.2.7", ap},
        {"192.168.1.1", "Private-Use, RFC 1918\n"},
        {"2001:db8::1", "Documentation, RFC 3849\n"},
        {"::ffff:1.0.0.1", "range 1.0.0.0 - 1.0.0.255 (1.0.0.0/24), AU Australia, from registry "},
        {"5.5.5.5", "no range holds it\n"},
        {"2a00::1",
         "range 2a00:: - 2a0f:ffff:ffff:ffff:ffff:ffff:ffff:ffff (2a00::/12), DE Germany"},
        {"fe80::1", "Link-Local Unicast, RFC 4291\n"},
    };
    for (const auto& c : cases)
        EXPECT_NE(("\n" + run.out).find(std::string("\n") + c.address + ": " + c.says),
                  std::string::npos)
            << c.address << "\n"
            << run.out;
    EXPECT_NE(run.out.find(", as of 2024-12-02 ("), std::string::npos) << run.out;

    const SplitDriverResult json =
        runDriverSplit(data + "--format json find --explain 1.0.0.7 10.0.0.1 5.5.5.5");
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"address\":\"1.0.0.7\",\"first\":\"1.0.0.0\",\"last\":\"1.0.0.255\","
                            "\"blocks\":[\"1.0.0.0/24\"],\"code\":\"AU\",\"country\":\"Australia\","
                            "\"source\":\"registry afrinic "),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"address\":\"10.0.0.1\",\"special\":\"Private-Use\",\"rfc\":\"RFC "
                            "1918\",\"source\":"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"address\":\"5.5.5.5\",\"range\":null,"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"date\":\"2024-12-02\",\"folder\":"), std::string::npos) << json.out;
}

// The CIDR blocks of a range, against Python's ipaddress module: ranges of
// both families with starts and ends off every boundary.
TEST_F(UpdateDataTest, explainsRangesInTheBlocksPythonFinds) {
    const fs::path script = m_scratch / "ranges.py";
    writeFile(script, R"(import ipaddress, random, sys
rng = random.Random(7)
csv, expected = open(sys.argv[1], "w"), open(sys.argv[2], "w")
for family, base, span in ((4, int(ipaddress.IPv4Address("11.0.0.0")), 1 << 26),
                           (6, int(ipaddress.IPv6Address("2a00::")), 1 << 116)):
    at, make = base, ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
    for i in range(60):
        at += rng.randrange(1, span >> 10)
        width = rng.choice([1, 2, 3, 255, 256, 257, rng.randrange(1, span >> 12)])
        first, last = make(at), make(at + width - 1)
        csv.write("%s,%s,%s\n" % (first, last, "DE" if i % 2 else "FR"))
        blocks = " ".join(str(n) for n in ipaddress.summarize_address_range(first, last))
        expected.write("%s: range %s - %s (%s)\n" % (first, first, last, blocks))
        at += width
)");
    const fs::path csv = m_scratch / "ranges.csv", expected = m_scratch / "expected";
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script.string() + "' '" + csv.string() + "' '" +
                           expected.string() + "'")
                              .c_str()),
              0);
    ASSERT_EQ(update("--date 2026-12-01 '" + csv.string() + "'").status, 0);
    std::ifstream lines(expected);
    std::string addresses;
    std::vector<std::string> wanted;
    for (std::string line; std::getline(lines, line);) {
        addresses += " " + line.substr(0, line.find(": "));
        wanted.push_back(line);
    }
    ASSERT_EQ(wanted.size(), 120u);
    const SplitDriverResult run =
        runDriverSplit("--data-dir '" + m_data.string() + "' find --explain" + addresses);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream got(run.out);
    for (const std::string& want : wanted) {
        std::string line;
        std::getline(got, line);
        EXPECT_EQ(line.substr(0, want.size()), want);
    }
}

// --check without a folder tells the age of the data the programs answer
// from: the user's folder once it holds data, else the packaged data (the
// system's folder when it holds whole range files, which this test leaves
// alone).
TEST_F(UpdateDataTest, checkTellsTheAgeOfTheDataInUse) {
    if (fs::exists("/var/lib/ipcountry/IP_db.dbf"))
        GTEST_SKIP() << "/var/lib/ipcountry holds range files: the programs answer from it";
    const fs::path home = m_dir.path() / "user";
    fs::create_directories(home);
    const std::string env = "env -u XDG_DATA_HOME HOME='" + home.string() + "'";
    const std::string packaged = std::string(IPCOUNTRY_BIN_DIR) + ": ranges as of ";
    UpdaterRun run = runUpdater("--check 100000", m_scratch, env);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.rfind(packaged, 0), 0u) << run.out;

    ASSERT_EQ(runUpdater("--user --retry-wait 0 " + registryUrls() + " registries", m_scratch, env)
                  .status,
              0);
    const struct {
        const char* arguments;
        int status;
        std::string says;
    } cases[] = {
        {"--check 100000", 0,
         (home / ".local/share/ipcountry").string() + ": ranges as of 2024-12-02"},
        {"--check 1", 1, (home / ".local/share/ipcountry").string() + ": ranges as of 2024-12-02"},
        {"--user --check 100000", 0, (home / ".local/share/ipcountry").string() + ": ranges"},
        {"--system --check 100000", 1, "/var/lib/ipcountry: the age of the data is not known"},
    };
    for (const auto& c : cases) {
        run = runUpdater(c.arguments, m_scratch, env);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.out;
        EXPECT_EQ(run.out.rfind(c.says, 0), 0u) << c.arguments << ": " << run.out;
    }
}

// The addresses claimed more than once, against a count address by address
// in Python: rows overlapping in every way, some inside others, some equal.
TEST_F(UpdateDataTest, countsTheAddressesClaimedMoreThanOnceAsPythonDoes) {
    const fs::path script = m_scratch / "overlaps.py";
    writeFile(script, R"(import ipaddress, random, sys
rng, cover = random.Random(3), {}
with open(sys.argv[1], "w") as csv:
    for i in range(300):
        a = rng.randrange(1 << 24, (1 << 24) + 5000)
        b = a + rng.randrange(0, 200)
        for x in range(a, b + 1):
            cover[x] = cover.get(x, 0) + 1
        csv.write("%s,%s,%s\n" % (ipaddress.IPv4Address(a), ipaddress.IPv4Address(b), "DE" if i % 2 else "FR"))
    csv.write("2a00::,2a00::ff,DE\n2a00::80,2a00::1:0,FR\n")
print(sum(1 for n in cover.values() if n > 1))
)");
    const fs::path csv = m_scratch / "overlaps.csv";
    std::string expected;
    if (FILE* pipe = ::popen(
            ("/usr/bin/python3 '" + script.string() + "' '" + csv.string() + "'").c_str(), "r")) {
        std::array<char, 64> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) expected += buffer.data();
        ::pclose(pipe);
    }
    ASSERT_FALSE(expected.empty());
    expected.pop_back();
    const UpdaterRun run = update("'" + csv.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    // 2a00::80 to 2a00::ff: 128 addresses.
    EXPECT_NE(run.out.find("\n" + expected +
                           " IPv4 and 128 IPv6 addresses are claimed by more than one row or "
                           "source: the later one wins\n"),
              std::string::npos)
        << run.out;
}

}  // namespace
