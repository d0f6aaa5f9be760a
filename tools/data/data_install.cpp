#include "data_install.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ipcountry::data {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const fs::path& path, const std::string& what, int error) {
    throw InstallError(path.string() + ": " + what + ": " + std::strerror(error));
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail(folder, "cannot open", errno);
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!synced) fail(folder, "cannot sync", error);
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Hard links where the file system allows them (nothing is copied), copies
// elsewhere; folders are walked.
void carryOver(const fs::path& from, const fs::path& to) {
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        const fs::path name = entry.path().filename();
        if (name == kIpv4FileName || name == kIpv6FileName || name == kProvenanceName) continue;
        const fs::path dest = to / name;
        if (entry.is_symlink()) {
            fs::copy_symlink(entry.path(), dest);
        } else if (entry.is_directory()) {
            fs::create_directory(dest, entry.path());
            carryOver(entry.path(), dest);
        } else {
            std::error_code linkError;
            fs::create_hard_link(entry.path(), dest, linkError);
            if (linkError) fs::copy_file(entry.path(), dest);
        }
    }
}

}  // namespace

DataInstaller::DataInstaller(fs::path target) {
    m_target = fs::absolute(target).lexically_normal();
    if (!m_target.has_filename()) m_target = m_target.parent_path();
    m_parent = m_target.parent_path();
    m_name = m_target.filename().string();
    std::error_code ec;
    fs::create_directories(m_parent, ec);
    if (ec) throw InstallError(m_parent.string() + ": cannot create: " + ec.message());
    m_lock = ::open(m_parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_lock < 0) fail(m_parent, "cannot open", errno);
    if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_lock);
        m_lock = -1;
        if (error == EWOULDBLOCK)
            throw InstallError(m_target.string() + ": another update of it is running");
        fail(m_parent, "cannot lock", error);
    }
    const fs::file_status status = fs::symlink_status(m_target, ec);
    if (!ec && status.type() != fs::file_type::not_found && !fs::is_symlink(status) &&
        !fs::is_directory(status)) {
        ::close(m_lock);
        throw InstallError(m_target.string() + ": exists and is not a folder");
    }
    removeLeftovers();
    std::string work = (m_parent / (hidden("work") + "XXXXXX")).string();
    if (::mkdtemp(work.data()) == nullptr) {
        const int error = errno;
        ::close(m_lock);
        fail(m_parent, "cannot create a folder", error);
    }
    m_work = work;
}

DataInstaller::~DataInstaller() {
    std::error_code ec;
    if (!m_work.empty()) fs::remove_all(m_work, ec);
    if (m_lock >= 0) ::close(m_lock);
}

std::string DataInstaller::hidden(const char* kind) const {
    return "." + m_name + "." + kind + "-";
}

// Generations, links and scratch folders of runs that were killed: anything
// of ours but the generation the target points at. The lock keeps a running
// update's files out of reach.
void DataInstaller::removeLeftovers() {
    std::error_code ec;
    const fs::path current = fs::read_symlink(m_target, ec);
    std::vector<fs::path> leftovers;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_parent, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == current.string()) continue;
        for (const char* kind : {"gen", "link", "work", "old"})
            if (name.starts_with(hidden(kind))) leftovers.push_back(entry.path());
    }
    // Removed after the walk: a folder changed while it is read may skip entries.
    for (const fs::path& path : leftovers) fs::remove_all(path, ec);
}

std::optional<std::string> DataInstaller::install(
    const std::function<void(const fs::path&)>& write) {
    std::string made = (m_parent / (hidden("gen") + "XXXXXX")).string();
    if (::mkdtemp(made.data()) == nullptr) fail(m_parent, "cannot create a folder", errno);
    const fs::path generation = made;
    const std::string suffix = made.substr(made.size() - 6);
    const fs::path link = m_parent / (hidden("link") + suffix);
    std::error_code ec;
    bool swapped = false;  // from here on the generation is the installed data
    try {
        // Readable by all, as a folder made with mkdir would be (mkdtemp's is 0700).
        if (::chmod(generation.c_str(), 0777 & ~currentUmask()) != 0)
            fail(generation, "cannot set permissions", errno);
        const fs::file_status status = fs::symlink_status(m_target, ec);
        const bool realFolder = !ec && fs::is_directory(status);
        const fs::path previous = fs::is_symlink(status) ? fs::read_symlink(m_target) : fs::path();
        if (fs::is_directory(m_target, ec)) carryOver(m_target, generation);
        write(generation);
        syncFolder(generation);

        if (::symlink(generation.filename().c_str(), link.c_str()) != 0)
            fail(link, "cannot create a link", errno);
        std::optional<std::string> note;
        if (realFolder) {
            // The old folder and the new link change places in one step; the
            // old folder lands at the link's name and goes below.
            if (::renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, m_target.c_str(), RENAME_EXCHANGE) !=
                0) {
                const int error = errno;
                if (error != EINVAL && error != ENOSYS) fail(m_target, "cannot replace", error);
                // A file system without the exchange: two renames, with a
                // moment where the target is missing (readers fall back to
                // other data, never to half of ours).
                const fs::path aside = m_parent / (hidden("old") + suffix);
                if (::rename(m_target.c_str(), aside.c_str()) != 0)
                    fail(m_target, "cannot replace", errno);
                if (::rename(link.c_str(), m_target.c_str()) != 0) {
                    const int renameError = errno;
                    ::rename(aside.c_str(), m_target.c_str());
                    fail(m_target, "cannot replace", renameError);
                }
                swapped = true;
                syncFolder(m_parent);
                fs::remove_all(aside, ec);
            } else {
                swapped = true;
                syncFolder(m_parent);
                fs::remove_all(link, ec);
            }
            note =
                "was a folder: its other files were carried into the new data, and it is now "
                "a link to " +
                generation.filename().string();
        } else {
            if (::rename(link.c_str(), m_target.c_str()) != 0)
                fail(m_target, "cannot replace", errno);
            swapped = true;
            syncFolder(m_parent);
            // Only a generation of ours goes; a link the user made to a folder
            // elsewhere leaves that folder alone.
            if (!previous.empty() && !previous.has_parent_path() &&
                previous.string().starts_with(hidden("gen")))
                fs::remove_all(m_parent / previous, ec);
        }
        return note;
    } catch (...) {
        if (!swapped) {
            fs::remove(link, ec);
            fs::remove_all(generation, ec);
        }
        throw;
    }
}

}  // namespace ipcountry::data
