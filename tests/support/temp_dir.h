#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace ipcountry::test {

// A folder of its own under the system's temporary folder, unique per run
// (mkdtemp), removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "ipcountry-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }
    // Writes `content` to the file `name` in the folder; its path.
    std::string write(const std::string& name, std::string_view content) const {
        const auto file = m_path / name;
        std::ofstream out(file, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return file.string();
    }

private:
    std::filesystem::path m_path;
};

}  // namespace ipcountry::test
