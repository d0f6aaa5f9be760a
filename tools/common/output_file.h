#pragma once

// The one way the driver and the converters write the files they are told
// to write (a report page, a range file, a table of counts).
//
// What the name stands for decides how it is written:
// - a regular file, or no file yet: the new contents go into a temporary
//   file in the same folder, are flushed to the disk and renamed over the
//   name in one step, so a reader sees the old file or the new one, never
//   half of either. The new file keeps the old one's mode and, where the
//   system lets us, its owner and group; a new file gets the mode any
//   program's new file gets (0666 less the umask, or the folder's default
//   ACL).
// - a symbolic link: followed to the file it names, which is replaced as
//   above; the link stays a link.
// - anything else (a terminal, /dev/stdout, /dev/null, /dev/full, a FIFO, a
//   socket): written in place, as a shell's `>` would, and every write error
//   reported. A name reached through /proc (as /dev/stdout and /dev/fd/N
//   are) stands for an open file, not a place in a folder, so it is written
//   in place too.
// A write that fails removes the temporary file it made and nothing else.
// Another hard link to a replaced file keeps the old contents.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ipcountry::output {

// Why a file could not be written: errno's code, and a sentence a person
// understands ("No space left on device", or what was being done when it
// happened where the code alone would mislead).
struct OutputError {
    int code = 0;
    std::string reason;
};

// Writes `content` to `target` as described above. No value means written.
[[nodiscard]] std::optional<OutputError> writeOutputFile(const std::filesystem::path& target,
                                                         std::string_view content);

}  // namespace ipcountry::output
