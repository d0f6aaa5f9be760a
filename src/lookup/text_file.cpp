#include "lookup/text_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lookup/error.h"

namespace ipcountry::lookup {

namespace {

[[noreturn]] void throwOpenError(const std::string& name, const std::string& file, int error) {
    if (error == ENOENT || error == ENOTDIR)
        throw Error(ErrorKind::FileNotFound, ErrorCode::FileNotFound,
                    {.file = file, .name = name, .system = error});
    if (error == EACCES || error == EPERM)
        throw Error(ErrorKind::FileUnreadable, ErrorCode::PermissionDenied,
                    {.file = file, .name = name, .system = error});
    throw Error(ErrorKind::FileUnreadable, ErrorCode::CannotOpen,
                {.file = file, .name = name, .system = error});
}

}  // namespace

OpenedFile::OpenedFile(const std::filesystem::path& path, Accept accept)
    : m_name(path.string()), m_file(m_name) {
    if (m_name.empty()) {
        throw Error(ErrorKind::FileNotFound, ErrorCode::NoFileName,
                    {.file = m_file, .name = m_name, .system = ENOENT});
    }
    // The system would open the name only up to the NUL: another file.
    if (m_name.find('\0') != std::string::npos) {
        throw Error(ErrorKind::FileNotFound, ErrorCode::NulInFileName,
                    {.file = m_file, .name = m_name});
    }
    // Opening a FIFO that nobody writes to would otherwise wait for a writer,
    // before fstat could tell that it is no regular file: a data file is
    // refused at once, an input waits in read() for its writer.
    m_fd = ::open(m_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) throwOpenError(m_name, m_file, errno);
    describe(accept);
}

OpenedFile::OpenedFile(StandardInput) : m_name("standard input"), m_file("-") {
    // A descriptor of our own, so that closing it leaves standard input open.
    m_fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (m_fd < 0) throwOpenError(m_name, m_file, errno);
    describe(Accept::AnyButFolder);
}

void OpenedFile::describe(Accept accept) {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        throwOpenError(m_name, m_file, error);
    }
    m_regular = S_ISREG(st.st_mode);
    m_fifo = S_ISFIFO(st.st_mode);
    if (!m_regular && (S_ISDIR(st.st_mode) || accept == Accept::RegularFile)) {
        ::close(m_fd);
        throw Error(ErrorKind::FileUnreadable,
                    S_ISDIR(st.st_mode) ? ErrorCode::IsFolder : ErrorCode::NotRegularFile,
                    {.file = m_file, .name = m_name});
    }
    m_device = static_cast<std::uint64_t>(st.st_dev);
    m_inode = static_cast<std::uint64_t>(st.st_ino);
    m_size = m_regular ? static_cast<std::uint64_t>(st.st_size) : 0;
    m_mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

OpenedFile::~OpenedFile() { ::close(m_fd); }

std::size_t OpenedFile::read(char* buffer, std::size_t capacity) {
    if (m_fifo) {
        // A FIFO opened without blocking reads as ended while no writer has
        // come yet; poll waits for the first writer's data or its leaving.
        pollfd ready{m_fd, POLLIN, 0};
        while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
        }
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EAGAIN) {
            // A pipe opened without blocking that has nothing yet.
            pollfd ready{m_fd, POLLIN, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        if (errno != EINTR) {
            throw Error(ErrorKind::FileUnreadable, ErrorCode::ReadFailed,
                        {.file = m_file, .name = m_name, .system = errno});
        }
    }
}

bool OpenedFile::waitReadable(int timeoutMs) {
    if (m_regular) return true;
    pollfd ready{m_fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) > 0;
}

std::string OpenedFile::readAll(std::uint64_t maxBytes) {
    if (m_size > maxBytes) {
        throw Error(ErrorKind::BadData, ErrorCode::TooLarge,
                    {.file = m_file, .name = m_name, .number = maxBytes >> 20});
    }
    std::string content;
    // One byte more than fstat said, so that the read that finds the end
    // needs no larger copy of a file that did not grow.
    content.resize(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, m_size + 1)));
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            // The file may have grown since fstat; keep reading, within the limit.
            if (content.size() >= maxBytes) break;
            content.resize(
                std::min<std::uint64_t>(maxBytes, content.size() + 65536 + content.size() / 2));
        }
        const std::size_t n = read(content.data() + filled, content.size() - filled);
        if (n == 0) break;
        filled += n;
    }
    content.resize(filled);
    return content;
}

std::string readWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    OpenedFile file(path);
    return file.readAll(maxBytes);
}

}  // namespace ipcountry::lookup
