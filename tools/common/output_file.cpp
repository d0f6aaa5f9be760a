#include "common/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace ipcountry::output {

namespace {

namespace fs = std::filesystem;

OutputError failure(int code) { return {code, std::strerror(code)}; }

// Where the bytes go once the links are followed.
struct Destination {
    bool inPlace = false;
    std::string path;     // the file to replace (inPlace: the name to open)
    bool exists = false;  // a regular file is there now
    bool append = false;  // an open file's name: write where its opener left it
    struct stat status {};
};

bool throughProc(const std::string& path) { return path.rfind("/proc/", 0) == 0; }

// Follows symbolic links one at a time, so that a link to a file that does
// not exist yet still names the place of the new file (the kernel would
// only say ENOENT).
std::optional<OutputError> resolve(const std::string& target, Destination& destination) {
    std::string path = target;
    for (int links = 0;; ++links) {
        if (throughProc(path)) {
            // /dev/stdout and /dev/fd/N end in /proc/self/fd, whose links
            // are open files rather than paths ("pipe:[4711]"): a file there
            // cannot be replaced, only written, and, when the shell opened a
            // regular file for us, appended to as it left it (after `>` that
            // is its start, after `>>` its end).
            struct stat status {};
            if (::stat(target.c_str(), &status) != 0) return failure(errno);
            if (S_ISDIR(status.st_mode)) return failure(EISDIR);
            destination = {true, target, false, S_ISREG(status.st_mode), status};
            return std::nullopt;
        }
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno != ENOENT) return failure(errno);
            if (fs::path(path).filename().empty()) return failure(EISDIR);
            destination = {false, path, false, false, {}};
            return std::nullopt;
        }
        if (S_ISLNK(status.st_mode)) {
            // The kernel's own limit on links followed in one name.
            if (links >= 40) return failure(ELOOP);
            std::array<char, PATH_MAX> link{};
            const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
            if (n < 0) return failure(errno);
            if (static_cast<std::size_t>(n) == link.size()) return failure(ENAMETOOLONG);
            const fs::path next(std::string(link.data(), static_cast<std::size_t>(n)));
            path =
                next.is_absolute() ? next.string() : (fs::path(path).parent_path() / next).string();
            continue;
        }
        if (S_ISDIR(status.st_mode)) return failure(EISDIR);
        // A file the user may not write stays as it is, although the rename
        // in its folder could replace it, as `>` would refuse it.
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return failure(errno);
        destination = {!S_ISREG(status.st_mode), path, S_ISREG(status.st_mode), false, status};
        return std::nullopt;
    }
}

std::optional<OutputError> writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return failure(errno);
        }
        // A device that takes nothing and says no error would loop forever.
        if (n == 0) return failure(EIO);
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

std::optional<OutputError> writeInPlace(const Destination& destination, std::string_view content) {
    int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    if (destination.append) flags |= O_APPEND;
    int fd = -1;
    do {
        fd = ::open(destination.path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure(errno);
    auto problem = writeAll(fd, content);
    // A file system that reports a late write error reports it here.
    if (::close(fd) != 0 && !problem && errno != EINTR) problem = failure(errno);
    return problem;
}

std::string randomSuffix() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::array<unsigned char, 8> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        // Without the kernel's randomness the process and a counter still
        // make collisions rare, and O_EXCL makes them harmless.
        static unsigned counter = 0;
        const unsigned long seed = static_cast<unsigned long>(::getpid()) * 7919u + ++counter;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string suffix;
    for (const unsigned char byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
    return suffix;
}

std::optional<OutputError> replace(const Destination& destination, std::string_view content) {
    const fs::path path(destination.path);
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        // Shortened, so that a name at the file system's limit (255 bytes)
        // still has room for the dots and the suffix.
        // Built by appends: GCC 12 at -O3 takes "." + a temporary for an
        // overlapping copy (-Wrestrict) that is not there.
        std::string name = ".";
        name += path.filename().string().substr(0, 200);
        name += '.';
        name += randomSuffix();
        temporary = (folder / name).string();
        // A new file asks for 0666 and lets the kernel apply the umask and
        // the folder's default ACL, as for any file a program creates; a
        // replacement starts private and gets the old file's mode below.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    destination.exists ? 0600 : 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) return failure(errno);
    }
    std::optional<OutputError> problem;
    if (destination.exists) {
        const struct stat& old = destination.status;
        // Only root may give a file away; a user may still keep its group.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        // After chown, which clears the set-id bits.
        if (::fchmod(fd, old.st_mode & 07777) != 0) problem = failure(errno);
    }
    if (!problem) problem = writeAll(fd, content);
    // On the disk before the name points to it, so that a crash right after
    // the rename cannot leave an empty file under the old name.
    if (!problem && ::fsync(fd) != 0) problem = failure(errno);
    if (::close(fd) != 0 && !problem && errno != EINTR) problem = failure(errno);
    if (!problem && ::rename(temporary.c_str(), destination.path.c_str()) != 0)
        problem = failure(errno);
    if (problem) {
        ::unlink(temporary.c_str());
        return problem;
    }
    // The rename itself made durable; a folder that cannot be synced
    // (some network file systems) still holds the new file.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

}  // namespace

std::optional<OutputError> writeOutputFile(const fs::path& target, std::string_view content) {
    if (target.empty()) return failure(ENOENT);
    Destination destination;
    if (auto problem = resolve(target.string(), destination)) return problem;
    return destination.inPlace ? writeInPlace(destination, content) : replace(destination, content);
}

}  // namespace ipcountry::output
