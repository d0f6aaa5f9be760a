#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/interfaces.h"

namespace ipcountry::report {

// The grid of a report run: keeps no rows, only how many each address text
// has, so that a log of any length costs memory by its distinct addresses.
// An address is its text as the grid shows it: "10.0.0.1" and "010.0.0.1"
// are two addresses, as they are two kinds of rows.
class AddressTally final : public analysis::ResultSink {
public:
    struct Entry {
        std::string address;  // the file's 8-bit text
        int slot = 0;         // where its first row was counted
        std::int64_t rows = 0;
    };

    void appendRow(std::string_view ip, std::string_view port, std::string_view country,
                   int slot) override;

    std::int64_t rows() const { return m_rows; }
    std::size_t distinct() const { return m_counts.size(); }
    // The `n` addresses with the most rows, most first; equal counts in the
    // order of their text, so that the page is the same on every run.
    std::vector<Entry> top(std::size_t n) const;

private:
    struct Count {
        std::int64_t rows = 0;
        int slot = 0;
    };
    // Looked up by the row's own text, without making a string of it.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, Count, Hash, std::equal_to<>> m_counts;
    std::int64_t m_rows = 0;
};

}  // namespace ipcountry::report
