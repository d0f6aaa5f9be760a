// A database written from random ranges of both families and records, opened
// by libmaxminddb: it must open, and every range must answer its own record
// at its first and last address and in between, the address after it the
// next range's record or none, and IPv4 the same through ::ffff:0:0/96.
#include <arpa/inet.h>
#include <maxminddb.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "mmdb_writer.h"

namespace {

namespace mmdb = ipcountry::data::mmdb;
using ipcountry::lookup::Address6;

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    std::uint64_t take(int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | (m_at < m_size ? m_data[m_at++] : 0);
        return v;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size, m_at = 0;
};

__extension__ typedef unsigned __int128 Wide;

Address6 toAddress6(Wide n) {
    return {static_cast<std::uint64_t>(n >> 64), static_cast<std::uint64_t>(n)};
}

// Ranges whose gaps and widths come from the input: small numbers shifted to
// any bit, less one or not, so that block borders and their neighbours occur,
// and ranges that touch.
template <class Address>
std::vector<mmdb::RecordRange<Address>> ranges(Bytes& in, std::uint32_t records, int count) {
    constexpr int kBits = sizeof(Address) == 4 ? 32 : 128;
    constexpr Wide kTop = kBits == 32 ? Wide{0xFFFFFFFFu} : ~Wide{0};
    std::vector<mmdb::RecordRange<Address>> out;
    Wide next = 0;  // the lowest address the next range may start at
    for (int i = 0; i < count && !in.empty(); ++i) {
        const int gapShift = static_cast<int>(in.take(1) % kBits);
        const int widthShift = static_cast<int>(in.take(1) % kBits);
        const Wide gap = Wide{in.take(1)} << gapShift, width = Wide{in.take(1)} << widthShift;
        if (gap > kTop - next) break;
        const Wide first = next + gap;
        Wide last = width > kTop - first ? kTop : first + width;
        if (last > first && in.take(1) % 2) --last;
        Address a{}, b{};
        if constexpr (kBits == 32) {
            a = static_cast<std::uint32_t>(first);
            b = static_cast<std::uint32_t>(last);
        } else {
            a = toAddress6(first);
            b = toAddress6(last);
        }
        out.push_back({a, b, static_cast<std::uint32_t>(in.take(1) % records)});
        if (last == kTop) break;
        next = last + 1;
    }
    return out;
}

std::optional<std::string> answer(MMDB_s& db, const sockaddr* address) {
    int error = 0;
    MMDB_lookup_result_s result = MMDB_lookup_sockaddr(&db, address, &error);
    if (error != MMDB_SUCCESS) std::abort();
    if (!result.found_entry) return std::nullopt;
    MMDB_entry_data_s data;
    if (MMDB_get_value(&result.entry, &data, "r", nullptr) != MMDB_SUCCESS || !data.has_data ||
        data.type != MMDB_DATA_TYPE_UTF8_STRING)
        std::abort();
    return std::string(data.utf8_string, data.data_size);
}

std::optional<std::string> answer4(MMDB_s& db, std::uint32_t a, bool mapped) {
    if (!mapped) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(a);
        return answer(db, reinterpret_cast<const sockaddr*>(&in));
    }
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_addr.s6_addr[10] = in6.sin6_addr.s6_addr[11] = 0xFF;
    for (int i = 0; i < 4; ++i)
        in6.sin6_addr.s6_addr[12 + i] = static_cast<std::uint8_t>(a >> (24 - 8 * i));
    return answer(db, reinterpret_cast<const sockaddr*>(&in6));
}

std::optional<std::string> answer6(MMDB_s& db, Address6 a) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    a.toBytes(in6.sin6_addr.s6_addr);
    return answer(db, reinterpret_cast<const sockaddr*>(&in6));
}

bool ipv4Place(Address6 a) {
    return (a.high == 0 && (a.low >> 32 == 0 || a.low >> 32 == 0xFFFF)) || a.high >> 48 == 0x2002;
}

template <class Range, class Address>
std::optional<std::string> expected(const std::vector<Range>& ranges, Address a) {
    for (const auto& r : ranges)
        if (r.first <= a && a <= r.last) return "r" + std::to_string(r.record);
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    const auto records = static_cast<std::uint32_t>(1 + in.take(1) % 16);
    mmdb::Database db;
    db.metadata.databaseType = "fuzz";
    db.metadata.buildEpoch = 1;
    for (std::uint32_t i = 0; i < records; ++i)
        db.records.push_back(
            mmdb::Value::mapOf({{"r", mmdb::Value::string("r" + std::to_string(i))}}));
    db.ipv4 = ranges<std::uint32_t>(in, records, static_cast<int>(in.take(1) % 40));
    db.ipv6 = ranges<Address6>(in, records, 40);
    const std::string bytes = mmdb::writeDatabase(db);

    const int fd = ::memfd_create("fuzz.mmdb", 0);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    MMDB_s opened;
    if (MMDB_open(path.c_str(), MMDB_MODE_MMAP, &opened) != MMDB_SUCCESS) std::abort();
    for (const auto& r : db.ipv4) {
        std::uint32_t after = r.last + 1, before = r.first - 1;
        for (const std::uint32_t a :
             {r.first, r.last, r.first + (r.last - r.first) / 2, after, before})
            for (const bool mapped : {false, true})
                if (answer4(opened, a, mapped) != expected(db.ipv4, a)) std::abort();
    }
    for (const auto& r : db.ipv6) {
        Address6 after = r.last, before = r.first;
        ++after;
        --before;
        for (const Address6 a : {r.first, r.last, after, before})
            if (!ipv4Place(a) && answer6(opened, a) != expected(db.ipv6, a)) std::abort();
    }
    MMDB_close(&opened);
    ::close(fd);
    return 0;
}
