// readAddressText on any text: an answer or a short reason, never both; the
// address it answers is one the lookups read the same way, the port one the
// port rule takes, both lying in the text; a formatted line always gets a reason.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lookup/address_text.h"
#include "lookup/error.h"
#include "lookup/ipv6_text.h"

namespace {

bool inside(std::string_view part, std::string_view text) {
    return part.empty() ||
           (part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (formattedLineProblem(text).empty() || formattedLineProblem(text).size() > 80) std::abort();
    const AddressReading reading = readAddressText(text);
    if (reading.reason.size() > 80) std::abort();
    if (!reading.reason.empty()) {
        if (!reading.address.empty() || !reading.port.empty()) std::abort();
        return 0;
    }
    if (reading.address.empty() || !inside(reading.address, text) || !inside(reading.port, text))
        std::abort();
    if (!reading.port.empty() &&
        (reading.port.size() < 2 || reading.port.size() > 6 || reading.port[0] != ':' ||
         reading.port.find_first_not_of("0123456789", 1) != std::string_view::npos))
        std::abort();
    // What the finder then reads: a dotted quad, or IPv6 text.
    if (!readPlainAddress(reading.address) &&
        parseIpv6Text(reading.address).kind == Ipv6Address::Kind::Invalid)
        std::abort();
    try {
        readTypedAddress(reading.address);
    } catch (const Error&) {
        std::abort();
    }
    return 0;
}
