#include "data_install.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ipcountry::data {
namespace fs = std::filesystem;
namespace {

constexpr const char* kCurrent = ".current";
constexpr const char* kGeneration = ".gen-";
constexpr const char* kNewLink = ".link-";
constexpr const char* kWork = ".work-";

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

// A folder of ours beside the data, with a fresh name.
fs::path makeFolder(const fs::path& parent, const char* kind) {
    std::string name = (parent / (std::string(kind) + "XXXXXX")).string();
    if (::mkdtemp(name.data()) == nullptr) fail(parent, "cannot create a folder", errno);
    return name;
}

// Points `name` in `folder` at `value` in one step: a new link renamed over it.
void replaceLink(const fs::path& folder, const std::string& name, const std::string& value,
                 const std::string& suffix) {
    const fs::path link = folder / (kNewLink + suffix);
    if (::symlink(value.c_str(), link.c_str()) != 0) fail(link, "cannot create a link", errno);
    if (::rename(link.c_str(), (folder / name).c_str()) != 0) {
        const int error = errno;
        ::unlink(link.c_str());
        fail(folder / name, "cannot replace", error);
    }
}

}  // namespace

DataInstaller::DataInstaller(fs::path target) {
    m_target = fs::absolute(target).lexically_normal();
    if (!m_target.has_filename()) m_target = m_target.parent_path();
    std::error_code ec;
    fs::create_directories(m_target, ec);
    if (ec) throw InstallError(m_target.string() + ": cannot create: " + ec.message());
    m_lock = ::open(m_target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_lock < 0) fail(m_target, "cannot open", errno);
    if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_lock);
        m_lock = -1;
        if (error == EWOULDBLOCK)
            throw InstallError(m_target.string() + ": another update of it is running");
        fail(m_target, "cannot lock", error);
    }
    try {
        removeLeftovers();
        m_work = makeFolder(m_target, kWork);
    } catch (...) {
        ::close(m_lock);
        throw;
    }
}

DataInstaller::~DataInstaller() {
    std::error_code ec;
    if (!m_work.empty()) fs::remove_all(m_work, ec);
    if (m_lock >= 0) ::close(m_lock);
}

// Generations, links and scratch folders of runs that were killed, and the
// generation before the installed one: anything of ours but the generation
// .current points at. The lock keeps a running update's files out of reach.
void DataInstaller::removeLeftovers() {
    std::error_code ec;
    const fs::path current = fs::read_symlink(m_target / kCurrent, ec);
    std::vector<fs::path> leftovers;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_target, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == current.string()) continue;
        for (const char* kind : {kGeneration, kNewLink, kWork})
            if (name.starts_with(kind)) leftovers.push_back(entry.path());
    }
    // Removed after the walk: a folder changed while it is read may skip entries.
    for (const fs::path& path : leftovers) fs::remove_all(path, ec);
}

std::optional<std::string> DataInstaller::install(
    const std::function<void(const fs::path&)>& write) {
    const fs::path generation = makeFolder(m_target, kGeneration);
    const std::string name = generation.filename().string();
    const std::string suffix = name.substr(name.size() - 6);
    std::error_code ec;
    try {
        // Readable by all, as a folder made with mkdir would be (mkdtemp's is 0700).
        if (::chmod(generation.c_str(), 0777 & ~currentUmask()) != 0)
            fail(generation, "cannot set permissions", errno);
        write(generation);
        syncFolder(generation);
        replaceLink(m_target, kCurrent, name, suffix);
    } catch (...) {
        fs::remove_all(generation, ec);
        throw;
    }
    // From here on the new generation is the installed data.
    std::optional<std::string> note;
    // The files' own links: made once, the first time. A folder where the
    // user put range files of their own gets IPv4's link first, so that a
    // reader who resolves IP_db.dbf finds the new IP6_db.dbf beside it.
    for (const std::string_view linked :
         {kIpv4FileName, kIpv6FileName, kProvenanceName, kNetworksFileName}) {
        const std::string file(linked);
        // A generation without networks leaves a folder without them as it is.
        if (linked == kNetworksFileName && !fs::exists(generation / file, ec)) continue;
        const std::string value = std::string(kCurrent) + "/" + file;
        const fs::path path = m_target / file;
        if (fs::read_symlink(path, ec) == value) continue;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (fs::is_directory(status))
            throw InstallError(path.string() + ": is a folder, not a range file");
        if (fs::exists(status))
            note = "its own range files were replaced by links to the new data in " + name;
        replaceLink(m_target, file, value, suffix);
    }
    syncFolder(m_target);
    // The previous generation stays until the next update: a program that
    // resolved .current just before the swap still opens its files there.
    return note;
}

}  // namespace ipcountry::data
