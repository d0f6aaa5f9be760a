// Any bytes as a networks file (asn.bin): refused with a lookup::Error that
// names the file and says why, or read; then every lookup stays inside the
// file's parts, the batched lookups answer as the single ones, and an AS
// number's ranges hold only addresses that name it.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/as_file.h"
#include "lookup/error.h"

namespace {

using namespace ipcountry::lookup;

std::uint32_t wordAt(std::string_view bytes, std::size_t at) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i)
        word = word << 8 | static_cast<unsigned char>(bytes[(at + i) % bytes.size()]);
    return word;
}

void check(const AsFile& file, std::string_view bytes) {
    // Addresses drawn from the input itself, with the borders of both families.
    std::vector<std::uint32_t> addresses4 = {0, 1, 0x7fffffff, 0x80000000, 0xfffffffe, 0xffffffff};
    std::vector<Address6> addresses6 = {Address6{}, Address6::max()};
    for (std::size_t at = 0; at + 4 <= bytes.size() && addresses4.size() < 64; at += 4) {
        addresses4.push_back(wordAt(bytes, at));
        std::array<unsigned char, 16> raw{};
        for (std::size_t i = 0; i < raw.size(); ++i)
            raw[i] = static_cast<unsigned char>(bytes[(at + i) % bytes.size()]);
        addresses6.push_back(Address6::fromBytes(raw.data()));
    }
    std::vector<std::uint32_t> places(addresses4.size());
    file.placesOf(addresses4, places);
    for (std::size_t i = 0; i < addresses4.size(); ++i) {
        if (places[i] != file.placeOf(addresses4[i]) || places[i] > file.places()) std::abort();
        const auto found = file.find(addresses4[i]);
        if (found.has_value() != (places[i] != 0)) std::abort();
        if (found) {
            if (found->number != file.network(places[i])->number) std::abort();
            // The network's ranges hold the address.
            bool held = false;
            for (const Network& range : file.rangesOf(found->number))
                held |=
                    !range.ipv6 && range.first4 <= addresses4[i] && addresses4[i] <= range.last4;
            if (!held) std::abort();
        }
    }
    std::vector<std::uint32_t> places6(addresses6.size());
    file.placesOf(addresses6, places6);
    for (std::size_t i = 0; i < addresses6.size(); ++i) {
        if (places6[i] != file.placeOf(addresses6[i]) || places6[i] > file.places()) std::abort();
        if (file.find(addresses6[i]).has_value() != (places6[i] != 0)) std::abort();
    }
    if (file.network(0) || file.network(file.places() + 1)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("ipcountry-fuzz-asn-" + std::to_string(::getpid()) + ".bin");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    try {
        const AsFile file(path.string());
        check(file, bytes);
    } catch (const Error& error) {
        // Refused: the message names the file and says what is wrong.
        const std::string what = error.what();
        if (what.find(path.string()) == std::string::npos || errorReason(error).empty())
            std::abort();
    }
    return 0;
}
