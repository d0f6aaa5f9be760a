#include "address_tally.h"

#include <algorithm>

namespace ipcountry::report {

void AddressTally::appendRow(std::string_view ip, std::string_view, std::string_view, int slot) {
    ++m_rows;
    if (const auto found = m_counts.find(ip); found != m_counts.end()) {
        ++found->second.rows;
        return;
    }
    m_counts.emplace(std::string(ip), Count{1, slot});
}

std::vector<AddressTally::Entry> AddressTally::top(std::size_t n) const {
    using Item = const std::pair<const std::string, Count>*;
    std::vector<Item> items;
    items.reserve(m_counts.size());
    for (const auto& item : m_counts) items.push_back(&item);
    const auto before = [](Item a, Item b) {
        return a->second.rows != b->second.rows ? a->second.rows > b->second.rows
                                                : a->first < b->first;
    };
    const auto end = items.begin() + static_cast<std::ptrdiff_t>(std::min(n, items.size()));
    std::partial_sort(items.begin(), end, items.end(), before);
    std::vector<Entry> out;
    for (auto it = items.begin(); it != end; ++it)
        out.push_back(Entry{(*it)->first, (*it)->second.slot, (*it)->second.rows});
    return out;
}

}  // namespace ipcountry::report
