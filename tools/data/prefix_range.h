#pragma once

#include <cstdint>

#include "lookup/address6.h"

namespace ipcountry::data {

// The addresses a prefix of `length` bits leaves free, as a mask over the
// 128-bit address (all ones for length 0, none for 128).
inline lookup::Address6 hostMask(unsigned length) {
    const unsigned host = 128 - length;
    const std::uint64_t all = ~std::uint64_t{0};
    return {host <= 64    ? 0
            : host == 128 ? all
                          : (std::uint64_t{1} << (host - 64)) - 1,
            host >= 64 ? all : (std::uint64_t{1} << host) - 1};
}

}  // namespace ipcountry::data
