#include "formats/formats.h"

#include <algorithm>
#include <cstddef>

namespace ipcountry::batch {

std::optional<Format> parseFormat(std::string_view name) {
    if (name == "tsv") return Format::Tsv;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    return std::nullopt;
}

std::optional<CountryOrder> parseCountryOrder(std::string_view name) {
    if (name == "list") return CountryOrder::List;
    if (name == "count") return CountryOrder::Count;
    if (name == "name") return CountryOrder::Name;
    if (name == "clients") return CountryOrder::Clients;
    return std::nullopt;
}

namespace {

// --top: the `top` entries with the most rows stay, equal counts in the order
// they stand (so the cut is the same on every run); the rows of the rest are
// added up and returned.
template <class Entry, class CountOf>
std::int64_t keepTop(std::vector<Entry>& listed, std::size_t top, CountOf countOf) {
    if (top == 0 || top >= listed.size()) return 0;
    std::stable_sort(listed.begin(), listed.end(), [&countOf](const Entry& a, const Entry& b) {
        return countOf(a) > countOf(b);
    });
    std::int64_t rest = 0;
    for (auto entry = listed.begin() + static_cast<std::ptrdiff_t>(top); entry != listed.end();
         ++entry)
        rest += countOf(*entry);
    listed.resize(top);
    return rest;
}

// The order asked for; --top alone lists the most first.
CountryOrder orderOf(const Listing& listing) {
    return listing.orderGiven || listing.top == 0 ? listing.order : CountryOrder::Count;
}

}  // namespace

std::vector<analysis::StatsRow> listCountries(const std::vector<analysis::StatsRow>& rows,
                                              const Listing& listing, std::int64_t& leftOut,
                                              const std::vector<std::int64_t>& clients) {
    std::vector<analysis::StatsRow> listed = rows;
    const auto mostFirst = [](const analysis::StatsRow& a, const analysis::StatsRow& b) {
        return a.hits > b.hits;
    };
    leftOut = keepTop(listed, listing.top, [](const analysis::StatsRow& row) { return row.hits; });
    switch (orderOf(listing)) {
        case CountryOrder::List:
            std::stable_sort(listed.begin(), listed.end(),
                             [](const auto& a, const auto& b) { return a.slot < b.slot; });
            break;
        case CountryOrder::Count:
            std::stable_sort(listed.begin(), listed.end(), mostFirst);
            break;
        case CountryOrder::Name:
            std::stable_sort(listed.begin(), listed.end(),
                             [](const auto& a, const auto& b) { return a.name < b.name; });
            break;
        case CountryOrder::Clients: {
            // Unknown (merged statistics without their rows): by count.
            const auto clientsOf = [&clients](const analysis::StatsRow& row) {
                const auto slot = static_cast<std::size_t>(row.slot);
                return slot < clients.size() ? clients[slot] : std::int64_t{0};
            };
            std::stable_sort(listed.begin(), listed.end(), mostFirst);
            std::stable_sort(listed.begin(), listed.end(), [&](const auto& a, const auto& b) {
                return clientsOf(a) > clientsOf(b);
            });
            break;
        }
    }
    return listed;
}

std::vector<Summary::NetworkCount> listNetworks(const std::vector<Summary::NetworkCount>& networks,
                                                const Listing& listing, std::int64_t& leftOut) {
    std::vector<Summary::NetworkCount> listed = networks;
    const auto byNumber = [](const auto& a, const auto& b) { return a.number < b.number; };
    const auto mostFirst = [](const auto& a, const auto& b) { return a.count > b.count; };
    std::sort(listed.begin(), listed.end(), byNumber);
    // Equal counts stay in number order.
    leftOut = keepTop(listed, listing.top, [](const Summary::NetworkCount& n) { return n.count; });
    switch (orderOf(listing)) {
        case CountryOrder::List:
            std::stable_sort(listed.begin(), listed.end(), byNumber);
            break;
        case CountryOrder::Count:
        case CountryOrder::Clients:  // networks are not counted by client: by rows
            std::stable_sort(listed.begin(), listed.end(), mostFirst);
            break;
        case CountryOrder::Name:
            std::stable_sort(listed.begin(), listed.end(),
                             [](const auto& a, const auto& b) { return a.name < b.name; });
            break;
    }
    return listed;
}

std::string shareNumber(std::int64_t hits, std::int64_t total) {
    std::string share = analysis::formatShare(hits, total, ".");
    if (!share.empty()) share.pop_back();  // the '%'
    return share;
}

}  // namespace ipcountry::batch
