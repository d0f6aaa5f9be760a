#pragma once

#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "analysis/country_resolver.h"
#include "analysis/range_data.h"
#include "analysis/row_rules.h"
#include "lookup/address_text.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

// One address text from reading to answer, as "Find" and the driver take it:
// read, the range file of its family opened (a missing one is this lookup's
// error), resolved. A link-local address has no country and needs no file.
// Throws lookup::Error as readTypedAddress and the range files' open() do.
Answer findCountry(std::string_view text, const lookup::CountryTable& table,
                   lookup::RangeFile& ranges, lookup::Range6File& ranges6);

// findCountry for many addresses one after another (the driver's find): one
// snapshot of the data per run, as an analysis takes. Each family's range
// file is read when its first address comes and answers the rest of the run;
// a file that cannot be opened fails every address of its family with the
// same error, without trying again.
class AddressFinder {
public:
    AddressFinder(const lookup::CountryTable& table, lookup::RangeFile& ranges,
                  lookup::Range6File& ranges6)
        : m_ipv4(table, ranges, RangeData<lookup::Ipv4Ranges>::Policy::TriedOnce),
          m_ipv6(table, ranges6, RangeData<lookup::Ipv6Ranges>::Policy::TriedOnce) {}
    // A finder for another thread over `owner`'s snapshot (`owner` outlives
    // it): each family's file is still tried once per run, by whichever
    // finder needs it first, and every finder answers from that one try.
    // `owner` itself must not look up while finders made from it do.
    explicit AddressFinder(AddressFinder& owner)
        : m_ipv4(RangeData<lookup::Ipv4Ranges>::ViewOf{owner.m_ipv4}),
          m_ipv6(RangeData<lookup::Ipv6Ranges>::ViewOf{owner.m_ipv6}),
          m_owner(&owner) {}
    AddressFinder(const AddressFinder&) = delete;
    AddressFinder& operator=(const AddressFinder&) = delete;

    Answer find(std::string_view text);

    // What find gives for one text: the answer, or the error find would throw.
    struct Found {
        Answer answer;
        std::optional<lookup::Error> error;
    };
    // find for each of `texts`, into `found` (same order and size): all are
    // read first, so that the memory reads of their lookups overlap.
    void findEach(std::span<const std::string_view> texts, std::vector<Found>& found);
    // The same for addresses already read (lookup::readAddressText's).
    void findEach(std::span<const lookup::TypedAddress> addresses, std::vector<Found>& found);

private:
    // What the owner's try of one family's file gave, kept by a sharing finder.
    template <class Family>
    struct Tried {
        bool done = false;
        const BasicCountryResolver<Family>* resolver = nullptr;
        std::optional<lookup::Error> failure;
    };
    template <class Family>
    const BasicCountryResolver<Family>* resolver(RangeData<Family>& own, Tried<Family>& tried,
                                                 RangeData<Family>& owners);
    const CountryResolver* ipv4();
    const Country6Resolver* ipv6();
    // findEach's steps: each address to its family's batch (its file opened,
    // or `found`'s error set), then the batches looked up.
    void batch(const lookup::TypedAddress& typed, std::size_t place, std::vector<Found>& found);
    void lookUpBatches(std::vector<Found>& found);

    RangeData<lookup::Ipv4Ranges> m_ipv4;  // a view, unused, in a sharing finder
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    // findEach's addresses of one family, where their answers go, and the
    // answers; kept for their capacity.
    template <class Family>
    struct Batch {
        std::vector<typename Family::Address> addresses;
        std::vector<std::size_t> places;
        std::vector<Answer> answers;
        void clear() noexcept {
            addresses.clear();
            places.clear();
        }
        void add(typename Family::Address address, std::size_t place) {
            addresses.push_back(address);
            places.push_back(place);
        }
        void answer(const BasicCountryResolver<Family>& resolver, std::vector<Found>& found) {
            answers.resize(addresses.size());
            resolver.answerEach(addresses, answers);
            for (std::size_t i = 0; i < places.size(); ++i) {
                Answer& answer = found[places[i]].answer;
                answer = answers[i];
                if (answer.country) continue;
                lookup::TypedAddress typed;
                if constexpr (std::is_same_v<typename Family::Address, std::uint32_t>) {
                    typed.ipv4 = addresses[i];
                } else {
                    typed.kind = lookup::TypedAddress::Kind::Ipv6;
                    typed.ipv6 = addresses[i];
                }
                answer.reason = noCountryReason(typed);
            }
        }
    };
    Batch<lookup::Ipv4Ranges> m_ipv4Batch;
    Batch<lookup::Ipv6Ranges> m_ipv6Batch;
    AddressFinder* m_owner = nullptr;  // a sharing finder's
    std::mutex m_trying;               // the owner's: one try of its files at a time
    Tried<lookup::Ipv4Ranges> m_tried4;
    Tried<lookup::Ipv6Ranges> m_tried6;
};

}  // namespace ipcountry::analysis
