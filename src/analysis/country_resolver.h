#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

// Everything "Find" and the driver tell of one address.
struct Answer {
    lookup::CountryCode code;           // the range's code; empty when no range holds the address
    std::optional<Resolution> country;  // none: no country
    std::string_view countryName;       // countryName() of `country`, empty without one
    // The flag picture's name: the code itself (the flag folder decides
    // whether it has one).
    const lookup::CountryCode& flagCode() const { return code; }
};

// The rule from a range code to a country, in one place: the code "US" is
// always slot 222 shown as "USA", whatever Country.dbf holds there; any other
// code counts in the first slot with that code. An address that no range
// holds, or whose code no slot holds, has no country: it gets no row and no
// count (no code of an earlier lookup stands in). IPv4 and IPv6 ranges follow
// the same rule; only the width of the address differs.
// The resolver answers from the range file's index as open() left it and from
// the table's codes and names, none of which may change while it lives.
template <class Family>
class BasicCountryResolver {
public:
    using Address = typename Family::Address;

    BasicCountryResolver(const lookup::CountryTable& table,
                         const lookup::BasicRangeFile<Family>& ranges);

    std::optional<Resolution> resolve(Address address) const;
    std::optional<Resolution> resolveCode(std::string_view code) const;
    Answer answer(Address address) const;
    // See BasicRangeIndex::prefetch.
    void prefetch(Address address, unsigned level) const noexcept {
        m_index.prefetch(address, level);
    }

private:
    std::optional<Resolution> resolvePacked(std::uint16_t packed) const;

    const lookup::CountryTable& m_table;
    const lookup::BasicRangeIndex<Family>& m_index;
    bool m_packed = false;
    // Packed two-letter code -> slot (-1: none), so that no lookup walks the
    // 237 slots. Built once per run; 128 KiB.
    std::vector<std::int16_t> m_slotOfCode;
};

using CountryResolver = BasicCountryResolver<lookup::Ipv4Ranges>;
using Country6Resolver = BasicCountryResolver<lookup::Ipv6Ranges>;
extern template class BasicCountryResolver<lookup::Ipv4Ranges>;
extern template class BasicCountryResolver<lookup::Ipv6Ranges>;

// An address as typed or listed. Throws lookup::Error: the walk's own
// failures (an octet that is not a number, fewer than three dots) with their
// description, and an address whose key is not 8 digits long (an octet above
// 255) with an empty one, as that failure has no description of its own.
std::uint32_t readAddress(std::string_view text);

// An address as "Find", the driver and a formatted list take it: IPv4 text
// by readAddress's rules, else any IPv6 text form (bare or in brackets, with
// or without a zone). IPv4 written in IPv6 notation (::ffff:192.0.2.1,
// ::ffff:c000:201) is that IPv4 address.
struct TypedAddress {
    enum class Kind {
        Ipv4,       // look `ipv4` up in IP_db.dbf
        Ipv6,       // look `ipv6` up in IP6_db.dbf
        LinkLocal,  // bound to one link: no country, nothing to look up
    };
    Kind kind = Kind::Ipv4;
    std::uint32_t ipv4 = 0;
    lookup::Address6 ipv6;
};

// What an address read by parseIpv6Text (or a scanner) is looked up as:
// nullopt for text that is no IPv6 address.
std::optional<TypedAddress> typedAddressOf(const lookup::Ipv6Address& parsed);

// Throws readAddress's error for text that is no IPv6 address either, so that
// every text that fails today fails with today's message. No text is both:
// IPv6 needs a colon before any dot, which no IPv4 octet accepts.
TypedAddress readTypedAddress(std::string_view text);

// One family's range file as a run or a batch of lookups uses it: read when
// first needed, with the resolver built on its index. What a file that cannot
// be read means is the user's policy.
// A run on several threads opens the file on its calling thread alone, in
// the order of the input, so that every rule and message stays as on one
// thread; the other threads look up through a view of that RangeData, which
// opens nothing and answers once the owner has a resolver.
template <class Family>
class RangeData {
public:
    using Resolver = BasicCountryResolver<Family>;
    enum class Policy {
        // Kept once read. While it cannot be read, every need tries again
        // and throws the file's lookup::Error (the user may put the file
        // back while a prompt is up).
        KeepOnceRead,
        // As KeepOnceRead, but a missing file stays missing for the run, with
        // nothing of its family looked up (a folder older than IPv6 support);
        // any other failure throws.
        OptionalFile,
        // Tried once: what it answers, or the error it throws, holds for the
        // rest of the run (one snapshot of the data per batch of lookups).
        TriedOnce,
    };

    RangeData(const lookup::CountryTable& table, lookup::BasicRangeFile<Family>& file,
              Policy policy)
        : m_table(table), m_file(&file), m_policy(policy) {}

    // A view of `owner` for another thread; `owner` outlives it.
    struct ViewOf {
        const RangeData& owner;
    };
    explicit RangeData(ViewOf view)
        : m_table(view.owner.m_table), m_policy(view.owner.m_policy), m_owner(&view.owner) {}

    RangeData(const RangeData&) = delete;
    RangeData& operator=(const RangeData&) = delete;

    // The resolver; null for a missing OptionalFile, and in a view until the
    // owner has one (leftToOwner() tells which).
    const Resolver* resolver() {
        if (m_owner != nullptr) {
            if (m_viewed == nullptr) m_viewed = m_owner->m_shared.load(std::memory_order_acquire);
            return m_viewed;
        }
        if (m_resolver) return &*m_resolver;
        if (m_failure) throw *m_failure;
        return open();
    }

    // Whether an address that resolver() had no resolver for is the owner's
    // to look up: in a view, until the owner has found the file missing.
    bool leftToOwner() const {
        return m_owner != nullptr && !m_owner->m_sharedMissing.load(std::memory_order_acquire);
    }

private:
    const Resolver* open();

    const lookup::CountryTable& m_table;
    lookup::BasicRangeFile<Family>* m_file = nullptr;  // null in a view
    Policy m_policy;
    bool m_missing = false;
    std::optional<lookup::Error> m_failure;  // TriedOnce's
    std::optional<Resolver> m_resolver;
    // What the views see: the resolver once built, and a missing OptionalFile.
    std::atomic<const Resolver*> m_shared{nullptr};
    std::atomic<bool> m_sharedMissing{false};
    // In a view: the owner, and its resolver once seen.
    const RangeData* m_owner = nullptr;
    const Resolver* m_viewed = nullptr;
};

extern template class RangeData<lookup::Ipv4Ranges>;
extern template class RangeData<lookup::Ipv6Ranges>;

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

    RangeData<lookup::Ipv4Ranges> m_ipv4;  // a view, unused, in a sharing finder
    RangeData<lookup::Ipv6Ranges> m_ipv6;
    std::vector<TypedAddress> m_typed;  // findEach's, kept for its capacity
    AddressFinder* m_owner = nullptr;   // a sharing finder's
    std::mutex m_trying;                // the owner's: one try of its files at a time
    Tried<lookup::Ipv4Ranges> m_tried4;
    Tried<lookup::Ipv6Ranges> m_tried6;
};

// The flag of the rows counted in `slot`: US for the slot the "US" addresses
// are counted in, whatever the list put there; else the slot's code.
std::string_view flagCodeOfSlot(const lookup::CountryTable& table, int slot);

}  // namespace ipcountry::analysis
