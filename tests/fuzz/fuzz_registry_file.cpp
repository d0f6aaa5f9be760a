// Any registry statistics file: ranges that make sense or a SourceError, never anything else.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "registry_file.h"

namespace {

bool isCode(const std::string& code) {
    return code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= 'A' && code[1] <= 'Z';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::data;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const RegistryFile file = parseRegistryFile(in);
        if (file.ipv4.size() + file.ipv6.size() > file.records) std::abort();
        for (const auto& r : file.ipv4)
            if (r.last < r.first || !isCode(r.code) || r.code == kUnknownCode) std::abort();
        for (const auto& r : file.ipv6)
            if (r.last < r.first || !isCode(r.code) || r.code == kUnknownCode) std::abort();
    } catch (const SourceError&) {
    }
    return 0;
}
