#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ipcountry::analysis {

// Part of a regular file seen through a read-only memory map, so that its
// text is read where the kernel keeps it rather than copied. A page that
// cannot be read any more (the file shrank under the map, the disk failed)
// reads as zeros instead of ending the program with SIGBUS: the window
// records where, and whoever read the text asks before trusting it.
// Faults outside every window go to the handler that was there before, so
// that a real bug still ends the program as it would have.
class MappedWindow {
public:
    MappedWindow() = default;
    ~MappedWindow() { unmap(); }
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    // Maps the bytes [offset, offset + length) of the open file `fd` (any
    // offset, any length: pages past the end of the file are only mapped,
    // never read by us), and one page more, so that a read just past the
    // text stays inside the mapping. False when the file cannot be mapped
    // (a file system without mmap, no memory, too many windows at once).
    bool map(int fd, std::uint64_t offset, std::size_t length) noexcept;
    void unmap() noexcept;
    bool isMapped() const noexcept { return m_base != nullptr; }

    // The byte at the offset the window was mapped from.
    const char* data() const noexcept { return m_data; }
    // The file offset of the first byte of `data()`.
    std::uint64_t offset() const noexcept { return m_offset; }

    // The file offset of the first page found unreadable, when it lies
    // before `end` (a place in the window): the text before `end` may then
    // hold zeros in place of the file's bytes.
    std::optional<std::uint64_t> faultBefore(const char* end) const noexcept;

    // The most windows mapped at once in the whole process; map() says no
    // beyond it, and the reader reads such a file with read() instead.
    static constexpr int kMostWindows = 64;

private:
    void* m_base = nullptr;
    std::size_t m_length = 0;
    const char* m_data = nullptr;
    std::uint64_t m_offset = 0;
    int m_slot = -1;  // in the table the SIGBUS handler looks windows up in
};

}  // namespace ipcountry::analysis
