// A random range file (before the first NUL) and keys after it: the index and
// the sequential reference scan answer alike, read both as IP_db.dbf (keys of
// 8 bytes) and as IP6_db.dbf (keys of 32 bytes).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "lookup/range_file.h"

namespace {

using namespace ipcountry::lookup;

template <class Family>
void check(std::string_view content, std::string_view keys) {
    const auto index = BasicRangeIndex<Family>::fromContent(content);
    const auto lines = splitRangeLines(content);
    auto same = [&](const std::string& key) {
        const auto expected = findCountryCodeSequential(lines, key, Family::kKeyLength);
        if (const auto address = Family::fromKey(key)) {
            if (index.findCountryCode(*address) != expected) std::abort();
        }
    };
    // The starts of the file are the interesting keys, and their neighbours.
    for (const auto& line : lines) {
        if (const auto a = Family::fromKey(line.substr(0, Family::kKeyLength))) {
            auto below = *a;
            auto above = *a;
            --below;
            ++above;
            for (const auto& address : {*a, below, above}) same(Family::toKey(address));
        }
    }
    while (keys.size() >= Family::kKeyLength) {
        same(std::string(keys.substr(0, Family::kKeyLength)));
        keys.remove_prefix(Family::kKeyLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string_view content = input.substr(0, split);
    const std::string_view keys =
        split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    check<Ipv4Ranges>(content, keys);
    check<Ipv6Ranges>(content, keys);
    return 0;
}
