#!/usr/bin/python3
"""The updater's networks (--asn, --asn-only) against a reference of its own.

Usage: update_networks_test.py UPDATER DRIVER DATA_DIR WRITE_ASN_MMDB

Networks drawn here (nested ranges, ranges over special-purpose blocks,
operators with quotes, commas and non-ASCII letters) are written as
iptoasn's TSV, as a CSV of address text and, by Debian's Perl writer, as
MaxMind DB ASN databases in two trees (an IPv6 tree whose IPv4 space is
aliased, as GeoLite2-ASN; an IPv4 tree); each is installed with --asn-only
and `find --asn -` must answer every range's start, end and middle, and the
addresses either side, as the reference does: the narrowest range that holds
the address, none in a special-purpose block. Then:
- --asn-only leaves the country files as they were, byte for byte;
- an update of the countries alone keeps the networks;
- damaged sources leave every installed file as it was, and say why.
"""
import csv
import hashlib
import ipaddress
import os
import random
import shutil
import subprocess
import sys
import tempfile

# Taken from the registries' text, not from the program's list.
SPECIAL = [ipaddress.ip_network(n) for n in (
    "0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "127.0.0.0/8", "169.254.0.0/16",
    "172.16.0.0/12", "192.0.2.0/24", "192.168.0.0/16", "198.18.0.0/15",
    "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/4", "240.0.0.0/4",
    "::/128", "::1/128", "fc00::/7", "fe80::/10", "2001:db8::/32", "ff00::/8")]
NAMES = ["Cloudflare, Inc.", 'Say "hello" & co', "Telefónica Germany", "Ōkami ネット",
         "Plain Networks"]


def draw(rng, family, count):
    """(first, last, number) ranges, some nested in others, some over special blocks."""
    low = int(ipaddress.ip_address("1.0.0.0" if family == 4 else "2400::"))
    span = 1 << (20 if family == 4 else 90)
    ranges = []
    cursor = low
    for _ in range(count):
        cursor += rng.choice([0, rng.randrange(1, span)])
        size = rng.choice([1, 256, rng.randrange(1, span)])
        ranges.append((cursor, cursor + size - 1, rng.randrange(1, 70000)))
        if rng.random() < 0.15 and size > 4:
            inner = rng.randrange(cursor + 1, cursor + size - 1)
            ranges.append((inner, rng.randrange(inner, cursor + size), rng.randrange(1, 70000)))
        cursor += size
    for net in SPECIAL:
        if net.version == family:
            ranges.append((int(net.network_address), int(net.broadcast_address), 64501))
    return ranges


def cidrs(first, last, family):
    kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
    return ipaddress.summarize_address_range(kind(first), kind(last))


def reference(ranges, value, family):
    """The narrowest range holding `value`; None in a special-purpose block."""
    address = ipaddress.ip_address(value) if family == 4 else ipaddress.IPv6Address(value)
    if any(address in n for n in SPECIAL):
        return None
    holding = [r for r in ranges if r[0] <= value <= r[1]]
    return min(holding, key=lambda r: r[1] - r[0])[2] if holding else None


def run(args, **kw):
    return subprocess.run(args, capture_output=True, timeout=600, **kw)


def files_of(folder):
    """Every file the programs read, by the bytes they read through the links."""
    out = {}
    for name in ("IP_db.dbf", "IP6_db.dbf", "asn.bin", "provenance.txt"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


def find(driver, folder, addresses):
    result = run([driver, "find", "--asn", "--data-dir", folder, "-"],
                 input="\n".join(addresses).encode() + b"\n")
    answers = []
    for line in result.stdout.decode().split("\n")[:-1]:
        fields = line.split("\t")
        answers.append(int(fields[3][2:]) if len(fields) > 3 and fields[3] else None)
    return answers


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    updater, driver, data_dir, write_mmdb = sys.argv[1:]
    rng = random.Random(4)
    v4, v6 = draw(rng, 4, 400), draw(rng, 6, 150)
    names = {}
    for r in v4 + v6:
        names.setdefault(r[2], rng.choice(NAMES) + f" {r[2]}")
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "data")
        os.mkdir(folder)
        shutil.copy(os.path.join(data_dir, "Country.dbf"), folder)
        countries = os.path.join(work, "countries.csv")
        with open(countries, "w") as f:
            f.write("1.0.0.0,9.255.255.255,DE\n2400::,2600::,FR\n")
        result = run([updater, "--data-dir", folder, "--date", "2026-01-01", countries])
        if result.returncode != 0:
            sys.exit(f"country update: {result.stderr.decode()}")
        country_files = {k: v for k, v in files_of(folder).items() if k.endswith(".dbf")}

        sources = {}
        tsv = os.path.join(work, "ip2asn-combined.tsv")
        with open(tsv, "w", encoding="utf-8") as f:
            for family, ranges in ((4, v4), (6, v6)):
                kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
                for first, last, number in ranges:
                    f.write(f"{kind(first)}\t{kind(last)}\t{number}\tUS\t{names[number]}\n")
            # Nobody announces this range: no network.
            f.write("9.9.9.0\t9.9.9.255\t0\tNone\tNot routed\n")
        sources["ip2asn tsv"] = tsv
        text_csv = os.path.join(work, "asn.csv")
        with open(text_csv, "w", encoding="utf-8", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            for family, ranges in ((4, v4), (6, v6)):
                kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
                for first, last, number in ranges:
                    w.writerow([kind(first), kind(last), number, names[number]])
        sources["csv"] = text_csv
        # The Perl writer lays a later range over an earlier one: the widest first.
        for label, version, alias in (("GeoLite2-ASN", 6, 1), ("DBIP-ASN-Lite", 4, 0)):
            lines = []
            for family, ranges in ((4, v4), (6, v6)):
                if family == 6 and version == 4:
                    continue
                for first, last, number in sorted(ranges, key=lambda r: r[0] - r[1]):
                    for net in cidrs(first, last, family):
                        lines.append(f"{net.network_address} {net.broadcast_address} {number} "
                                     f"{names[number]}\n")
            path = os.path.join(work, label + ".mmdb")
            result = run([write_mmdb, path, label, str(version), str(alias)],
                         input="".join(lines).encode())
            if result.returncode != 0:
                print(f"{label}: the Perl writer failed: {result.stderr.decode()[:300]}")
                return 77
            sources[label] = path

        probes = {}
        for family, ranges in ((4, v4), (6, v6)):
            top = 2**32 - 1 if family == 4 else 2**128 - 1
            values = sorted({v for a, b, _ in ranges for v in (a - 1, a, (a + b) // 2, b, b + 1)
                             if 0 <= v <= top})
            probes[family] = values
        for label, path in sources.items():
            result = run([updater, "--data-dir", folder, "--allow-older", "--asn-only", "--asn",
                          path])
            if result.returncode != 0:
                failures += 1
                print(f"{label}: --asn-only ended with {result.returncode}: "
                      f"{result.stderr.decode()[:300]}")
                continue
            for family, ranges in ((4, v4), (6, v6)):
                if family == 6 and label == "DBIP-ASN-Lite":
                    continue
                kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
                values = probes[family]
                got = find(driver, folder, [str(kind(v)) for v in values])
                want = [reference(ranges, v, family) for v in values]
                apart = [(str(kind(v)), g, w) for v, g, w in zip(values, got, want) if g != w]
                if apart or len(got) != len(want):
                    failures += 1
                    print(f"{label}: IPv{family}: {len(apart)} of {len(values)} apart: "
                          f"{apart[:3]}")
            now = files_of(folder)
            if {k: now[k] for k in country_files} != country_files:
                failures += 1
                print(f"{label}: --asn-only changed the country files")
            print(f"{label}: {sum(len(p) for p in probes.values())} addresses asked")

        # An update of the countries alone keeps the networks it finds.
        before = files_of(folder)
        result = run([updater, "--data-dir", folder, "--date", "2026-02-01", countries])
        after = files_of(folder)
        if result.returncode != 0 or after.get("asn.bin") != before.get("asn.bin"):
            failures += 1
            print(f"country update: the networks were not kept ({result.returncode})")

        # Damaged sources: nothing installed changes, and the reason is told.
        damaged = {
            "cut tsv": "1.0.0.0\t1.0.0.255\t13335\n",
            "reversed range": "1.0.0.9\t1.0.0.1\t13335\tUS\tX\n",
            "no AS number": "1.0.0.0\t1.0.0.255\tAS\tUS\tX\n",
            "bad address": "1.0.0.256\t1.0.1.0\t7\tUS\tX\n",
            "empty": "",
            "csv of numbers": "16777216,16777471,13335,Cloudflare\n",
            "cut mmdb": open(sources["GeoLite2-ASN"], "rb").read()[:300],
        }
        before = files_of(folder)
        for label, content in damaged.items():
            path = os.path.join(work, "damaged")
            with open(path, "wb") as f:
                f.write(content.encode() if isinstance(content, str) else content)
            for options in (["--asn-only"], [countries]):
                result = run([updater, "--data-dir", folder, "--allow-older", *options, "--asn",
                              path])
                told = result.stderr.decode()
                if result.returncode != 1 or "left as it was" not in told or \
                        files_of(folder) != before:
                    failures += 1
                    print(f"damaged {label} {options}: status {result.returncode}, {told[:200]}")
        print(f"damaged: {len(damaged)} sources refused")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
