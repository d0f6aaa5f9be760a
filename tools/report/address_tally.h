#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "analysis/row_rules.h"

namespace ipcountry::report {

// The grid of a report run: keeps no rows, only how many each address text
// has, so that a log of any length costs memory by its distinct addresses
// (32 bytes each, twice over for room; texts longer than 16 bytes, as most
// IPv6 addresses are, once more). An address is its text as the grid shows
// it: "10.0.0.1" and "010.0.0.1" are two addresses, as they are two rows.
class AddressTally final : public analysis::ResultSink {
public:
    struct Entry {
        std::string address;  // the file's 8-bit text
        int slot = 0;         // where its first row was counted
        std::int64_t rows = 0;
        bool usa = false;         // its rows name the US as countryName does
        std::string_view reason;  // its first row had no country, for this reason
    };

    void appendRow(const analysis::ResultRow& row) override;

    std::int64_t rows() const { return m_rows; }
    // The rows without a country (--all), by reason, as in kNoCountryReasons.
    using ReasonCounts = std::array<std::int64_t, analysis::kNoCountryReasons.size()>;
    const ReasonCounts& reasons() const { return m_reasons; }
    std::size_t distinct();
    // The distinct addresses of each country, by slot (kMostSlots of them;
    // the US's rows in its slot): an address text has one country, so these
    // add up to distinct() less the addresses without a country.
    std::vector<std::int64_t> distinctBySlot();
    // The `n` addresses with the most rows, most first; equal counts in the
    // order of their text, so that the page is the same on every run.
    std::vector<Entry> top(std::size_t n);
    // Every address with its rows, in no order.
    std::vector<Entry> all();

private:
    // One address: a text of up to 16 bytes stands in `text` (zero filled);
    // a longer one lies in m_long, and `text` holds its offset there and its
    // hash. A cell with no rows is free.
    struct Cell {
        char text[16] = {};
        std::int64_t rows = 0;
        std::int32_t slot = 0;
        std::uint32_t length = 0;
    };
    // A row waiting for its cell, which was asked of memory when it came.
    struct Pending {
        Cell key;
        std::uint64_t hash = 0;
        std::string text;  // a long text, until it has a place in m_long
    };
    static std::uint64_t hashOf(const Cell& cell);
    Entry entryOf(const Cell& cell) const;
    std::string_view textOf(const Cell& cell) const;
    void grow();
    void count(Pending& row);
    void countPending();

    // Zeroed memory in huge pages where the system has them: a big log's
    // table spans tens of megabytes, and with small pages nearly every row
    // would also miss the address translation cache.
    class Cells {
    public:
        Cells() = default;
        explicit Cells(std::size_t size);
        Cells(Cells&& other) noexcept { swap(other); }
        Cells& operator=(Cells&& other) noexcept {
            swap(other);
            return *this;
        }
        ~Cells();
        std::size_t size() const { return m_size; }
        bool empty() const { return m_size == 0; }
        Cell& operator[](std::size_t i) { return m_data[i]; }
        const Cell* begin() const { return m_data; }
        const Cell* end() const { return m_data + m_size; }

    private:
        void swap(Cells& other) noexcept {
            std::swap(m_data, other.m_data);
            std::swap(m_size, other.m_size);
        }
        Cell* m_data = nullptr;
        std::size_t m_size = 0;
    };

    // Open addressing with linear probing: one look at memory for most rows,
    // where a node-based map chases a pointer and allocates per address.
    Cells m_cells;
    std::size_t m_used = 0;
    std::string m_long;
    std::int64_t m_rows = 0;
    ReasonCounts m_reasons{};
    // Most rows of a big log find their cell outside the processor's caches;
    // counted a few rows later, each finds it already fetched. Rows of one
    // address stay in order, so each keeps the slot of its first row.
    static constexpr std::size_t kAhead = 8;
    std::array<Pending, kAhead> m_pending;
    std::size_t m_first = 0;  // the oldest waiting row
    std::size_t m_waiting = 0;
};

}  // namespace ipcountry::report
