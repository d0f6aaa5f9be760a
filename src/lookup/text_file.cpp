#include "lookup/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lookup/error.h"

namespace ipcountry::lookup {

OpenedFile::OpenedFile(const std::filesystem::path& path) : m_path(path) {
    const std::string name = path.string();
    if (name.empty()) throw Error(ErrorKind::FileNotFound, "File not found: no file name was given");
    m_fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            throw Error(ErrorKind::FileNotFound, "File not found: " + name);
        }
        throw Error(ErrorKind::FileUnreadable,
                    "Cannot open " + name + ": " + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool isDir = S_ISDIR(st.st_mode);
        ::close(m_fd);
        m_fd = -1;
        throw Error(ErrorKind::FileUnreadable,
                    isDir ? "Cannot read " + name + ": it is a folder, not a file"
                          : "Cannot read " + name + ": it is not a regular file");
    }
    m_device = static_cast<std::uint64_t>(st.st_dev);
    m_inode = static_cast<std::uint64_t>(st.st_ino);
    m_size = static_cast<std::uint64_t>(st.st_size);
    m_mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

OpenedFile::~OpenedFile() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string OpenedFile::readAll(std::uint64_t maxBytes) {
    if (m_size > maxBytes) {
        throw Error(ErrorKind::BadData, "Cannot use " + m_path.string() + ": the file is larger than " +
                                            std::to_string(maxBytes >> 20) + " MB");
    }
    std::string content;
    content.resize(static_cast<std::size_t>(m_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            // The file may have grown since fstat; keep reading, within the limit.
            if (content.size() >= maxBytes) break;
            content.resize(std::min<std::uint64_t>(maxBytes, content.size() + 65536 + content.size() / 2));
        }
        const ssize_t n = ::read(m_fd, content.data() + filled, content.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorKind::FileUnreadable,
                        "Cannot read " + m_path.string() + ": " + std::strerror(errno));
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    content.resize(filled);
    return content;
}

std::string readWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    OpenedFile file(path);
    return file.readAll(maxBytes);
}

}  // namespace ipcountry::lookup
