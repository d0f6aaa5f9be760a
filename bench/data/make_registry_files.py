#!/usr/bin/env python3
"""Writes the five registries' delegated-extended files with their .md5 files.

usage: make_registry_files.py FOLDER [RECORDS]
RECORDS (default 200000) are shared among the registries about as the real
files share them (RIPE NCC the most, AFRINIC the fewest): IPv4 records of
varied sizes (not all powers of two), IPv6 prefixes, asn records, available
and reserved space, each file with its version and summary lines.
"""
import hashlib
import ipaddress
import os
import random
import sys

SHARES = {"ripencc": 0.40, "apnic": 0.22, "arin": 0.20, "lacnic": 0.12, "afrinic": 0.06}
COUNTRIES = ["DE", "FR", "GB", "NL", "JP", "CN", "AU", "US", "CA", "BR", "AR", "ZA", "NG",
             "IN", "KR", "IT", "ES", "SE", "PL", "MX"]


def write(folder, registry, records, index, rng):
    lines = []
    v4 = v6 = asn = 0
    # Each registry its own part of the address space, ranges rising.
    address = (index * 40 + 1) << 24
    prefix6 = ipaddress.IPv6Address("2001:%x00::" % (index + 1))
    six = int(prefix6)
    for n in range(records):
        kind = rng.random()
        cc = rng.choice(COUNTRIES)
        if kind < 0.70:
            size = rng.choice([256, 512, 1024, 768, 4096, 2048, 65536, 1000, 8192])
            status = "allocated" if rng.random() < 0.9 else rng.choice(["available", "reserved"])
            code = cc if status == "allocated" else ""
            lines.append("%s|%s|ipv4|%s|%d|20100101|%s|X%d" % (
                registry, code, ipaddress.IPv4Address(address), size, status, n))
            address += size + rng.choice([0, 0, 256])
            v4 += 1
        elif kind < 0.85:
            lines.append("%s|%s|ipv6|%s|32|20120101|allocated|X%d" % (
                registry, cc, ipaddress.IPv6Address(six), n))
            six += 1 << 96
            v6 += 1
        else:
            lines.append("%s|%s|asn|%d|1|20050101|assigned|X%d" % (registry, cc, 10000 + n, n))
            asn += 1
    head = ["2|%s|20261207|%d|19830101|20261207|+0000" % (registry, records),
            "%s|*|asn|*|%d|summary" % (registry, asn),
            "%s|*|ipv4|*|%d|summary" % (registry, v4),
            "%s|*|ipv6|*|%d|summary" % (registry, v6)]
    text = ("\n".join(head + lines) + "\n").encode()
    with open(os.path.join(folder, registry), "wb") as f:
        f.write(text)
    with open(os.path.join(folder, registry + ".md5"), "w") as f:
        f.write("MD5 (%s) = %s\n" % (registry, hashlib.md5(text).hexdigest()))


def main():
    folder = sys.argv[1]
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(30)
    for index, (registry, share) in enumerate(sorted(SHARES.items())):
        write(folder, registry, int(total * share), index, rng)


if __name__ == "__main__":
    main()
