#include "analysis/ipv4_scanner.h"

namespace ipcountry::analysis {

void Ipv4Scanner::hold(const char* text, std::size_t size, std::uint64_t base, std::size_t resume) {
    const std::uint64_t next = base + resume;
    // An address whose last dot lies more than four characters before the
    // next dot can no longer be continued: the next octet could not touch it.
    if (m_gathered > 0 && m_previousDot + 4 < next) m_gathered = 0;
    std::uint64_t keepFrom = next >= 3 ? next - 3 : 0;
    if (m_gathered > 0 && m_start < keepFrom) keepFrom = m_start;
    if (keepFrom < base) keepFrom = base;
    m_heldSize = static_cast<std::size_t>(base + size - keepFrom);
    std::memmove(m_held, text + (keepFrom - base), m_heldSize);
    m_resume = next;
}

std::vector<FoundAddress> scanLine(std::string_view line) {
    std::vector<FoundAddress> found;
    scanLine(line, [&found](const FoundAddress& address) { found.push_back(address); });
    return found;
}

}  // namespace ipcountry::analysis
