#include "address_tally.h"

#include "analysis/row_rules.h"
#include "lookup/country_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include <sys/mman.h>

namespace ipcountry::report {

namespace {

constexpr std::size_t kInline = 16;

// The finaliser of MurmurHash3: every bit of the input moves every bit of
// the result, so that addresses that differ in one digit spread.
std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

std::uint64_t word(const char* bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, 8);
    return value;
}

}  // namespace

// An inline text is hashed here; a long one keeps the hash it was stored with.
std::uint64_t AddressTally::hashOf(const Cell& cell) {
    if (cell.length > kInline) return word(cell.text + 8);
    return mix(word(cell.text) ^ mix(word(cell.text + 8) + 0x9e3779b97f4a7c15ULL));
}

std::string_view AddressTally::textOf(const Cell& cell) const {
    if (cell.length > kInline) return std::string_view(m_long).substr(word(cell.text), cell.length);
    return std::string_view(cell.text, cell.length);
}

AddressTally::Cells::Cells(std::size_t size) : m_size(size) {
    void* memory = ::mmap(nullptr, size * sizeof(Cell), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    ::madvise(memory, size * sizeof(Cell), MADV_HUGEPAGE);
    // Fresh anonymous pages are zero: every cell is free.
    m_data = static_cast<Cell*>(memory);
}

AddressTally::Cells::~Cells() {
    if (m_data != nullptr) ::munmap(m_data, m_size * sizeof(Cell));
}

void AddressTally::grow() {
    Cells old = std::move(m_cells);
    m_cells = Cells(old.empty() ? 1024 : old.size() * 2);
    const std::size_t mask = m_cells.size() - 1;
    for (const Cell& cell : old) {
        if (cell.rows == 0) continue;
        std::size_t i = hashOf(cell) & mask;
        while (m_cells[i].rows != 0) i = (i + 1) & mask;
        m_cells[i] = cell;
    }
}

// A row's country or reason in one number: the slot (0 and up), the US as
// its rows name it, or a reason without a country.
namespace {
constexpr std::int32_t kUsa = -1;
constexpr std::int32_t kFirstReason = -2;
}  // namespace

void AddressTally::appendRow(const analysis::ResultRow& result) {
    const std::string_view ip = result.address;
    std::int32_t slot = result.country.usa ? kUsa : result.country.slot;
    if (!result.reason.empty()) {
        const std::size_t reason = analysis::noCountryReasonIndex(result.reason)
                                       .value_or(analysis::kNoCountryReasons.size() - 1);
        ++m_reasons[reason];
        slot = kFirstReason - static_cast<std::int32_t>(reason);
    }
    ++m_rows;
    if (m_waiting == kAhead) {
        count(m_pending[m_first]);
        m_first = (m_first + 1) % kAhead;
        --m_waiting;
    }
    Pending& row = m_pending[(m_first + m_waiting) % kAhead];
    ++m_waiting;
    row.key = Cell{};
    row.key.length = static_cast<std::uint32_t>(ip.size());
    row.key.slot = slot;
    if (ip.size() <= kInline) {
        std::memcpy(row.key.text, ip.data(), ip.size());
        row.hash = hashOf(row.key);
    } else {
        row.hash = std::hash<std::string_view>{}(ip);
        std::memcpy(row.key.text + 8, &row.hash, 8);
        row.text.assign(ip);
    }
    if (!m_cells.empty()) __builtin_prefetch(&m_cells[row.hash & (m_cells.size() - 1)]);
}

void AddressTally::count(Pending& row) {
    // At most half full, so that a probe seldom goes past its first cell.
    if (2 * (m_used + 1) > m_cells.size()) grow();
    const bool inlined = row.key.length <= kInline;
    const std::size_t mask = m_cells.size() - 1;
    for (std::size_t i = row.hash & mask;; i = (i + 1) & mask) {
        Cell& cell = m_cells[i];
        if (cell.rows == 0) {
            if (!inlined) {
                const std::uint64_t offset = m_long.size();
                std::memcpy(row.key.text, &offset, 8);
                m_long += row.text;
            }
            cell = row.key;
            cell.rows = 1;
            ++m_used;
            return;
        }
        if (cell.length != row.key.length) continue;
        if (inlined ? std::memcmp(cell.text, row.key.text, kInline) == 0
                    : word(cell.text + 8) == row.hash && textOf(cell) == row.text) {
            ++cell.rows;
            return;
        }
    }
}

void AddressTally::countPending() {
    for (; m_waiting > 0; --m_waiting) {
        count(m_pending[m_first]);
        m_first = (m_first + 1) % kAhead;
    }
}

std::size_t AddressTally::distinct() {
    countPending();
    return m_used;
}

std::vector<std::int64_t> AddressTally::distinctBySlot() {
    countPending();
    std::vector<std::int64_t> bySlot(lookup::kMostSlots, 0);
    for (const Cell& cell : m_cells) {
        if (cell.rows == 0) continue;
        const std::int32_t slot = cell.slot == kUsa ? lookup::kUsSlot : cell.slot;
        if (slot >= 0 && slot < lookup::kMostSlots) ++bySlot[static_cast<std::size_t>(slot)];
    }
    return bySlot;
}

std::vector<AddressTally::Entry> AddressTally::top(std::size_t n) {
    countPending();
    // One pass with the best n so far; a sort of every address would visit
    // them all again in random order.
    std::vector<const Cell*> best;
    const auto before = [this](const Cell* x, const Cell* y) {
        return x->rows != y->rows ? x->rows > y->rows : textOf(*x) < textOf(*y);
    };
    if (n == 0) return {};
    for (const Cell& cell : m_cells) {
        if (cell.rows == 0) continue;
        if (best.size() == n && !before(&cell, best.front())) continue;
        best.push_back(&cell);
        std::push_heap(best.begin(), best.end(), before);
        if (best.size() > n) {
            std::pop_heap(best.begin(), best.end(), before);
            best.pop_back();
        }
    }
    std::sort_heap(best.begin(), best.end(), before);
    std::vector<Entry> out;
    for (const Cell* cell : best) out.push_back(entryOf(*cell));
    return out;
}

AddressTally::Entry AddressTally::entryOf(const Cell& cell) const {
    Entry entry{std::string(textOf(cell)), cell.slot, cell.rows, false, {}};
    if (entry.slot == kUsa) {
        entry.slot = lookup::kUsSlot;
        entry.usa = true;
    } else if (entry.slot <= kFirstReason) {
        entry.reason =
            analysis::kNoCountryReasons[static_cast<std::size_t>(kFirstReason - entry.slot)];
        entry.slot = 0;
    }
    return entry;
}

std::vector<AddressTally::Entry> AddressTally::all() {
    countPending();
    std::vector<Entry> out;
    out.reserve(m_used);
    for (const Cell& cell : m_cells)
        if (cell.rows > 0) out.push_back(entryOf(cell));
    return out;
}

}  // namespace ipcountry::report
