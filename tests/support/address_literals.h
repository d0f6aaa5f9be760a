#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "lookup/address6.h"

// Addresses written in tests, read by the C library rather than by the
// program's own readers, so that a test does not hold the program to itself.
namespace ipcountry::test {

inline std::uint32_t v4(const char* text) {
    in_addr a{};
    EXPECT_EQ(::inet_pton(AF_INET, text, &a), 1) << text;
    return ntohl(a.s_addr);
}

inline lookup::Address6 v6(const char* text) {
    unsigned char bytes[16] = {};
    EXPECT_EQ(::inet_pton(AF_INET6, text, bytes), 1) << text;
    return lookup::Address6::fromBytes(bytes);
}

}  // namespace ipcountry::test
