#include "lookup/range_set.h"

#include <arpa/inet.h>

namespace ipcountry::lookup {

std::string addressText(std::uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) text += '.';
        text += std::to_string((address >> shift) & 0xFF);
    }
    return text;
}

std::string addressText(Address6 address) {
    unsigned char bytes[16];
    address.toBytes(bytes);
    char buffer[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, bytes, buffer, sizeof buffer);
    return buffer;
}

}  // namespace ipcountry::lookup
