// A random range file (before the first NUL), its index saved, then bytes
// after the NUL written over the saved file (each patch: two bytes of offset
// and one of value): the saved index must never read outside itself, and
// when no patch landed it answers as the parsed text does.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "lookup/range_file.h"

namespace {

using namespace ipcountry::lookup;

template <class Family>
void check(std::string_view content, std::string_view patches, const std::filesystem::path& path) {
    const auto parsed = BasicRangeIndex<Family>::fromContent(content);
    if (!parsed.usesIndex()) return;
    const RangeTextStamp stamp{content.size(), 1, 2};
    if (!parsed.saveIndex(path, stamp)) std::abort();
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool patched = false;
    for (; patches.size() >= 3; patches.remove_prefix(3)) {
        const std::size_t at =
            (static_cast<unsigned char>(patches[0]) << 8 | static_cast<unsigned char>(patches[1])) %
            bytes.size();
        patched |= bytes[at] != patches[2];
        bytes[at] = patches[2];
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    SavedIndex found{};
    const auto saved = BasicRangeIndex<Family>::fromSavedIndex(path, stamp, found);
    if (!saved) {
        if (!patched) std::abort();
        return;
    }
    for (const auto& line : splitRangeLines(content)) {
        const auto a = Family::fromKey(line.substr(0, Family::kKeyLength));
        if (!a) continue;
        auto below = *a, above = *a;
        for (const auto& address : {*a, --below, ++above}) {
            const auto answer = saved->findCountryCode(address);
            if (!patched && answer != parsed.findCountryCode(address)) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("ipcountry-fuzz-saved-index-" + std::to_string(::getpid()));
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string_view content = input.substr(0, split);
    const std::string_view patches =
        split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    check<Ipv4Ranges>(content, patches, path);
    check<Ipv6Ranges>(content, patches, path);
    std::filesystem::remove(path);
    return 0;
}
