#include "analysis/statistics.h"

namespace ipcountry::analysis {

std::string durationText(std::chrono::nanoseconds elapsed) {
    using namespace std::chrono;
    if (elapsed < nanoseconds::zero()) elapsed = nanoseconds::zero();
    const std::int64_t totalSeconds = duration_cast<seconds>(elapsed).count();
    const std::int64_t minutes = totalSeconds / 60 % 60;
    const std::int64_t secs = totalSeconds % 60;
    std::string out = std::to_string(totalSeconds / 3600);
    out += minutes < 10 ? ":0" : ":";
    out += std::to_string(minutes);
    out += secs < 10 ? ":0" : ":";
    out += std::to_string(secs);
    return out;
}

std::int64_t shareTenths(std::int64_t hits, std::int64_t total) {
    // Tenths of a percent, rounded half away from zero, in exact arithmetic:
    // a binary fraction would put 1 of 16 (6.25) on either side of the half.
    const bool negative = hits < 0;
    const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(hits)
                                             : static_cast<std::uint64_t>(hits);
    const auto whole = static_cast<std::uint64_t>(total);
    // Split off the whole multiples first, so that nothing overflows for any
    // grid that fits in memory.
    const std::uint64_t tenths =
        magnitude / whole * 1000 + (magnitude % whole * 2000 + whole) / (2 * whole);
    return negative ? -static_cast<std::int64_t>(tenths) : static_cast<std::int64_t>(tenths);
}

std::string formatShare(std::int64_t hits, std::int64_t total, std::string_view decimalSeparator) {
    if (total <= 0) return {};
    const std::int64_t tenths = shareTenths(hits, total);
    const std::uint64_t magnitude = tenths < 0
                                        ? std::uint64_t{0} - static_cast<std::uint64_t>(tenths)
                                        : static_cast<std::uint64_t>(tenths);
    std::string out;
    if (tenths < 0) out += '-';
    out += std::to_string(magnitude / 10);
    out += decimalSeparator;
    out += static_cast<char>('0' + static_cast<int>(magnitude % 10));
    out += '%';
    return out;
}

Statistics buildStatistics(const lookup::CountryTable& table, std::int64_t addresses,
                           std::chrono::nanoseconds elapsed, std::string_view decimalSeparator) {
    Statistics stats;
    stats.total = addresses < 0 ? 0 : addresses;
    stats.elapsed = elapsed;
    for (int slot = 0; slot < table.slotCount(); ++slot) {
        const std::int64_t hits = table.slotHits(slot);
        if (hits <= 0) continue;
        StatsRow row;
        row.slot = slot;
        row.name = lookup::windows1252ToUtf8(table.slotName(slot));
        row.hits = hits;
        row.shareTenths = stats.total > 0 ? shareTenths(hits, stats.total) : 0;
        row.count = std::to_string(hits);
        row.share = formatShare(hits, stats.total, decimalSeparator);
        stats.rows.push_back(std::move(row));
    }
    return stats;
}

}  // namespace ipcountry::analysis
