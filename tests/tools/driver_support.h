#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cstdio>
#include <ostream>
#include <regex>
#include <string>

#include <cstdlib>

// The driver as the tests start it: under a deadline of its own, so that a
// driver that hangs fails its test (status 124) instead of holding the suite.
inline std::string driverCommand() {
    // Appended piece by piece: GCC 12's -Warray-bounds takes operator+ on a
    // temporary at -O2 for an overflow that is not there.
    std::string command = "timeout 300 '";
    command += IPCOUNTRY_BIN_DIR;
    command += "/ipcountry-batch' ";
    return command;
}

// Runs the built driver through the shell and captures its standard output
// and standard error (merged when `mergeStderr`), with the exit status.
struct DriverResult {
    std::string out;
    int status = -1;
};

inline DriverResult runDriver(const std::string& arguments, bool mergeStderr = false) {
    const std::string command =
        driverCommand() + arguments + (mergeStderr ? " 2>&1" : " 2>/dev/null");
    DriverResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

// The same with standard output and standard error kept apart (the error
// stream goes through a temporary file).
struct SplitDriverResult {
    std::string out;
    std::string err;
    int status = -1;
};

inline SplitDriverResult runDriverSplit(const std::string& arguments) {
    char errPath[] = "/tmp/ipcountry-driver-err-XXXXXX";
    const int fd = ::mkstemp(errPath);
    if (fd >= 0) ::close(fd);
    std::string command = driverCommand();
    command += arguments;
    command += " 2>'";
    command += errPath;
    command += "'";
    SplitDriverResult result;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            result.out.append(buffer.data(), n);
        const int raw = ::pclose(pipe);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    if (FILE* err = std::fopen(errPath, "rb")) {
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), err)) > 0)
            result.err.append(buffer.data(), n);
        std::fclose(err);
    }
    std::remove(errPath);
    return result;
}

// One invocation of the driver and what it must answer. The texts are exact,
// or with a leading '*' "contains the rest"; the elapsed time of a statistics
// block, the one figure that differs from run to run, is compared as S.
struct DriverCase {
    const char* name;
    std::string arguments;
    std::string out;
    std::string err;
    int status;
};

inline std::ostream& operator<<(std::ostream& os, const DriverCase& c) { return os << c.name; }

inline std::string withoutElapsed(const std::string& out) {
    static const std::regex json(R"("elapsed_seconds":[-+.e0-9]+)");
    static const std::regex csv("(Elapsed seconds,Total(,Distinct)?\r\n)[-+.e0-9]+,");
    return std::regex_replace(std::regex_replace(out, json, "\"elapsed_seconds\":S"), csv, "$1S,");
}

inline void expectDriverText(const std::string& actual, const std::string& expected) {
    if (!expected.empty() && expected[0] == '*')
        EXPECT_NE(actual.find(expected.substr(1)), std::string::npos) << actual;
    else
        EXPECT_EQ(withoutElapsed(actual), expected);
}

inline void expectDriverAnswers(const DriverCase& c) {
    const SplitDriverResult result = runDriverSplit(c.arguments);
    expectDriverText(result.out, c.out);
    expectDriverText(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
}

// find's line for an address without a country: no code, and one of the
// reasons in place of the country.
inline bool isNoCountryLine(const std::string& line, const std::string& address) {
    for (const char* reason : {"private", "loopback", "link-local", "shared", "documentation",
                               "multicast", "reserved", "unknown"})
        if (line == address + "\t\t" + reason) return true;
    return false;
}
