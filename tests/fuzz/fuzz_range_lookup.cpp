// A random range file (before the first NUL) and keys (8 bytes each after it):
// the index and the sequential reference scan answer alike.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "lookup/address_key.h"
#include "lookup/range_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string_view content = input.substr(0, split);
    const auto index = RangeIndex::fromContent(content);
    const auto lines = splitRangeLines(content);
    std::string_view keys = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    // The starts of the file are the interesting keys, and their neighbours.
    for (const auto& line : lines) {
        if (const auto a = keyToAddress(line.substr(0, 8))) {
            for (std::uint32_t address : {*a, *a - 1, *a + 1}) {
                const auto key = addressToKey(address);
                if (index.findCountryCode(key) != findCountryCodeSequential(lines, key)) std::abort();
                if (index.findCountryCode(address) != findCountryCodeSequential(lines, key)) std::abort();
            }
        }
    }
    while (keys.size() >= 8) {
        const std::string key(keys.substr(0, 8));
        keys.remove_prefix(8);
        if (index.findCountryCode(key) != findCountryCodeSequential(lines, key)) std::abort();
    }
    return 0;
}
