#include "analysis/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>

namespace ipcountry::analysis {

namespace {

constexpr std::uintptr_t kNoFault = std::numeric_limits<std::uintptr_t>::max();

// A live window as the SIGBUS handler sees it. The handler may run on any
// thread at any moment, so the table is fixed and read with atomics alone:
// `begin` is set last when a window is registered and cleared first when it
// goes, so that the handler never takes a half-written entry for a window.
struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<std::uintptr_t> fault{kNoFault};  // the lowest page that faulted
};

Slot g_slots[MappedWindow::kMostWindows];
struct sigaction g_previous {};
std::uintptr_t g_pageSize = 4096;

static_assert(std::atomic<std::uintptr_t>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void handOn(int signal, siginfo_t* info, void* context) {
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // The default action: a fault repeats as soon as this returns and ends
    // the program there, with a core as it would have; a SIGBUS sent by
    // someone is sent again.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(SIGBUS, &defaultAction, nullptr);
    if (info == nullptr || info->si_code <= 0) ::raise(SIGBUS);
}

void onBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const auto address = info != nullptr && info->si_code > 0
                             ? reinterpret_cast<std::uintptr_t>(info->si_addr)
                             : std::uintptr_t{0};
    for (Slot& slot : g_slots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire))
            continue;
        const std::uintptr_t page = address & ~(g_pageSize - 1);
        // Recorded before the zeros appear, so that whoever reads the zeros
        // also finds the record when it looks.
        for (std::uintptr_t seen = slot.fault.load(); page < seen;)
            if (slot.fault.compare_exchange_weak(seen, page)) break;
        void* zeros = ::mmap(reinterpret_cast<void*>(page), g_pageSize, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        errno = savedErrno;
        if (zeros != MAP_FAILED) return;
        break;
    }
    errno = savedErrno;
    handOn(signal, info, context);
}

void installHandler() {
    g_pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

bool MappedWindow::map(int fd, std::uint64_t offset, std::size_t length) noexcept {
    unmap();
    static std::once_flag installed;
    std::call_once(installed, installHandler);
    int slot = 0;
    for (; slot < kMostWindows; ++slot) {
        bool expected = false;
        if (g_slots[slot].taken.compare_exchange_strong(expected, true)) break;
    }
    if (slot == kMostWindows) return false;

    const std::uint64_t first = offset & ~std::uint64_t{g_pageSize - 1};
    const std::uint64_t span = offset - first + length + g_pageSize;
    const std::size_t mapLength =
        static_cast<std::size_t>((span + g_pageSize - 1) & ~std::uint64_t{g_pageSize - 1});
    void* base = ::mmap(nullptr, mapLength, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(first));
    if (base == MAP_FAILED) {
        g_slots[slot].taken.store(false);
        return false;
    }
    // Read ahead of the reader and dropped behind it.
    ::madvise(base, mapLength, MADV_SEQUENTIAL);
    Slot& entry = g_slots[slot];
    entry.fault.store(kNoFault);
    entry.end.store(reinterpret_cast<std::uintptr_t>(base) + mapLength);
    entry.begin.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
    m_base = base;
    m_length = mapLength;
    m_data = static_cast<const char*>(base) + (offset - first);
    m_offset = offset;
    m_slot = slot;
    return true;
}

void MappedWindow::unmap() noexcept {
    if (m_base == nullptr) return;
    Slot& entry = g_slots[m_slot];
    entry.begin.store(0);
    ::munmap(m_base, m_length);
    entry.end.store(0);
    entry.taken.store(false, std::memory_order_release);
    m_base = nullptr;
    m_data = nullptr;
    m_slot = -1;
}

std::optional<std::uint64_t> MappedWindow::faultBefore(const char* end) const noexcept {
    if (m_base == nullptr) return std::nullopt;
    const std::uintptr_t fault = g_slots[m_slot].fault.load();
    if (fault >= reinterpret_cast<std::uintptr_t>(end)) return std::nullopt;
    const auto data = reinterpret_cast<std::uintptr_t>(m_data);
    return fault <= data ? m_offset : m_offset + (fault - data);
}

}  // namespace ipcountry::analysis
