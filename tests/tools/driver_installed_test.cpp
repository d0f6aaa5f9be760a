// The driver in a copy of its installed folder (the program beside its data,
// as the package puts them), run by whoever runs the tests (root in CI): it
// answers from the index shipped beside the range files, from the text when
// that index is missing or stale, and never writes a file into the folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file of the folder with its size and time to the nanosecond.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        files[entry.path().lexically_relative(folder).string()] =
            std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
            std::to_string(st.st_mtim.tv_nsec);
    }
    return files;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    ::pclose(pipe);
    return out;
}

void addSeconds(const fs::path& file, int seconds) {
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// The line of the IPv4 range file nearest its middle, its code changed in
// place (the file keeps its size, and its first and last pages): the
// address its range starts at, and the code it now has.
std::pair<std::string, std::string> changeMiddleRange(const fs::path& file) {
    std::string text = readBytes(file);
    const std::size_t line = text.find('\n', text.size() / 2) + 1;
    const std::uint32_t start =
        static_cast<std::uint32_t>(std::stoul(text.substr(line, 8), nullptr, 16));
    const std::string code = text.compare(line + 8, 2, "DE") == 0 ? "FR" : "DE";
    text.replace(line + 8, 2, code);
    struct stat st {};
    ::stat(file.c_str(), &st);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    const std::string address =
        std::to_string(start >> 24) + "." + std::to_string(start >> 16 & 255) + "." +
        std::to_string(start >> 8 & 255) + "." + std::to_string(start & 255);
    return {address, code};
}

TEST(InstalledDriver, answersAndWritesNothingIntoItsFolder) {
    if (fs::exists("/var/lib/ipcountry/IP_db.dbf"))
        GTEST_SKIP() << "/var/lib/ipcountry holds ranges, which the driver would read instead";
    const fs::path bin(IPCOUNTRY_BIN_DIR);
    struct Case {
        const char* name;
        std::function<std::pair<std::string, std::string>(const fs::path&)> prepare;
    };
    const auto noChange = [](const fs::path&) { return std::pair<std::string, std::string>(); };
    const Case cases[] = {
        {"the shipped index", noChange},
        {"no index shipped",
         [noChange](const fs::path& folder) {
             fs::remove(folder / "IP_db.dbf.index");
             fs::remove(folder / "IP6_db.dbf.index");
             return noChange(folder);
         }},
        {"the range file replaced by another of other size",
         [](const fs::path& folder) {
             std::ofstream(folder / "IP_db.dbf", std::ios::binary | std::ios::trunc)
                 << "00000000ZZ\r\n08000000DE\r\n09000000ZZ\r\n";
             return std::pair<std::string, std::string>("8.8.8.8", "DE");
         }},
        {"the range file changed in place, its time moved on",
         [](const fs::path& folder) {
             auto changed = changeMiddleRange(folder / "IP_db.dbf");
             addSeconds(folder / "IP_db.dbf", 2);
             return changed;
         }},
    };
    for (const Case& c : cases) {
        ipcountry::test::TempDir root;
        const fs::path folder = root.path() / "usr/lib/ipcountry";
        fs::create_directories(folder);
        for (const char* name : {"ipcountry-batch", "Country.dbf", "IP_db.dbf", "IP_db.dbf.index",
                                 "IP6_db.dbf", "IP6_db.dbf.index", "provenance.txt"}) {
            ASSERT_TRUE(fs::exists(bin / name)) << name << " is not built";
            // Times kept to the second only, as a package installs them.
            fs::copy_file(bin / name, folder / name);
            struct stat st {};
            ::stat((bin / name).c_str(), &st);
            struct timespec times[2] = {st.st_atim, st.st_mtim};
            times[1].tv_nsec = 0;
            ::utimensat(AT_FDCWD, (folder / name).c_str(), times, 0);
        }
        fs::permissions(folder / "ipcountry-batch", fs::perms::owner_all, fs::perm_options::add);
        const auto [address, code] = c.prepare(folder);
        const auto before = snapshot(folder);
        fs::create_directories(root.path() / "home");
        std::ofstream(root.path() / "log.txt") << "8.8.8.8 - - GET /\n2001:4860:4860::8888 x\n";
        const std::string driver = "cd '" + root.path().string() + "' && XDG_DATA_HOME= HOME='" +
                                   (root.path() / "home").string() + "' timeout 60 '" +
                                   (folder / "ipcountry-batch").string() + "' ";
        const std::string found = run(driver + "find 2001:4860:4860::8888 " +
                                      (address.empty() ? "8.8.8.8" : address) + " 2>&1");
        if (address.empty()) {
            EXPECT_EQ(found, "2001:4860:4860::8888\tUS\tUSA\n8.8.8.8\tUS\tUSA\n") << c.name;
            EXPECT_EQ(run(driver + "unformatted log.txt 2>&1"),
                      "8.8.8.8\t\tUSA\n2001:4860:4860::8888\t\tUSA\n")
                << c.name;
        } else {
            EXPECT_NE(found.find(address + "\t" + code + "\t"), std::string::npos)
                << c.name << ": " << found;
        }
        EXPECT_EQ(snapshot(folder), before) << c.name;
        EXPECT_TRUE(fs::is_empty(root.path() / "home")) << c.name;
    }
}

}  // namespace
