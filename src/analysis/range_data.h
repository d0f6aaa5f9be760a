#pragma once

#include <atomic>
#include <optional>

#include "analysis/country_resolver.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"

namespace ipcountry::analysis {

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
    // owner has one (deferToOwner() tells which).
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
    bool deferToOwner() const {
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

}  // namespace ipcountry::analysis
