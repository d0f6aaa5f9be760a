#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

// Runs the built driver through the shell and captures its standard output
// and standard error (merged when `mergeStderr`), with the exit status.
struct DriverResult {
    std::string out;
    int status = -1;
};

inline DriverResult runDriver(const std::string& arguments, bool mergeStderr = false) {
    const std::string command = std::string("'") + IPCOUNTRY_BIN_DIR + "/ipcountry-batch' " + arguments +
                                (mergeStderr ? " 2>&1" : " 2>/dev/null");
    DriverResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}
