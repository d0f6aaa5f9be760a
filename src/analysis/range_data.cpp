#include "analysis/range_data.h"

namespace ipcountry::analysis {

template <class Family>
const typename RangeData<Family>::Resolver* RangeData<Family>::open() {
    if (m_missing) return nullptr;
    try {
        m_file->open();
    } catch (const lookup::Error& error) {
        if (m_policy == Policy::TriedOnce) m_failure = error;
        if (m_policy != Policy::OptionalFile || error.kind() != lookup::ErrorKind::FileNotFound)
            throw;
        m_missing = true;
        m_sharedMissing.store(true, std::memory_order_release);
        return nullptr;
    }
    // Built once: the views use it from then on.
    const Resolver& resolver = m_resolver.emplace(m_table, *m_file);
    m_shared.store(&resolver, std::memory_order_release);
    return &resolver;
}

template class RangeData<lookup::Ipv4Ranges>;
template class RangeData<lookup::Ipv6Ranges>;

}  // namespace ipcountry::analysis
