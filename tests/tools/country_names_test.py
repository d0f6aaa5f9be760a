#!/usr/bin/env python3
"""Every code of the bundled ranges is named and counted by the driver, and
`stats` merges the counts of shards into those of the whole.

Reads IP_db.dbf and IP6_db.dbf itself, takes the first address of one range
of every code, and holds the driver's statistics to the codes it wrote.

Usage: country_names_test.py DRIVER DATA_DIR
"""

import ipaddress
import json
import os
import subprocess
import sys
import tempfile

DRIVER, DATA = sys.argv[1], sys.argv[2]
failures = []


def one_address_per_code():
    addresses = {}
    for name, width in (("IP_db.dbf", 8), ("IP6_db.dbf", 32)):
        with open(os.path.join(DATA, name), encoding="ascii") as f:
            for line in f:
                line = line.rstrip("\r\n")
                code = line[width:]
                if code == "ZZ" or code in addresses:
                    continue
                value = int(line[:width], 16)
                addresses[code] = str(ipaddress.IPv4Address(value) if width == 8
                                      else ipaddress.IPv6Address(value))
    return addresses


def run(*arguments, stdin=None):
    out = subprocess.run([DRIVER, *arguments], capture_output=True, text=True, timeout=300,
                         input=stdin)
    if out.returncode != 0:
        failures.append(f"{arguments} ended with {out.returncode}: {out.stderr}")
    return out.stdout


def statistics(json_lines):
    last = json.loads(json_lines.splitlines()[-1])
    return last["total"], {c["code"]: (c["country"], c["count"]) for c in last["countries"]}


addresses = one_address_per_code()
with tempfile.TemporaryDirectory() as folder:
    log = os.path.join(folder, "log")
    with open(log, "w") as f:
        for code, address in sorted(addresses.items()):
            f.write(f"client {address} port 22\n")
    whole = run("unformatted", "--data-dir", DATA, "--stats", "--format", "json", log)
    total, countries = statistics(whole)
    if total != len(addresses):
        failures.append(f"{total} rows counted, {len(addresses)} addresses written")
    for code in addresses:
        if code not in countries:
            failures.append(f"{code} ({addresses[code]}) has no statistics line")
        elif not countries[code][0] or countries[code][1] != 1:
            failures.append(f"{code}: named {countries[code][0]!r}, counted {countries[code][1]}")
    for code in ("KP", "XK", "EH", "AN"):
        if code in addresses and code not in countries:
            failures.append(f"{code} is not counted")
    # find names them as the analyses do.
    for code, address in sorted(addresses.items()):
        row = run("find", "--data-dir", DATA, address).rstrip("\n").split("\t")
        shown = "USA" if code == "US" else countries.get(code, ("",))[0]
        if row[1:] != [code, shown]:
            failures.append(f"find {address}: {row}, the statistics name {code} "
                            f"{countries.get(code, ('',))[0]!r}")
    # Shards in each format, merged by stats, give the whole's counts.
    codes = sorted(addresses)
    for fmt in ("tsv", "csv", "json"):
        shards = []
        for i in range(3):
            shard = os.path.join(folder, f"shard{i}")
            with open(shard, "w") as f:
                f.write("".join(f"x {addresses[c]} y\n" for c in codes[i::3]))
            out = os.path.join(folder, f"out{i}.{fmt}")
            with open(out, "w") as f:
                f.write(run("unformatted", "--data-dir", DATA, "--stats", "--format", fmt, shard))
            shards.append(out)
        merged = run("stats", "--data-dir", DATA, "--format", "json", *shards)
        if statistics(merged) != (total, countries):
            failures.append(f"stats of {fmt} shards: {statistics(merged)[0]} rows, "
                            f"{len(statistics(merged)[1])} countries; the whole has {total}, "
                            f"{len(countries)}")

for failure in failures:
    print("FAIL:", failure)
print("ok" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
