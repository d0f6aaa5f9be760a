#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace ipcountry::lookup {

// Reads a whole data file. Throws Error(FileNotFound / FileUnreadable) naming
// the file, or Error(BadData) when it is larger than `maxBytes`.
std::string readWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes);

}  // namespace ipcountry::lookup

namespace ipcountry::lookup {

// A file opened for reading exactly as named, with what fstat said of it;
// closes on destruction. Every file the program reads is opened here, so that
// every failure is told the same way.
class OpenedFile {
public:
    enum class Accept {
        RegularFile,   // the data files: their size must mean something
        AnyButFolder,  // the user's input: pipes and devices are read too
    };

    // Throws Error naming the file: FileNotFound for a missing file or an
    // empty name, FileUnreadable for anything else that keeps it from being
    // read (a folder, no permission, a kind of file not accepted).
    explicit OpenedFile(const std::filesystem::path& path, Accept accept = Accept::RegularFile);
    // The program's standard input, named "standard input" in messages.
    struct StandardInput {};
    explicit OpenedFile(StandardInput);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    const std::string& name() const noexcept { return m_name; }
    // How the command line names it in its messages: the path, or "-".
    const std::string& file() const noexcept { return m_file; }
    bool isRegular() const noexcept { return m_regular; }
    std::uint64_t device() const noexcept { return m_device; }
    std::uint64_t inode() const noexcept { return m_inode; }
    std::uint64_t size() const noexcept { return m_size; }
    std::int64_t mtimeNs() const noexcept { return m_mtimeNs; }
    // For reading it in place (mmap); the descriptor stays this object's.
    int descriptor() const noexcept { return m_fd; }

    // Up to `capacity` bytes; 0 at the end of the file. Error(FileUnreadable)
    // when reading fails.
    std::size_t read(char* buffer, std::size_t capacity);
    // Waits at most `timeoutMs` for something to read (or the end) in a pipe
    // or a device; false when nothing came. A regular file is always ready.
    bool waitReadable(int timeoutMs);
    // The whole content; Error(BadData) above `maxBytes`, Error(FileUnreadable)
    // when reading fails.
    std::string readAll(std::uint64_t maxBytes);

private:
    // What fstat says of the open descriptor; refuses what `accept` does not take.
    void describe(Accept accept);

    std::string m_name;
    std::string m_file;
    int m_fd = -1;
    bool m_regular = false;
    bool m_fifo = false;
    std::uint64_t m_device = 0, m_inode = 0, m_size = 0;
    std::int64_t m_mtimeNs = 0;
};

}  // namespace ipcountry::lookup
