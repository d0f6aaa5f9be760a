// parseIpv6Text on any text: what it accepts, written back by inet_ntop,
// reads as the same address; an IPv4 answer is the address's last 32 bits.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lookup/ipv6_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    using Kind = Ipv6Address::Kind;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseIpv6Text(text);
    if (parsed.kind == Kind::Invalid) return 0;
    if (parsed.kind == Kind::Ipv4 && parsed.ipv4 != static_cast<std::uint32_t>(parsed.address.low))
        std::abort();
    if (!parsed.zone.empty() && parsed.kind != Kind::LinkLocal) std::abort();
    unsigned char bytes[16];
    parsed.address.toBytes(bytes);
    char written[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, bytes, written, sizeof written)) std::abort();
    const auto again = parseIpv6Text(written);
    if (again.address != parsed.address) std::abort();
    // Only a dotted ::/96 address may change its kind: inet_ntop writes most of them in hex.
    const bool compatible = parsed.address.high == 0 && (parsed.address.low >> 32) == 0;
    if (parsed.zone.empty() && !compatible && again.kind != parsed.kind) std::abort();
    return 0;
}
