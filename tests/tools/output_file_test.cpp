// The one writer of output files, on every kind of name it can be given, and
// the driver and the converter writing through it.
#include "common/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tools/driver_support.h"

namespace {

namespace fs = std::filesystem;
using ipcountry::output::writeOutputFile;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

// A folder of its own for every run, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "ipcountry-output-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        // A folder a case made unwritable must be emptied all the same.
        for (const auto& entry : fs::recursive_directory_iterator(m_path, ec))
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                ::chmod(entry.path().c_str(), 0700);
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

    // Names our temporaries would have: a dot, then the target's name.
    std::vector<std::string> hiddenNames() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(m_path, ec)) {
            const std::string name = entry.path().filename().string();
            if (!name.empty() && name[0] == '.') names.push_back(name);
        }
        return names;
    }

private:
    fs::path m_path;
};

// Reads a FIFO on its own thread until the writer closes it or its deadline
// passes. The reading end is open before the writer starts, so the writer's
// open does not wait; Linux reports no hang-up until a writer has come.
class FifoReader {
public:
    explicit FifoReader(const fs::path& fifo)
        : m_fd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        // A reader that gives up must fail the test, not kill it.
        std::signal(SIGPIPE, SIG_IGN);
        m_thread = std::thread([this] { run(); });
    }
    ~FifoReader() { finish(); }
    bool opened() const { return m_fd >= 0; }
    // What was read; `timedOut` says the deadline ended the reading.
    std::string finish() {
        if (m_thread.joinable()) m_thread.join();
        return m_text;
    }
    bool timedOut() const { return m_timedOut; }

private:
    void run() {
        if (m_fd < 0) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        char buffer[65536];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                m_timedOut = true;
                break;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                m_text.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EAGAIN)
                break;
        }
        ::close(m_fd);
    }

    int m_fd;
    std::string m_text;
    bool m_timedOut = false;
    std::thread m_thread;
};

bool isRoot() { return ::geteuid() == 0; }

// Larger than a pipe's buffer, so that a FIFO is written while it is read.
std::string newContent() {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

struct WriteCase {
    const char* name;
    // Prepares the folder and gives the name to write to.
    std::function<fs::path(const fs::path& dir)> prepare;
    mode_t umask = 022;
    int error = 0;  // errno expected, 0: written
    // Afterwards: the file (relative to the folder) that must hold the new
    // contents when written, or still "old" when not; empty: nothing checked.
    const char* holder = "";
    mode_t mode = 0;             // permissions of the holder; 0: not checked
    const char* stillLink = "";  // a name that must still be a symbolic link
    bool needsRoot = false;
    bool needsUser = false;  // permissions cannot refuse root
    bool fifo = false;       // the target is a FIFO, read while written
    mode_t stillKind = 0;    // S_IFCHR, S_IFIFO: the name stays this kind of file
};

std::ostream& operator<<(std::ostream& os, const WriteCase& c) { return os << c.name; }

fs::path oldFile(const fs::path& dir, const char* name, mode_t mode) {
    writeFile(dir / name, "old", mode);
    return dir / name;
}

fs::path link(const fs::path& dir, const char* name, const fs::path& to) {
    fs::create_symlink(to, dir / name);
    return dir / name;
}

fs::path device(const fs::path& dir, const char* name, unsigned minor) {
    // mem devices: 1,3 is /dev/null and 1,7 /dev/full.
    if (::mknod((dir / name).c_str(), S_IFCHR | 0666, ::makedev(1, minor)) != 0) return {};
    return dir / name;
}

const std::string kLongestName(255, 'n');

// The machine's /dev/full, except for root: a faulty writer run as root would
// rename a regular file over the real device, so root gets a node of its own.
fs::path fullDevice(const fs::path& dir) { return isRoot() ? device(dir, "full", 7) : "/dev/full"; }

const WriteCase kWriteCases[] = {
    {"newFileGetsTheUsualMode", [](const fs::path& d) { return d / "page"; }, 022, 0, "page", 0644},
    {"newFileFollowsAStricterUmask", [](const fs::path& d) { return d / "page"; }, 077, 0, "page",
     0600},
    {"privateFileStaysPrivate", [](const fs::path& d) { return oldFile(d, "page", 0600); }, 022, 0,
     "page", 0600},
    {"replacedFileKeepsItsModeNotTheUmasks",
     [](const fs::path& d) { return oldFile(d, "page", 0664); }, 077, 0, "page", 0664},
    {"nameAtTheFileSystemsLimitReplaced",
     [](const fs::path& d) { return oldFile(d, kLongestName.c_str(), 0640); }, 022, 0,
     kLongestName.c_str(), 0640},
    {"relativeLinkFollowedAndKept",
     [](const fs::path& d) {
         oldFile(d, "real", 0600);
         return link(d, "link", "real");
     },
     022, 0, "real", 0600, "link"},
    {"chainOfLinksIntoAnotherFolder",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         oldFile(d / "sub", "real", 0640);
         link(d, "first", d / "sub/real");  // absolute
         return link(d, "second", "first");
     },
     022, 0, "sub/real", 0640, "second"},
    {"linkInAFolderNamesAPlaceFromThatFolder",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         oldFile(d, "real", 0644);
         return link(d / "sub", "link", "../real");
     },
     022, 0, "real", 0644, "sub/link"},
    {"danglingLinkMakesItsFile",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         return link(d, "link", "sub/new");
     },
     022, 0, "sub/new", 0644, "link"},
    {"linkLoopRefused",
     [](const fs::path& d) {
         link(d, "a", "b");
         return link(d, "b", "a");
     },
     022, ELOOP, "", 0, "a"},
    {"folderRefused",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         return d / "sub";
     },
     022, EISDIR},
    {"linkToAFolderRefused",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         return link(d, "link", "sub");
     },
     022, EISDIR, "", 0, "link"},
    {"missingFolderRefused", [](const fs::path& d) { return d / "none/page"; }, 022, ENOENT},
    {"unwritableFolderRefused",
     [](const fs::path& d) {
         fs::create_directory(d / "ro");
         oldFile(d / "ro", "page", 0644);
         ::chmod((d / "ro").c_str(), 0555);
         return d / "ro/page";
     },
     022, EACCES, "ro/page", 0644, "", false, true},
    {"readOnlyFileRefusedInAWritableFolder",
     [](const fs::path& d) { return oldFile(d, "page", 0444); }, 022, EACCES, "page", 0444, "",
     false, true},
    {"fullDeviceReportsTheFullDisk", fullDevice, 022, ENOSPC},
    {"linkToTheFullDeviceStaysALink",
     [](const fs::path& d) {
         const fs::path full = fullDevice(d);
         return full.empty() ? full : link(d, "out", full);
     },
     022, ENOSPC, "", 0, "out"},
    {"fifoWrittenInPlace",
     [](const fs::path& d) {
         ::mkfifo((d / "fifo").c_str(), 0644);
         return d / "fifo";
     },
     022, 0, "", 0, "", false, false, true, S_IFIFO},
    {"deviceNodeWrittenInPlace", [](const fs::path& d) { return device(d, "null", 3); }, 022, 0, "",
     0, "", true, false, false, S_IFCHR},
};

class WriteOutputFileTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteOutputFileTest, writesOrRefusesWithTheReason) {
    const WriteCase& c = GetParam();
    if (c.needsRoot && !isRoot()) GTEST_SKIP() << "needs root to make a device node";
    if (c.needsUser && isRoot()) GTEST_SKIP() << "root may write anywhere";
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path().empty());
    const fs::path target = c.prepare(scratch.path());
    if (target.empty()) GTEST_SKIP() << "no device nodes here (no CAP_MKNOD)";
    const std::string content = newContent();
    const bool holderExisted = *c.holder != '\0' && fs::exists(scratch.path() / c.holder);

    const mode_t saved = ::umask(c.umask);
    std::optional<FifoReader> reader;
    if (c.fifo) reader.emplace(target);
    const auto problem = writeOutputFile(target, content);
    const std::string read = reader ? reader->finish() : "";
    // A new file made the ordinary way is the reference for the mode.
    std::ofstream(scratch.path() / "reference").put('x');
    const mode_t reference = modeOf(scratch.path() / "reference") & 07777;
    fs::remove(scratch.path() / "reference");
    ::umask(saved);

    if (c.error == 0) {
        EXPECT_FALSE(problem) << problem->reason;
    } else {
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->code, c.error) << problem->reason;
        EXPECT_EQ(problem->reason, std::strerror(c.error));
    }
    if (*c.holder != '\0') {
        const fs::path holder = scratch.path() / c.holder;
        EXPECT_EQ(readFile(holder), c.error == 0 ? content : "old");
        EXPECT_TRUE(S_ISREG(modeOf(holder)));
        EXPECT_EQ(modeOf(holder) & 07777, c.mode);
        if (!holderExisted) {
            EXPECT_EQ(c.mode, reference);
        }
    }
    if (*c.stillLink != '\0') {
        EXPECT_TRUE(fs::is_symlink(scratch.path() / c.stillLink));
    }
    if (c.stillKind != 0) {
        EXPECT_EQ(modeOf(target) & S_IFMT, c.stillKind);
    }
    if (c.fifo) {
        EXPECT_FALSE(reader->timedOut());
        EXPECT_EQ(read, content);
    }
    EXPECT_EQ(scratch.hiddenNames(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Targets, WriteOutputFileTest, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Root may give a file away: the replacement belongs to whom the old one did.
TEST(WriteOutputFile, replacementKeepsTheOwnerWhereItMay) {
    if (!isRoot()) GTEST_SKIP() << "only root may keep another user's ownership";
    ScratchFolder scratch;
    const fs::path page = oldFile(scratch.path(), "page", 0640);
    ASSERT_EQ(::chown(page.c_str(), 4321, 4322), 0);
    ASSERT_FALSE(writeOutputFile(page, "new"));
    struct stat status {};
    ASSERT_EQ(::stat(page.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 4321u);
    EXPECT_EQ(status.st_gid, 4322u);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(page), "new");
}

// A write that stops half way (here the file size limit, as a full disk
// would) leaves the old file as it was and no temporary beside it.
TEST(WriteOutputFile, failureMidWriteLeavesTheOldFile) {
    ScratchFolder scratch;
    const fs::path page = oldFile(scratch.path(), "page", 0644);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto problem = writeOutputFile(page, newContent());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, EFBIG) << problem->reason;
    EXPECT_EQ(readFile(page), "old");
    EXPECT_EQ(scratch.hiddenNames(), std::vector<std::string>{});
}

// The driver and the converter as a user runs them.
class OutputDriverTest : public ::testing::Test {
protected:
    std::string quoted(const fs::path& p) const {
        return "'" + (m_scratch.path() / p).string() + "'";
    }
    std::string report(const std::string& output) const {
        return "--data-dir '" IPCOUNTRY_TEST_DATA_DIR "/analysis' report -o " + output +
               " unformatted '" IPCOUNTRY_TEST_DATA_DIR "/analysis/access.log'";
    }
    int makeIpDb(const std::string& output) const {
        std::ofstream(m_scratch.path() / "source.csv") << "1.0.0.0,1.0.0.255,DE\n";
        const std::string command = "'" IPCOUNTRY_BIN_DIR "/ipcountry-make-ip-db' " +
                                    quoted("source.csv") + " " + output + " 2>" + quoted("err.txt");
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    ScratchFolder m_scratch;
};

TEST_F(OutputDriverTest, reportToTheFullDeviceFailsWithTheReason) {
    const fs::path full = fullDevice(m_scratch.path());
    if (full.empty()) GTEST_SKIP() << "no device nodes here (no CAP_MKNOD)";
    const SplitDriverResult result = runDriverSplit(report("'" + full.string() + "'"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("ipcountry-batch: " + full.string() + ": No space left on device\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(S_ISCHR(modeOf(full)));
}

TEST_F(OutputDriverTest, reportIntoAFifoIsReadWhole) {
    ASSERT_EQ(::mkfifo((m_scratch.path() / "fifo").c_str(), 0644), 0);
    FifoReader reader(m_scratch.path() / "fifo");
    ASSERT_TRUE(reader.opened());
    const SplitDriverResult result = runDriverSplit(report(quoted("fifo")));
    const std::string page = reader.finish();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(reader.timedOut());
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    EXPECT_TRUE(S_ISFIFO(modeOf(m_scratch.path() / "fifo")));
}

// /dev/stdout names what the shell opened: a pipe is written as it is, and
// after `>>` the page follows what the file held, as any program's output
// would. The test's own link to /proc/self/fd/1 takes the path /dev/stdout
// takes: a faulty writer run as root would replace the machine's /dev/stdout
// with a regular file, as the one before this did.
TEST_F(OutputDriverTest, reportToStandardOutputWritesWhereTheShellOpened) {
    fs::create_symlink("/proc/self/fd/1", m_scratch.path() / "stdout");
    const SplitDriverResult piped = runDriverSplit(report(quoted("stdout")));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out.rfind("<!DOCTYPE html>", 0), 0u) << piped.out.substr(0, 100);

    writeFile(m_scratch.path() / "log", "before\n", 0600);
    const SplitDriverResult result =
        runDriverSplit(report(quoted("stdout")) + " >>" + quoted("log"));
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string log = readFile(m_scratch.path() / "log");
    EXPECT_EQ(log.rfind("before\n<!DOCTYPE html>", 0), 0u) << log.substr(0, 100);
    EXPECT_EQ(modeOf(m_scratch.path() / "log") & 07777, 0600u);
    EXPECT_TRUE(fs::is_symlink(m_scratch.path() / "stdout"));
}

// The converter into a link, as a folder of range files kept elsewhere is:
// the link stays, its file gets what a plain run writes.
TEST_F(OutputDriverTest, converterWritesThroughASymbolicLink) {
    ASSERT_EQ(makeIpDb(quoted("plain.dbf")), 0);
    fs::create_directory(m_scratch.path() / "data");
    writeFile(m_scratch.path() / "data/IP_db.dbf", "old", 0640);
    fs::create_symlink("data/IP_db.dbf", m_scratch.path() / "IP_db.dbf");
    ASSERT_EQ(makeIpDb(quoted("IP_db.dbf")), 0) << readFile(m_scratch.path() / "err.txt");
    EXPECT_TRUE(fs::is_symlink(m_scratch.path() / "IP_db.dbf"));
    EXPECT_EQ(readFile(m_scratch.path() / "data/IP_db.dbf"),
              readFile(m_scratch.path() / "plain.dbf"));
    EXPECT_EQ(modeOf(m_scratch.path() / "data/IP_db.dbf") & 07777, 0640u);

    const fs::path full = fullDevice(m_scratch.path());
    if (full.empty()) GTEST_SKIP() << "no device nodes here (no CAP_MKNOD)";
    EXPECT_EQ(makeIpDb("'" + full.string() + "'"), 1);
    EXPECT_NE(
        readFile(m_scratch.path() / "err.txt").find(": cannot write: No space left on device"),
        std::string::npos);
    EXPECT_TRUE(S_ISCHR(modeOf(full)));
}

}  // namespace
