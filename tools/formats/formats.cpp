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

std::vector<analysis::StatsRow> listCountries(const std::vector<analysis::StatsRow>& rows,
                                              const Listing& listing, std::int64_t& leftOut,
                                              const std::vector<std::int64_t>& clients) {
    std::vector<analysis::StatsRow> listed = rows;
    const auto mostFirst = [](const analysis::StatsRow& a, const analysis::StatsRow& b) {
        return a.hits > b.hits;
    };
    leftOut = 0;
    if (listing.top > 0 && listing.top < listed.size()) {
        // Equal counts stay in list order, so the cut is the same on every run.
        std::stable_sort(listed.begin(), listed.end(), mostFirst);
        for (auto row = listed.begin() + static_cast<std::ptrdiff_t>(listing.top);
             row != listed.end(); ++row)
            leftOut += row->hits;
        listed.resize(listing.top);
    }
    const CountryOrder order =
        listing.orderGiven || listing.top == 0 ? listing.order : CountryOrder::Count;
    switch (order) {
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
    leftOut = 0;
    if (listing.top > 0 && listing.top < listed.size()) {
        // Equal counts stay in number order, so the cut is the same on every run.
        std::stable_sort(listed.begin(), listed.end(), mostFirst);
        for (auto n = listed.begin() + static_cast<std::ptrdiff_t>(listing.top); n != listed.end();
             ++n)
            leftOut += n->count;
        listed.resize(listing.top);
    }
    const CountryOrder order =
        listing.orderGiven || listing.top == 0 ? listing.order : CountryOrder::Count;
    switch (order) {
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
