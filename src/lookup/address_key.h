#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ipcountry::lookup {

// The key of an IPv4 address: 8 upper-case hex digits, two per octet, most
// significant first. Text order of keys equals numeric order of addresses.
inline constexpr std::size_t kAddressKeyLength = 8;

// Walks the dots of `text` (nothing trimmed) and writes each of the four
// octets as hex. Always returns a text; the caller accepts it only when it is
// exactly 8 characters long (an octet above 255 makes it longer).
// Throws Error(TypeMismatch) for an empty or non-numeric octet and
// Error(InvalidArgument) when fewer than three dots are present.
std::string makeAddressKey(std::string_view text);

// The numeric address of a valid key; nullopt for anything else.
std::optional<std::uint32_t> keyToAddress(std::string_view key) noexcept;

// The key of a numeric address.
std::string addressToKey(std::uint32_t address);

}  // namespace ipcountry::lookup
