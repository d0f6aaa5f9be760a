#include "analysis/address_finder.h"

#include "analysis/row_rules.h"

namespace ipcountry::analysis {

Answer findCountry(std::string_view text, const lookup::CountryTable& table,
                   lookup::RangeFile& ranges, lookup::Range6File& ranges6) {
    return AddressFinder(table, ranges, ranges6).find(text);
}

template <class Family>
const BasicCountryResolver<Family>* AddressFinder::resolver(RangeData<Family>& own,
                                                            Tried<Family>& tried,
                                                            RangeData<Family>& owners) {
    if (m_owner == nullptr) return own.resolver();
    if (!tried.done) {
        // The owner's answer never changes once given (TriedOnce), so it is
        // asked once per finder and kept.
        const std::lock_guard lock(m_owner->m_trying);
        try {
            tried.resolver = owners.resolver();
        } catch (const lookup::Error& e) {
            tried.failure = e;
        }
        tried.done = true;
    }
    if (tried.failure) throw *tried.failure;
    return tried.resolver;
}

const CountryResolver* AddressFinder::ipv4() {
    return resolver(m_ipv4, m_tried4, m_owner ? m_owner->m_ipv4 : m_ipv4);
}

const Country6Resolver* AddressFinder::ipv6() {
    return resolver(m_ipv6, m_tried6, m_owner ? m_owner->m_ipv6 : m_ipv6);
}

Answer AddressFinder::find(std::string_view text) {
    const lookup::TypedAddress address = lookup::readTypedAddress(text);
    Answer answer;
    switch (address.kind) {
        case lookup::TypedAddress::Kind::Ipv4:
            answer = ipv4()->answer(address.ipv4);
            break;
        case lookup::TypedAddress::Kind::Ipv6:
            answer = ipv6()->answer(address.ipv6);
            break;
        case lookup::TypedAddress::Kind::LinkLocal:
            break;
    }
    if (!answer.country) answer.reason = noCountryReason(address);
    return answer;
}

void AddressFinder::batch(const lookup::TypedAddress& typed, std::size_t place,
                          std::vector<Found>& found) {
    found[place].error.reset();
    found[place].answer = {};
    if (typed.kind == lookup::TypedAddress::Kind::LinkLocal)
        found[place].answer.reason = noCountryReason(typed);
    // Each family's file is opened as find opens it; link-local addresses need none.
    try {
        if (typed.kind == lookup::TypedAddress::Kind::Ipv4) {
            ipv4();
            m_ipv4Batch.add(typed.ipv4, place);
        } else if (typed.kind == lookup::TypedAddress::Kind::Ipv6) {
            ipv6();
            m_ipv6Batch.add(typed.ipv6, place);
        }
    } catch (const lookup::Error& e) {
        found[place].error = e;
    }
}

void AddressFinder::lookUpBatches(std::vector<Found>& found) {
    // The lookups of each family together, their memory reads overlapped.
    if (!m_ipv4Batch.addresses.empty()) m_ipv4Batch.answer(*ipv4(), found);
    if (!m_ipv6Batch.addresses.empty()) m_ipv6Batch.answer(*ipv6(), found);
}

void AddressFinder::findEach(std::span<const std::string_view> texts, std::vector<Found>& found) {
    found.resize(texts.size());
    m_ipv4Batch.clear();
    m_ipv6Batch.clear();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        try {
            batch(lookup::readTypedAddress(texts[i]), i, found);
        } catch (const lookup::Error& e) {
            found[i].answer = {};
            found[i].error = e;
        }
    }
    lookUpBatches(found);
}

void AddressFinder::findEach(std::span<const lookup::TypedAddress> addresses,
                             std::vector<Found>& found) {
    found.resize(addresses.size());
    m_ipv4Batch.clear();
    m_ipv6Batch.clear();
    for (std::size_t i = 0; i < addresses.size(); ++i) batch(addresses[i], i, found);
    lookUpBatches(found);
}

}  // namespace ipcountry::analysis
