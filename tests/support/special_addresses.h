// The addresses that no country holds, written out by hand from the IANA
// special-purpose address registries (IPv4 and IPv6) and the multicast
// spaces: the first, a middle and the last address of each block that is not
// globally reachable, the globally reachable rows inside them, and the
// neighbours just outside. One table for every path an address takes (the
// converter, the driver's find, both analyses, the window's Find); it shares
// nothing with lookup/special_blocks.cpp, which it checks.
#pragma once

#include <string>
#include <vector>

namespace ipcountry::test {

struct SpecialAddress {
    const char* address;
    const char* block;  // the registry row, for messages
    // false: no country, whatever the source says; true: the source's
    // country stands (a globally reachable row, or outside every block).
    bool keepsCountry;
    // The word the program gives an address without a country (private,
    // loopback, ...); nullptr where the source's country stands.
    const char* reason;
};

inline constexpr SpecialAddress kSpecialAddresses4[] = {
    {"0.0.0.0", "0.0.0.0/8 this network", false, "reserved"},
    {"0.128.0.1", "0.0.0.0/8 this network", false, "reserved"},
    {"0.255.255.255", "0.0.0.0/8 this network", false, "reserved"},
    {"1.0.0.0", "outside, after 0.0.0.0/8", true, nullptr},
    {"9.255.255.255", "outside, before 10.0.0.0/8", true, nullptr},
    {"10.0.0.0", "10.0.0.0/8 private-use", false, "private"},
    {"10.128.7.1", "10.0.0.0/8 private-use", false, "private"},
    {"10.255.255.255", "10.0.0.0/8 private-use", false, "private"},
    {"11.0.0.0", "outside, after 10.0.0.0/8", true, nullptr},
    {"100.63.255.255", "outside, before 100.64.0.0/10", true, nullptr},
    {"100.64.0.0", "100.64.0.0/10 shared address space", false, "shared"},
    {"100.100.100.100", "100.64.0.0/10 shared address space", false, "shared"},
    {"100.127.255.255", "100.64.0.0/10 shared address space", false, "shared"},
    {"100.128.0.0", "outside, after 100.64.0.0/10", true, nullptr},
    {"127.0.0.0", "127.0.0.0/8 loopback", false, "loopback"},
    {"127.0.0.1", "127.0.0.0/8 loopback", false, "loopback"},
    {"127.255.255.255", "127.0.0.0/8 loopback", false, "loopback"},
    {"169.254.0.0", "169.254.0.0/16 link local", false, "link-local"},
    {"169.254.169.254", "169.254.0.0/16 link local", false, "link-local"},
    {"169.254.255.255", "169.254.0.0/16 link local", false, "link-local"},
    {"172.15.255.255", "outside, before 172.16.0.0/12", true, nullptr},
    {"172.16.0.0", "172.16.0.0/12 private-use", false, "private"},
    {"172.24.1.1", "172.16.0.0/12 private-use", false, "private"},
    {"172.31.255.255", "172.16.0.0/12 private-use", false, "private"},
    {"172.32.0.0", "outside, after 172.16.0.0/12", true, nullptr},
    {"192.0.0.0", "192.0.0.0/24 IETF protocol assignments", false, "reserved"},
    {"192.0.0.8", "192.0.0.8/32 dummy address", false, "reserved"},
    {"192.0.0.9", "192.0.0.9/32 PCP anycast, globally reachable", true, nullptr},
    {"192.0.0.10", "192.0.0.10/32 TURN anycast, globally reachable", true, nullptr},
    {"192.0.0.11", "192.0.0.0/24 IETF protocol assignments", false, "reserved"},
    {"192.0.0.170", "192.0.0.170/32 NAT64 discovery", false, "reserved"},
    {"192.0.0.255", "192.0.0.0/24 IETF protocol assignments", false, "reserved"},
    {"192.0.1.0", "outside, after 192.0.0.0/24", true, nullptr},
    {"192.0.2.0", "192.0.2.0/24 TEST-NET-1", false, "documentation"},
    {"192.0.2.128", "192.0.2.0/24 TEST-NET-1", false, "documentation"},
    {"192.0.2.255", "192.0.2.0/24 TEST-NET-1", false, "documentation"},
    {"192.31.196.1", "192.31.196.0/24 AS112, globally reachable", true, nullptr},
    {"192.52.193.1", "192.52.193.0/24 AMT, globally reachable", true, nullptr},
    {"192.88.99.1", "192.88.99.0/24 6to4 relay, deprecated, N/A", true, nullptr},
    {"192.167.255.255", "outside, before 192.168.0.0/16", true, nullptr},
    {"192.168.0.0", "192.168.0.0/16 private-use", false, "private"},
    {"192.168.1.1", "192.168.0.0/16 private-use", false, "private"},
    {"192.168.255.255", "192.168.0.0/16 private-use", false, "private"},
    {"192.169.0.0", "outside, after 192.168.0.0/16", true, nullptr},
    {"192.175.48.1", "192.175.48.0/24 AS112 delegation, globally reachable", true, nullptr},
    {"198.17.255.255", "outside, before 198.18.0.0/15", true, nullptr},
    {"198.18.0.0", "198.18.0.0/15 benchmarking", false, "reserved"},
    {"198.19.0.1", "198.18.0.0/15 benchmarking", false, "reserved"},
    {"198.19.255.255", "198.18.0.0/15 benchmarking", false, "reserved"},
    {"198.20.0.0", "outside, after 198.18.0.0/15", true, nullptr},
    {"198.51.100.0", "198.51.100.0/24 TEST-NET-2", false, "documentation"},
    {"198.51.100.128", "198.51.100.0/24 TEST-NET-2", false, "documentation"},
    {"198.51.100.255", "198.51.100.0/24 TEST-NET-2", false, "documentation"},
    {"203.0.113.0", "203.0.113.0/24 TEST-NET-3", false, "documentation"},
    {"203.0.113.128", "203.0.113.0/24 TEST-NET-3", false, "documentation"},
    {"203.0.113.255", "203.0.113.0/24 TEST-NET-3", false, "documentation"},
    {"203.0.114.0", "outside, after 203.0.113.0/24", true, nullptr},
    {"223.255.255.255", "outside, before 224.0.0.0/4", true, nullptr},
    {"224.0.0.0", "224.0.0.0/4 multicast", false, "multicast"},
    {"232.1.2.3", "224.0.0.0/4 multicast", false, "multicast"},
    {"239.255.255.255", "224.0.0.0/4 multicast", false, "multicast"},
    {"240.0.0.0", "240.0.0.0/4 reserved", false, "reserved"},
    {"248.0.0.1", "240.0.0.0/4 reserved", false, "reserved"},
    {"255.255.255.254", "240.0.0.0/4 reserved", false, "reserved"},
    {"255.255.255.255", "255.255.255.255/32 limited broadcast", false, "reserved"},
};

inline constexpr SpecialAddress kSpecialAddresses6[] = {
    {"::", "::/128 unspecified", false, "reserved"},
    {"::1", "::1/128 loopback", false, "loopback"},
    {"::2", "outside, after ::1/128", true, nullptr},
    {"64:ff9b:1::", "64:ff9b:1::/48 local-use translation", false, "reserved"},
    {"64:ff9b:1:8000::1", "64:ff9b:1::/48 local-use translation", false, "reserved"},
    {"64:ff9b:1:ffff:ffff:ffff:ffff:ffff", "64:ff9b:1::/48 local-use translation", false,
     "reserved"},
    {"100::", "100::/64 discard-only", false, "reserved"},
    {"100::8000:0:0:1", "100::/64 discard-only", false, "reserved"},
    {"100:0:0:1:ffff:ffff:ffff:ffff", "100:0:0:1::/64 dummy prefix", false, "reserved"},
    {"100:0:0:2::", "outside, after 100:0:0:1::/64", true, nullptr},
    {"2001::", "2001::/23 IETF protocol assignments (TEREDO)", false, "reserved"},
    {"2001:0:8000::1", "2001::/32 TEREDO, N/A, inside 2001::/23", false, "reserved"},
    {"2001:1::1", "2001:1::1/128 PCP anycast, globally reachable", true, nullptr},
    {"2001:1::2", "2001:1::2/128 TURN anycast, globally reachable", true, nullptr},
    {"2001:1::4", "2001::/23 IETF protocol assignments", false, "reserved"},
    {"2001:2::", "2001:2::/48 benchmarking", false, "reserved"},
    {"2001:2:0:ffff:ffff:ffff:ffff:ffff", "2001:2::/48 benchmarking", false, "reserved"},
    {"2001:3::1", "2001:3::/32 AMT, globally reachable", true, nullptr},
    {"2001:4:112::1", "2001:4:112::/48 AS112-v6, globally reachable", true, nullptr},
    {"2001:10::1", "2001:10::/28 ORCHID, N/A, inside 2001::/23", false, "reserved"},
    {"2001:20::1", "2001:20::/28 ORCHIDv2, globally reachable", true, nullptr},
    {"2001:30::1", "2001:30::/28 DET prefix, globally reachable", true, nullptr},
    {"2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", "2001::/23 IETF protocol assignments", false,
     "reserved"},
    {"2001:200::", "outside, after 2001::/23", true, nullptr},
    {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", "outside, before 2001:db8::/32", true, nullptr},
    {"2001:db8::", "2001:db8::/32 documentation", false, "documentation"},
    {"2001:db8:8000::1", "2001:db8::/32 documentation", false, "documentation"},
    {"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "2001:db8::/32 documentation", false,
     "documentation"},
    {"2001:db9::", "outside, after 2001:db8::/32", true, nullptr},
    {"2002::1", "2002::/16 6to4, N/A", true, nullptr},
    {"2620:4f:8000::1", "2620:4f:8000::/48 AS112 delegation, globally reachable", true, nullptr},
    {"3ffe:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "outside, before 3fff::/20", true, nullptr},
    {"3fff::", "3fff::/20 documentation", false, "documentation"},
    {"3fff:800::1", "3fff::/20 documentation", false, "documentation"},
    {"3fff:fff:ffff:ffff:ffff:ffff:ffff:ffff", "3fff::/20 documentation", false, "documentation"},
    {"3fff:1000::", "outside, after 3fff::/20", true, nullptr},
    {"5f00::", "5f00::/16 SRv6 SIDs", false, "reserved"},
    {"5f00:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "5f00::/16 SRv6 SIDs", false, "reserved"},
    {"fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "outside, before fc00::/7", true, nullptr},
    {"fc00::", "fc00::/7 unique-local", false, "private"},
    {"fd12:3456:789a::1", "fc00::/7 unique-local", false, "private"},
    {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fc00::/7 unique-local", false, "private"},
    {"fe80::", "fe80::/10 link-local", false, "link-local"},
    {"fe80::1", "fe80::/10 link-local", false, "link-local"},
    {"febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe80::/10 link-local", false, "link-local"},
    {"fec0::1", "outside, after fe80::/10 (site-local, deprecated)", true, nullptr},
    {"2a00:1450::1", "outside every block", true, nullptr},
    {"ff00::", "ff00::/8 multicast", false, "multicast"},
    {"ff02::1", "ff00::/8 multicast", false, "multicast"},
    {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ff00::/8 multicast", false, "multicast"},
};

// Every address of the table as a person or a log may write it: the IPv4
// ones also IPv4-mapped (::ffff:a.b.c.d) and behind the NAT64 well-known
// prefix (64:ff9b::a.b.c.d), which carry the same IPv4 address and so the
// same answer.
struct SpecialAddressForm {
    std::string text;
    const SpecialAddress* row;
    bool ipv6Text;
};

inline std::vector<SpecialAddressForm> specialAddressForms() {
    std::vector<SpecialAddressForm> forms;
    for (const SpecialAddress& row : kSpecialAddresses4) {
        forms.push_back({row.address, &row, false});
        forms.push_back({std::string("::ffff:") + row.address, &row, true});
        forms.push_back({std::string("64:ff9b::") + row.address, &row, true});
    }
    for (const SpecialAddress& row : kSpecialAddresses6) forms.push_back({row.address, &row, true});
    return forms;
}

}  // namespace ipcountry::test
