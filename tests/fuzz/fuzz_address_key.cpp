// makeAddressKey on any text: either an error of the two documented kinds or
// a key; a key of 8 characters is always a well-formed one.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lookup/address_key.h"
#include "lookup/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto key = makeAddressKey(text);
        if (key.size() == kAddressKeyLength && !keyToAddress(key)) std::abort();
        if (key.size() < kAddressKeyLength) std::abort();  // four octets of at least two digits
    } catch (const Error& e) {
        if (e.kind() != ErrorKind::TypeMismatch && e.kind() != ErrorKind::InvalidArgument)
            std::abort();
    }
    return 0;
}
