#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ipcountry::lookup {
class OpenedFile;
}

namespace ipcountry::analysis {

// The text an analysis reads: a file as it is, or the text inside a file
// compressed with gzip (several members one after another too), bzip2, xz or
// zstd, recognised by its first bytes and never by its name. The text is
// unpacked as it is read, so memory stays small whatever it expands to.
class InputSource {
public:
    enum class Status {
        Data,  // `got` bytes of text were read
        Idle,  // nothing arrived for a moment (a pipe without a writer yet): ask again
        End,   // the text is complete
    };

    virtual ~InputSource() = default;

    // Reads up to `capacity` bytes of text. Throws lookup::Error(FileUnreadable)
    // naming the input when reading fails, and when a compressed file is
    // damaged or cut short: that is never a normal end.
    virtual Status read(char* buffer, std::size_t capacity, std::size_t& got) = 0;

    // Bytes taken from the file so far: the compressed bytes of an archive,
    // so that they can be set against fileSize().
    virtual std::uint64_t bytesRead() const noexcept = 0;
    // The file's size when it was opened; 0 for pipes, devices and standard input.
    virtual std::uint64_t fileSize() const noexcept = 0;

    // The file itself once the first read has told that the text is its
    // bytes as they stand (no archive) and that it is a regular file opened
    // by its name, with a size: it may then be read in place from its
    // start. Null for anything else.
    virtual const lookup::OpenedFile* regularFile() const noexcept { return nullptr; }
};

// How long a read waits for a pipe or a device before it answers Idle.
inline constexpr int kIdleWaitMs = 100;

// Opens `path` exactly as given; "-" is standard input when `dashIsStandardInput`.
// Throws lookup::Error: FileNotFound for a missing file or an empty path,
// FileUnreadable for anything else that keeps it from being read (a directory,
// no permission). A pipe without a writer does not block the open.
std::unique_ptr<InputSource> openInput(const std::string& path, bool dashIsStandardInput = false);

}  // namespace ipcountry::analysis
